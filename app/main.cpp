// tornip: the catalog builder.

#include <clocale>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "app/dry_run.h"
#include "engine/base/engine_version.h"

namespace {

constexpr const char* kUsage =
    "usage: tornip --version\n"
    "       tornip --dry-run --root DIR --catalog DIR\n";

//! The command line of a dry run.
struct DryRunArguments {
  bool dry_run = false;
  std::string root;
  std::string catalog;
};

//! Reads the dry run's options; false on anything else.
bool ParseDryRun(int argc, char** argv, DryRunArguments* args) {
  for (int i = 1; i < argc; ++i) {
    bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--dry-run") == 0) {
      args->dry_run = true;
    } else if (std::strcmp(argv[i], "--root") == 0 && has_value) {
      args->root = argv[++i];
    } else if (std::strcmp(argv[i], "--catalog") == 0 && has_value) {
      args->catalog = argv[++i];
    } else {
      return false;
    }
  }
  return args->dry_run;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("%s\n", vevura::kEngineVersion);
      return 0;
    }
  }
  // Depths in LIC files use the user's decimal separator.
  std::setlocale(LC_NUMERIC, "");
  DryRunArguments args;
  if (!ParseDryRun(argc, argv, &args)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  return vevura::app::RunDryRun(args.root, args.catalog, std::cout, std::cerr);
}
