// The catalog run's walk against the bare cost of its file system work.
//
// Generates a tree of LIC files, each with its image beside it, spread over a
// few hundred folders in the temporary directory, then times in one run:
//   walk      the catalog walk: enumerate, read and parse every LIC file, look
//             its image up, make the list line and the record;
//   baseline  the same enumeration, reading every LIC file's bytes and checking
//             that its image exists, without parsing anything;
//   runs      the whole catalog run of batch mode (the walk, every record
//             appended and posted, the list file saved), three ways:
//             new      into a catalog directory without a table: the run
//                      creates the table and opens it shared, so every post
//                      is written out under the table's write lock;
//             replace  over the table of the previous run: the run proves it
//                      free by opening it exclusively, replaces it and keeps
//                      it exclusive, so the posts are written at close;
//             append   with --keep-old onto that table, opened shared.
// Each is run once to warm the caches and then timed several times, alternating;
// the best time of each is reported with its ratio to the baseline.
//
// Usage: bench_lic_walk [--files N] [--rounds R] [--dir DIR]
// (defaults 100000, 5 and the system's temporary directory; TMPDIR moves it
// too). On a disk that discards freed blocks, removing the tree afterwards can
// take far longer than the measurement: a memory file system avoids that.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "app/batch_run.h"
#include "app/catalog_table.h"
#include "app/lic_walk.h"
#include "bench/remove_tree.h"
#include "components/session_list.h"
#include "components/vevura_table.h"
#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/system.h"

namespace {

using vevura::bench::RemoveTree;

using vevura::app::TCatalogRecord;
using vevura::app::TLicWalk;
using vevura::app::TLicWalkEvents;
namespace platform = vevura::platform;

constexpr int kTopFolders = 20;
constexpr int kFoldersPerTop = 20;

bool WriteFile(const std::string& path, const std::string& text) {
  std::unique_ptr<platform::OsFile> file = platform::Fs().Create(path, platform::OpenOptions());
  return file && file->WriteAt(0, text.data(), static_cast<int64_t>(text.size())) ==
                     static_cast<int64_t>(text.size());
}

//! A LIC file as scanning software writes them: a Windows image path, the
//! well, the group, depth settings and a column of depth/pixel pairs.
std::string LicText(int n, const std::string& image) {
  std::string text = "FILE,\"C:\\SCANS\\" + image + "\"\r\nWELL,42-" + std::to_string(100000 + n) +
                     "-00\r\nGROUP,1,\"GR SP ILD\"\r\nDEPTHTYPE,0\r\nDEPTHUNITS,0\r\n"
                     "SCALE,1,240\r\nCOMPANY,\"Survey Co, Ltd\"\r\n";
  for (int i = 0; i < 12; ++i) {
    text += "DEPPIX," + std::to_string(1000 + i * 250 + n % 100) + ".5," + std::to_string(i * 400) +
            "\r\n";
  }
  return text;
}

//! Creates the tree with files LIC files; false on any failure.
bool GenerateTree(const std::string& root, int files) {
  if (!platform::CreateDirectory(root)) return false;
  int folders = kTopFolders * kFoldersPerTop;
  int made = 0;
  for (int top = 0; top < kTopFolders; ++top) {
    std::string top_dir = root + "/well_" + std::to_string(top);
    if (!platform::CreateDirectory(top_dir)) return false;
    for (int sub = 0; sub < kFoldersPerTop; ++sub) {
      std::string dir = top_dir + "/run_" + std::to_string(sub);
      if (!platform::CreateDirectory(dir)) return false;
      int folder = top * kFoldersPerTop + sub;
      int count = files / folders + (folder < files % folders ? 1 : 0);
      for (int i = 0; i < count; ++i, ++made) {
        std::string stem = "log" + std::to_string(made);
        // Only the image's existence matters; an empty one costs the disk nothing.
        if (!WriteFile(dir + "/" + stem + ".tif", "") ||
            !WriteFile(dir + "/" + stem + ".lic", LicText(made, stem + ".tif"))) {
          return false;
        }
      }
    }
  }
  return made == files;
}

bool IsLicName(const std::string& name) {
  if (name.size() <= 4) return false;
  std::string extension = name.substr(name.size() - 4);
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return extension == ".lic";
}

//! The baseline: enumerate, read each LIC file's bytes, check its image.
struct Baseline {
  std::vector<char> buffer = std::vector<char>(64 * 1024);
  long lics = 0;
  long images = 0;
  long bytes = 0;

  void Walk(const std::string& dir) {
    std::vector<platform::DirEntry> entries;
    if (!platform::ListDirectory(dir, platform::ListOptions(), &entries)) return;
    for (const platform::DirEntry& entry : entries) {
      if (entry.name[0] == '.') continue;
      std::string path = dir + "/" + entry.name;
      if (entry.attributes.is_directory) {
        Walk(path);
      } else if (IsLicName(entry.name)) {
        ReadLic(path);
      }
    }
  }

  void ReadLic(const std::string& path) {
    platform::OpenOptions options;
    options.access = platform::OpenAccess::ReadOnly;
    options.sequential = false;
    std::unique_ptr<platform::OsFile> file = platform::Fs().Open(path, options);
    if (!file) return;
    ++lics;
    for (int64_t pos = 0;;) {
      int64_t count = file->ReadAt(pos, buffer.data(), static_cast<int64_t>(buffer.size()));
      if (count <= 0) break;
      pos += count;
      bytes += count;
    }
    // The image is named like the LIC file; the baseline does not parse to learn it.
    if (platform::FileExists(path.substr(0, path.size() - 4) + ".tif")) ++images;
  }
};

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

//! Times the catalog walk; its number of records.
double TimeWalk(const std::string& root, long* records) {
  std::vector<std::string> lines;
  lines.reserve(200000);
  long added = 0;
  TLicWalkEvents events;
  events.OnAddLine = [&lines](const std::string& line) { lines.push_back(line); };
  events.OnAddRecord = [&added](const TCatalogRecord& record) { added += !record.API.empty(); };
  events.OnProcessMessages = [] {};
  std::string start = platform::CurrentDirectory();
  auto begin = std::chrono::steady_clock::now();
  TLicWalk walk(events, ".");
  walk.SetAddedCount(0);
  walk.SearchForLICS(root);
  auto end = std::chrono::steady_clock::now();
  platform::SetCurrentDirectory(start);
  *records = added;
  return Seconds(end - begin);
}

//! Times the baseline; the number of LIC files whose image it found.
double TimeBaseline(const std::string& root, long* images) {
  auto begin = std::chrono::steady_clock::now();
  Baseline baseline;
  baseline.Walk(root);
  auto end = std::chrono::steady_clock::now();
  *images = baseline.images;
  return Seconds(end - begin);
}

//! Output that goes nowhere (the run's list, as a window would show it).
class TDiscard : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

//! Times a batch-mode run into catalog (appending with keep_old); the
//! number of records of the table afterwards.
double TimeRun(const std::string& root, const std::string& catalog, bool keep_old, long* records) {
  TDiscard discard;
  std::ostream out(&discard);
  std::ostringstream err;
  std::string start = platform::CurrentDirectory();
  auto begin = std::chrono::steady_clock::now();
  const int status = vevura::app::RunBatch(root, catalog, keep_old, out, err, false);
  auto end = std::chrono::steady_clock::now();
  platform::SetCurrentDirectory(start);
  *records = 0;
  if (status != 0) {
    std::fprintf(stderr, "the run failed: %s", err.str().c_str());
    return Seconds(end - begin);
  }
  {
    vevura::TVEVURATable table;
    table.SetTableName(catalog + vevura::app::kCatalogTableName);
    table.Open();
    *records = static_cast<long>(table.RecordCount());
  }
  vevura::Sessions().CloseAll();
  return Seconds(end - begin);
}

}  // namespace

int main(int argc, char** argv) {
  int files = 100000;
  int rounds = 5;
  std::string parent = platform::TempDirectory();
  bool usage_ok = argc % 2 == 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--files") == 0) {
      files = std::atoi(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--rounds") == 0) {
      rounds = std::atoi(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--dir") == 0) {
      parent = platform::IncludeTrailingSlash(argv[i + 1]);
    } else {
      usage_ok = false;
    }
  }
  if (!usage_ok || files <= 0 || rounds <= 0 || !platform::DirectoryExists(parent)) {
    std::fprintf(stderr, "usage: bench_lic_walk [--files N] [--rounds R] [--dir DIR]\n");
    return 2;
  }
  std::string root =
      parent + "tornip_bench_lic_walk_" + std::to_string(platform::CurrentProcessId());
  std::printf("generating %d LIC files and their images in %d folders under %s\n", files,
              kTopFolders * kFoldersPerTop, root.c_str());
  auto generate_begin = std::chrono::steady_clock::now();
  if (!GenerateTree(root, files)) {
    std::fprintf(stderr, "could not generate the tree\n");
    RemoveTree(root);
    return 1;
  }
  std::printf("generated in %.2f s\n", Seconds(std::chrono::steady_clock::now() - generate_begin));

  const std::string catalog = root + "_catalog/";
  if (!platform::CreateDirectory(catalog)) {
    std::fprintf(stderr, "could not make %s\n", catalog.c_str());
    RemoveTree(root);
    return 1;
  }
  long records = 0;
  long images = 0;
  // Warm-up of both, so that the caches hold the tree.
  double first_walk = TimeWalk(root, &records);
  double first_baseline = TimeBaseline(root, &images);
  std::printf("first walk %.2f s, first baseline %.2f s\n", first_walk, first_baseline);
  struct TRunKind {
    const char* name;
    bool keep_old;
    long expected;  //!< records of the table afterwards
    double best = 1e9;
    long records = 0;
  };
  TRunKind runs[] = {
      {"new", false, files}, {"replace", false, files}, {"append", true, 2L * files}};
  double best_walk = 1e9;
  double best_baseline = 1e9;
  for (int round = 0; round < rounds; ++round) {
    double baseline = TimeBaseline(root, &images);
    double walk = TimeWalk(root, &records);
    std::printf("round %d: baseline %.3f s, walk %.3f s", round + 1, baseline, walk);
    best_baseline = std::min(best_baseline, baseline);
    best_walk = std::min(best_walk, walk);
    RemoveTree(catalog);
    if (!platform::CreateDirectory(catalog)) {
      std::fprintf(stderr, "\ncould not make %s\n", catalog.c_str());
      break;
    }
    for (TRunKind& run : runs) {
      double time = TimeRun(root, catalog, run.keep_old, &run.records);
      std::printf(", %s %.3f s", run.name, time);
      run.best = std::min(run.best, time);
    }
    std::printf("\n");
  }
  auto remove_begin = std::chrono::steady_clock::now();
  RemoveTree(root);
  RemoveTree(catalog);
  std::printf("removed in %.2f s\n", Seconds(std::chrono::steady_clock::now() - remove_begin));

  bool complete = records == files && images == files;
  std::printf("raw baseline      : %8.3f s  (%ld images found)\n", best_baseline, images);
  std::printf("walk with parsing : %8.3f s  (%ld records)      %6.3f x baseline (target <= 1.15)\n",
              best_walk, records, best_walk / best_baseline);
  for (const TRunKind& run : runs) {
    complete = complete && run.records == run.expected;
    std::printf("run, %-7s      : %8.3f s  (%ld in the table) %6.3f x baseline (target <= 1.5)\n",
                run.name, run.best, run.records, run.best / best_baseline);
  }
  if (!complete) std::fprintf(stderr, "the walk, the baseline or a run missed files\n");
  return complete ? 0 : 1;
}
