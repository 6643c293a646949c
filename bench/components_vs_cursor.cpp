// The table component against the bare engine cursor, appending the catalog.
//
// Both sides append the same generated rows to a new catalog table
// "LICCATALOG" opened exclusively on its "API" index, each into a table of
// its own in a new directory of the temporary directory:
//   cursor     a TDataCursor: for each row InitRecord into a buffer, the
//              fields set with the field codec, InsertRecord standing on the
//              new record (as the component does);
//   component  a TVEVURATable defined by DefineCatalogTable: for each row
//              Append, the fields set through their field objects, Post;
//              "cached" looks the field objects up once before the loop,
//              "by name" calls FieldByName for every field of every row, as
//              a naive application does.
// RECID is numbered by the engine and Path stays null. A figure is the time
// from opening the table to closing it (its writing out included), without
// creating it and without making the rows, which are made ahead in chunks
// outside the timed part: the wall time, and the processor time of the
// process (user and system), which a busy machine disturbs less. Below
// 200000 rows each side runs three times, alternating, and the best time
// counts; otherwise once. The overhead is the component's time over the
// cursor's, in percent.
//
// Usage: bench_components_vs_cursor [--rows N] [--only cursor|cached|byname]
// (default 1000000 rows; TMPDIR moves the tables). --only runs one side, for
// a profiler.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/catalog_definitions.h"
#include "app/catalog_table.h"
#include "bench/catalog_rows.h"
#include "bench/remove_tree.h"
#include "bench/stopwatch.h"
#include "components/session_list.h"
#include "components/vevura_table.h"
#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/core/engine.h"
#include "engine/core/table_create.h"
#include "engine/storage/fields/field_codec.h"
#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/system.h"

namespace {

using vevura::bench::RemoveTree;

namespace platform = vevura::platform;

constexpr const char* kIndex = "API";
constexpr int64_t kChunk = 10000;
constexpr int64_t kBestOfThreeBelow = 200000;
constexpr uint64_t kSeed = 20240611;

using vevura::bench::TCatalogGenerator;
using vevura::bench::TCatalogValues;

using vevura::bench::TStopwatch;
using vevura::bench::TTiming;

//! The better of two timings, each figure on its own.
TTiming Best(const TTiming& a, const TTiming& b) {
  if (a.Wall < 0) return b;
  return {std::min(a.Wall, b.Wall), std::min(a.Cpu, b.Cpu)};
}

//! Hands out the rows chunk by chunk, making each chunk outside the timed part.
class TRowSource {
 public:
  TRowSource(int64_t rows, TStopwatch& watch) : rows_(rows), watch_(watch) {}
  //! The next chunk; empty after the last row.
  const std::vector<TCatalogValues>& NextChunk() {
    watch_.Stop();
    chunk_.resize(static_cast<size_t>(std::min(kChunk, rows_ - done_)));
    for (TCatalogValues& row : chunk_) generator_.Next(&row);
    done_ += static_cast<int64_t>(chunk_.size());
    watch_.Start();
    return chunk_;
  }

 private:
  int64_t rows_;
  int64_t done_ = 0;
  TStopwatch& watch_;
  TCatalogGenerator generator_{kSeed};
  std::vector<TCatalogValues> chunk_;
};

// ----- Directories -----

//! A new directory below root, ending with "/".
std::string NewDirectory(const std::string& root, const std::string& name) {
  const std::string dir = root + name + "/";
  if (platform::DirectoryExists(dir)) RemoveTree(dir);
  if (!platform::CreateDirectory(dir)) throw std::runtime_error("cannot create " + dir);
  return dir;
}

// ----- The two sides -----

//! The cursor side: rows appended with the engine alone; seconds taken.
[[gnu::noinline]] TTiming CursorAppend(const std::string& dir, int64_t rows) {
  vevura::TDataSession session(false);
  vevura::TDataDirectory* directory = session.OpenDataDirectory("", dir);
  vevura::TTableTarget target;
  target.TableName = vevura::app::kCatalogTableName;
  target.Exclusive = true;
  vevura::CreateTable(*directory, target, vevura::app::CatalogTableDefinition());

  TStopwatch watch;
  watch.Start();
  TRowSource source(rows, watch);
  vevura::TDataCursor cursor(*directory);
  cursor.SetTableName(vevura::app::kCatalogTableName);
  cursor.SetExclusive(true);
  cursor.OpenCursor();
  cursor.SwitchToIndex(kIndex);
  const std::vector<vevura::TFieldDescriptor>& f = cursor.Fields();
  const uint32_t lcid = cursor.TableLcid();
  std::vector<uint8_t> buffer(cursor.RecordSize());
  for (;;) {
    const std::vector<TCatalogValues>& chunk = source.NextChunk();
    if (chunk.empty()) break;
    for (const TCatalogValues& row : chunk) {
      cursor.InitRecord(buffer);
      vevura::SetStringField(buffer, f[1], row.Api, lcid);
      vevura::SetFloatField(buffer, f[2], row.Tli);
      vevura::SetFloatField(buffer, f[3], row.Bli);
      vevura::SetStringField(buffer, f[4], row.Measure, lcid);
      vevura::SetStringField(buffer, f[5], row.IndexUom, lcid);
      vevura::SetStringField(buffer, f[6], row.LogMnems, lcid);
      vevura::SetStringField(buffer, f[7], row.TiffFileName, lcid);
      vevura::SetStringField(buffer, f[8], row.LicFileName, lcid);
      cursor.InsertRecord(buffer, true);
    }
  }
  const int64_t count = cursor.GetRecordCount();
  cursor.CloseCursor(false);
  watch.Stop();
  session.CloseDataDirectory(directory);
  if (count != rows) throw std::runtime_error("the cursor's table has the wrong row count");
  return watch.Timing();
}

//! The component side; by_name looks every field up for every row.
[[gnu::noinline]] TTiming ComponentAppend(const std::string& dir, int64_t rows, bool by_name) {
  vevura::TVEVURATable table;
  table.SetTableName(dir + vevura::app::kCatalogTableName);
  vevura::app::DefineCatalogTable(table);
  table.CreateTable();
  table.SetExclusive(true);
  table.SetIndexName(kIndex);

  TStopwatch watch;
  watch.Start();
  TRowSource source(rows, watch);
  table.Open();
  vevura::TField* api = table.FieldByName("API");
  vevura::TField* tli = table.FieldByName("TLI");
  vevura::TField* bli = table.FieldByName("BLI");
  vevura::TField* measure = table.FieldByName("Measure");
  vevura::TField* uom = table.FieldByName("IndexUOM");
  vevura::TField* mnems = table.FieldByName("LogMnems");
  vevura::TField* tiff = table.FieldByName("TIFF_Filename");
  vevura::TField* lic = table.FieldByName("LIC_Filename");
  for (;;) {
    const std::vector<TCatalogValues>& chunk = source.NextChunk();
    if (chunk.empty()) break;
    if (by_name) {
      for (const TCatalogValues& row : chunk) {
        table.Append();
        table.FieldByName("API")->SetAsString(row.Api);
        table.FieldByName("TLI")->SetAsFloat(row.Tli);
        table.FieldByName("BLI")->SetAsFloat(row.Bli);
        table.FieldByName("Measure")->SetAsString(row.Measure);
        table.FieldByName("IndexUOM")->SetAsString(row.IndexUom);
        table.FieldByName("LogMnems")->SetAsString(row.LogMnems);
        table.FieldByName("TIFF_Filename")->SetAsString(row.TiffFileName);
        table.FieldByName("LIC_Filename")->SetAsString(row.LicFileName);
        table.Post();
      }
    } else {
      for (const TCatalogValues& row : chunk) {
        table.Append();
        api->SetAsString(row.Api);
        tli->SetAsFloat(row.Tli);
        bli->SetAsFloat(row.Bli);
        measure->SetAsString(row.Measure);
        uom->SetAsString(row.IndexUom);
        mnems->SetAsString(row.LogMnems);
        tiff->SetAsString(row.TiffFileName);
        lic->SetAsString(row.LicFileName);
        table.Post();
      }
    }
  }
  const int64_t count = table.RecordCount();
  table.Close();
  watch.Stop();
  if (count != rows) throw std::runtime_error("the component's table has the wrong row count");
  return watch.Timing();
}

// ----- The run -----

struct TOptions {
  int64_t Rows = 1000000;
  bool Cursor = true;
  bool Cached = true;
  bool ByName = true;
};

bool ParseOptions(int argc, char** argv, TOptions* options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const std::string value = argv[i + 1];
    if (flag == "--rows") {
      char* end = nullptr;
      const long long rows = std::strtoll(value.c_str(), &end, 10);
      if (end == value.c_str() || *end != '\0' || rows < 1) return false;
      options->Rows = rows;
    } else if (flag == "--only" && (value == "cursor" || value == "cached" || value == "byname")) {
      options->Cursor = value == "cursor";
      options->Cached = value == "cached";
      options->ByName = value == "byname";
    } else {
      return false;
    }
  }
  return argc % 2 == 1;
}

void PrintLine(const char* name, int64_t rows, const TTiming& t) {
  const auto n = static_cast<double>(rows);
  std::printf("%-26s %9lld rows  wall %8.3f s %9.0f rows/s  cpu %8.3f s %9.0f rows/s\n", name,
              static_cast<long long>(rows), t.Wall, n / t.Wall, t.Cpu, n / t.Cpu);
}

void PrintOverhead(const char* name, const TTiming& component, const TTiming& cursor) {
  std::printf("%-26s wall %+.1f %%, cpu %+.1f %%\n", name, (component.Wall / cursor.Wall - 1) * 100,
              (component.Cpu / cursor.Cpu - 1) * 100);
}

int Run(const TOptions& options) {
  const std::string root = platform::IncludeTrailingSlash(platform::TempDirectory()) +
                           "components_vs_cursor_" + std::to_string(platform::CurrentProcessId()) +
                           "/";
  if (!platform::DirectoryExists(root) && !platform::CreateDirectory(root)) {
    throw std::runtime_error("cannot create " + root);
  }
  const int runs = options.Rows < kBestOfThreeBelow ? 3 : 1;
  std::printf("%lld rows appended to %s on index \"%s\", exclusive; best of %d; tables in %s\n",
              static_cast<long long>(options.Rows), vevura::app::kCatalogTableName, kIndex, runs,
              root.c_str());
  vevura::StartEngine();
  TTiming cursor, cached, by_name;
  for (int run = 0; run < runs; ++run) {
    if (options.Cursor) {
      const std::string dir = NewDirectory(root, "cursor");
      cursor = Best(cursor, CursorAppend(dir, options.Rows));
      RemoveTree(dir);
    }
    if (options.Cached) {
      const std::string dir = NewDirectory(root, "cached");
      cached = Best(cached, ComponentAppend(dir, options.Rows, false));
      RemoveTree(dir);
    }
    if (options.ByName) {
      const std::string dir = NewDirectory(root, "byname");
      by_name = Best(by_name, ComponentAppend(dir, options.Rows, true));
      RemoveTree(dir);
    }
  }
  vevura::Sessions().CloseAll();
  vevura::StopEngine();
  platform::RemoveDirectory(root);

  if (options.Cursor) PrintLine("cursor", options.Rows, cursor);
  if (options.Cached) PrintLine("component, cached fields", options.Rows, cached);
  if (options.ByName) PrintLine("component, FieldByName", options.Rows, by_name);
  if (options.Cursor && options.Cached) PrintOverhead("overhead, cached fields", cached, cursor);
  if (options.Cursor && options.ByName) PrintOverhead("overhead, FieldByName", by_name, cursor);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: bench_components_vs_cursor [--rows N] [--only cursor|cached|byname]\n");
    return 1;
  }
  try {
    return Run(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_components_vs_cursor: %s\n", error.what());
    vevura::Sessions().CloseAll();
    return 2;
  }
}
