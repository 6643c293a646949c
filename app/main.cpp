// tornip: the catalog builder.

#include <clocale>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "app/batch_run.h"
#include "app/dry_run.h"
#include "app/window/tornip_application.h"
#include "components/session_list.h"
#include "engine/base/engine_version.h"
#include "platform/system.h"

namespace {

constexpr const char* kUsage =
    "usage: tornip                                        open the window\n"
    "       tornip --root DIR --catalog DIR [--keep-old]  build the catalog without a window\n"
    "       tornip --dry-run --root DIR --catalog DIR     walk and list, write nothing\n"
    "       tornip --version | --help\n";

constexpr const char* kHelp =
    "tornip catalogs the LIC files of a tree of scanned well-log images into the\n"
    "table LICCATALOG of a catalog directory, and saves the run's list there as\n"
    "Tornip.txt.\n"
    "\n"
    "Without arguments it opens its window. With --root and --catalog it runs\n"
    "without a window: the list goes to standard output, messages to standard\n"
    "error, and the exit status is 0 after a complete run. The old catalog is\n"
    "cleared unless --keep-old is given, which appends to it instead.\n"
    "\n";

struct Arguments {
  bool dry_run = false;
  bool keep_old = false;
  bool help = false;
  bool version = false;
  std::string root;
  std::string catalog;
  bool has_root = false;
  bool has_catalog = false;
};

//! Reads the command line; false on anything it does not know.
bool Parse(int argc, char** argv, Arguments* args) {
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--dry-run") == 0) {
      args->dry_run = true;
    } else if (std::strcmp(argv[i], "--keep-old") == 0) {
      args->keep_old = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      args->help = true;
    } else if (std::strcmp(argv[i], "--version") == 0) {
      args->version = true;
    } else if (std::strcmp(argv[i], "--root") == 0 && has_value) {
      args->root = argv[++i];
      args->has_root = true;
    } else if (std::strcmp(argv[i], "--catalog") == 0 && has_value) {
      args->catalog = argv[++i];
      args->has_catalog = true;
    } else {
      return false;
    }
  }
  return true;
}

bool HasDisplay() {
  using vevura::platform::EnvironmentVariable;
  return !EnvironmentVariable("DISPLAY").empty() ||
         !EnvironmentVariable("WAYLAND_DISPLAY").empty() ||
         !EnvironmentVariable("QT_QPA_PLATFORM").empty();
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  if (!Parse(argc, argv, &args)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (args.help) {
    std::fputs(kHelp, stdout);
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args.version) {
    std::printf("%s\n", vevura::kEngineVersion);
    return 0;
  }
  // Depths in LIC files use the user's decimal separator.
  std::setlocale(LC_NUMERIC, "");
  if (args.has_root || args.has_catalog || args.dry_run) {
    if (!args.has_root || !args.has_catalog || (args.dry_run && args.keep_old)) {
      std::fputs(kUsage, stderr);
      return 2;
    }
    if (args.dry_run) return vevura::app::RunDryRun(args.root, args.catalog, std::cout, std::cerr);
    const int status =
        vevura::app::RunBatch(args.root, args.catalog, args.keep_old, std::cout, std::cerr,
                              vevura::platform::StandardErrorIsTerminal());
    vevura::Sessions().CloseAll();
    return status;
  }
  if (args.keep_old) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (!HasDisplay()) {
    std::fputs(
        "tornip: the window needs a display; without one, use batch mode:\n"
        "  tornip --root DIR --catalog DIR [--keep-old]\n",
        stderr);
    return 2;
  }
  return vevura::app::RunWindow(argc, argv);
}
