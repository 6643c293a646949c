// tornip: the catalog builder.

#include <cstdio>
#include <cstring>

#include "engine/core/engine_error.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("%s\n", vevura::kEngineVersion);
      return 0;
    }
  }
  std::fprintf(stderr, "usage: tornip --version\n");
  return 2;
}
