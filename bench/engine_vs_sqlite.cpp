// The engine against SQLite on the catalog table, in one process.
//
// Both engines get the same table (ten fields, the auto-increment primary key
// "RECID" and the case-insensitive, non-unique index "API") and the same
// generated records: API numbers and well names, log groups, depth types and
// units, top and bottom depths, image and LIC file paths. Timed, first the
// engine and then SQLite on each line:
//   exclusive append  N records into a table opened for one user (engine: a
//                     cursor opened exclusively, written out when it closes;
//                     SQLite: one transaction, synchronous=OFF and
//                     journal_mode=OFF);
//   shared append     N records into a shared table, each post written out
//                     (SQLite: autocommit, synchronous=OFF, journal_mode=WAL);
//   lookups           the first record of a well found by its API value,
//                     given in upper or lower case, and every field read
//                     (engine: a shared cursor on the "API" index; SQLite: a
//                     prepared SELECT on its index, default locking);
//   scan              every record of the exclusive table in API order, every
//                     field read;
//   indexed filter    the wells of the "Smith Ranch" lease, in either case
//                     (about 1% of the records): counted, then walked in API
//                     order with every field read (engine: a cursor on the
//                     "API" index with the expression filter
//                     API = 'smith ranch 1-1' OR API = 'smith ranch 1-2' OR ...
//                     (one equality per well name, "1-1" to "40-9") compiled
//                     without case, answered from the index; SQLite: a
//                     prepared COUNT(*) and SELECT with the same condition on
//                     its case-insensitive index);
//   unindexed filter  the records with a top depth below 250 (about 3%):
//                     counted, then walked in RECID order with every field
//                     read (engine: the filter TLI < 250 on the primary index,
//                     evaluated record by record; SQLite: full scans).
// Neither engine syncs to disk. A figure is the wall-clock time from opening
// the table to closing it (writing it out), without the making of the
// records. The reads are checked: every lookup must find a record of its
// well, the scan must see every record in API order, a filter must count
// and walk the records of the generated values that meet its condition, in
// its order, each meeting it (and the engine must answer it at the expected
// optimization level), and both engines must give the same checksum over
// the values they read (the same records in the same order).
//
// Usage: bench_engine_vs_sqlite [--n-exclusive N] [--n-shared N] [--lookups N]
//                               [--keep DIR] [--only engine|sqlite]
//                               [--engine-buffers-kb K] [--cache-kb K]
// Defaults 1000000, 100000 and 100000. The tables go into a new directory in
// the system's temporary directory (TMPDIR moves it), removed at the end;
// --keep leaves them in DIR (created when missing) for inspection. --only
// runs one engine, for a profiler. Both engines cache about the same amount:
// SQLite keeps its default page cache of 2000 KiB per connection, and the
// engine's session gets 1000 KiB of record buffers per table and 1000 KiB of
// page buffers shared by the table's three B-trees (primary, "API", record
// slots). --cache-kb K gives both engines K KiB instead of 2000 (SQLite's
// cache_size, split the same way for the engine). --engine-buffers-kb K
// gives the engine K KiB of record buffers per table and K KiB of page
// buffers per index instead (0: the session's defaults). The last line is
// the process's peak resident set: with --only, that engine's.

#include <sqlite3.h>
#include <sys/resource.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/catalog_table.h"
#include "bench/catalog_rows.h"
#include "bench/remove_tree.h"
#include "bench/stopwatch.h"
#include "engine/base/engine_version.h"
#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/core/engine.h"
#include "engine/core/table_create.h"
#include "engine/core/table_definition.h"
#include "engine/storage/fields/field_codec.h"
#include "engine/storage/fields/field_types.h"
#include "engine/storage/index/index_header.h"
#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/system.h"

namespace {

using vevura::bench::RemoveTree;

namespace platform = vevura::platform;

constexpr const char* kExclusiveTable = "LICCATALOG";
constexpr const char* kSharedTable = "LICSHARED";
constexpr const char* kSqliteExtension = ".sqlite";
//! Records made at a time, outside the timed part.
constexpr int64_t kChunk = 10000;
constexpr uint64_t kSeed = 20240611;
//! Locale of the table's strings: none (byte order, English (USA) case rules).
constexpr uint32_t kLcid = 0;

// ----- Options -----

struct TOptions {
  int64_t ExclusiveRecords = 1000000;
  int64_t SharedRecords = 100000;
  int64_t Lookups = 100000;
  std::string KeepDir;           //!< "" for a temporary directory
  int64_t EngineBuffersKb = -1;  //!< -1: matched to SQLite's cache; 0: the session's defaults
  int64_t CacheKb = 2000;        //!< SQLite's cache, and the engine's when matched
  bool RunEngine = true;
  bool RunSqlite = true;
};

bool ParseCount(const char* text, int64_t* count) {
  char* end = nullptr;
  long long value = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || value < 0) return false;
  *count = value;
  return true;
}

bool ParseOptions(int argc, char** argv, TOptions* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    if (flag == "--n-exclusive") {
      if (!ParseCount(value, &options->ExclusiveRecords)) return false;
    } else if (flag == "--n-shared") {
      if (!ParseCount(value, &options->SharedRecords)) return false;
    } else if (flag == "--lookups") {
      if (!ParseCount(value, &options->Lookups)) return false;
    } else if (flag == "--engine-buffers-kb") {
      if (!ParseCount(value, &options->EngineBuffersKb) || options->EngineBuffersKb > 1048576) {
        return false;
      }
    } else if (flag == "--cache-kb") {
      if (!ParseCount(value, &options->CacheKb) || options->CacheKb < 64 ||
          options->CacheKb > 4194304) {
        return false;
      }
    } else if (flag == "--keep") {
      options->KeepDir = value;
    } else if (flag == "--only" && std::string(value) == "engine") {
      options->RunSqlite = false;
    } else if (flag == "--only" && std::string(value) == "sqlite") {
      options->RunEngine = false;
    } else {
      return false;
    }
  }
  return true;
}

using vevura::bench::TCatalogGenerator;
using vevura::bench::TCatalogValues;
using vevura::bench::TRandom;

//! The next count records of generator into chunk.
void FillChunk(TCatalogGenerator& generator, int64_t count, std::vector<TCatalogValues>* chunk) {
  chunk->resize(static_cast<size_t>(count));
  for (TCatalogValues& values : *chunk) generator.Next(&values);
}

//! API values of lookups: records of the first n picked at random, each
//! spelled in upper or lower case (both engines compare without case).
std::vector<std::string> MakeProbes(int64_t records, int64_t lookups) {
  std::vector<std::string> apis;
  apis.reserve(static_cast<size_t>(records));
  TCatalogGenerator generator(kSeed);
  TCatalogValues values;
  for (int64_t i = 0; i < records; ++i) {
    generator.Next(&values);
    apis.push_back(values.Api);
  }
  std::vector<std::string> probes;
  if (apis.empty()) return probes;
  TRandom random(kSeed + 1);
  for (int64_t i = 0; i < lookups; ++i) {
    std::string api = apis[random.Next() % apis.size()];
    const bool upper = random.Below(2) == 0;
    for (char& ch : api) {
      const auto c = static_cast<unsigned char>(ch);
      ch = static_cast<char>(upper ? std::toupper(c) : std::tolower(c));
    }
    probes.push_back(std::move(api));
  }
  return probes;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// ----- Measuring and checking -----

//! Below 0, 0 or above 0 as a sorts before, with or after b without regard
//! to case.
int CompareIgnoringCase(std::string_view a, std::string_view b) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const int ca = std::toupper(static_cast<unsigned char>(a[i]));
    const int cb = std::toupper(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca - cb;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

//! b sorts before a without regard to case.
bool OutOfOrder(const std::string& a, const std::string& b) {
  return CompareIgnoringCase(b, a) < 0;
}

//! A filter line: one condition, the same text for both engines, whose
//! records are counted and then walked.
struct TFilterQuery {
  const char* Name;
  std::string Condition;  //!< the engine's filter text and SQLite's WHERE clause
  bool ApiOrder;          //!< walked in API order, else in RECID order
  int Level;              //!< the optimization level the engine must give it
  //! The condition over the values of a record.
  bool (*Passes)(std::string_view api, double tli);
};

//! The lease whose wells the indexed filter selects, and its well names
//! "1-1" to "40-9": the API values "smith ranch 1-1" to "smith ranch 40-9",
//! which the generator spells in mixed or upper case.
constexpr std::string_view kSmithRanch = "smith ranch ";
std::set<std::string, std::less<>> SmithRanchWells() {
  std::set<std::string, std::less<>> wells;
  for (int well = 1; well <= 40; ++well) {
    for (int number = 1; number <= 9; ++number) {
      wells.insert(std::to_string(well) + "-" + std::to_string(number));
    }
  }
  return wells;
}

bool SmithRanchWell(std::string_view api, double) {
  static const std::set<std::string, std::less<>> wells = SmithRanchWells();
  return api.size() > kSmithRanch.size() &&
         CompareIgnoringCase(api.substr(0, kSmithRanch.size()), kSmithRanch) == 0 &&
         wells.find(api.substr(kSmithRanch.size())) != wells.end();
}

bool ShallowTop(std::string_view, double tli) {
  return tli < 250;
}

//! The filter lines. Indexed: the "Smith Ranch" wells, about 1% of the
//! records, one equality per well name, compared without case, so that the
//! case-insensitive "API" index answers each (the engine compares an
//! ordering or an IN list with case, which that index cannot answer).
//! Unindexed: top depths below 250 of the 0 to 7999.5 generated, about 3%
//! of the records.
std::vector<TFilterQuery> FilterQueries() {
  std::string smith_ranch;
  for (const std::string& well : SmithRanchWells()) {
    if (!smith_ranch.empty()) smith_ranch += " OR ";
    smith_ranch += "API = '" + std::string(kSmithRanch) + well + "'";
  }
  return {{"indexed filter 1%", smith_ranch, true, vevura::kFilterFullyOptimized, SmithRanchWell},
          {"unindexed filter", "TLI < 250", false, vevura::kFilterNotOptimized, ShallowTop}};
}

//! The records of the first n generated from kSeed that meet the query's condition.
int64_t CountPassing(int64_t records, const TFilterQuery& query) {
  TCatalogGenerator generator(kSeed);
  TCatalogValues values;
  int64_t count = 0;
  for (int64_t i = 0; i < records; ++i) {
    generator.Next(&values);
    if (query.Passes(values.Api, values.Tli)) ++count;
  }
  return count;
}

//! Checks that the records a filter walk sees come in the query's order.
class TOrderCheck {
 public:
  explicit TOrderCheck(bool api_order) : api_order_(api_order) {}
  //! The record with api and recid follows the one before.
  bool Follows(std::string_view api, int64_t recid) {
    bool follows = true;
    if (api_order_) {
      const int order = CompareIgnoringCase(previous_api_, api);
      follows = order < 0 || (order == 0 && previous_recid_ < recid);
      previous_api_.assign(api);
    } else {
      follows = previous_recid_ < recid;
    }
    previous_recid_ = recid;
    return follows;
  }

 private:
  bool api_order_;
  std::string previous_api_;
  int64_t previous_recid_ = 0;
};

using vevura::bench::TStopwatch;
using vevura::bench::TTiming;

//! An order-dependent hash of the values read, eight bytes at a time.
class TChecksum {
 public:
  void AddInteger(int64_t value) { Mix(static_cast<uint64_t>(value)); }
  void AddReal(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    Mix(bits);
  }
  //! A string; null and empty are the same.
  void AddText(const char* text, size_t length) {
    Mix(length);
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
      uint64_t word;
      std::memcpy(&word, text + i, sizeof word);
      Mix(word);
    }
    uint64_t tail = 0;
    std::memcpy(&tail, text + i, length - i);
    Mix(tail);
  }
  void AddText(const std::string& text) { AddText(text.data(), text.size()); }
  uint64_t Value() const { return value_; }

 private:
  void Mix(uint64_t word) {
    value_ = (value_ ^ word) * 0x9E3779B97F4A7C15ull;
    value_ ^= value_ >> 29;
  }
  uint64_t value_ = 0xCBF29CE484222325ull;
};

//! What a reading run found.
struct TReadResult {
  TTiming Time;
  int64_t Rows = 0;       //!< records read
  int64_t Failures = 0;   //!< lookups that missed, or records out of order or not passing
  uint64_t Checksum = 0;  //!< over every value read
  int64_t Counted = -1;   //!< a filter's count before the walk; -1 for other reads
  int Level = -1;         //!< the engine's optimization level of a filter
};

// ----- The engine -----

using vevura::TDataCursor;
using vevura::TFieldDescriptor;
using vevura::TIndexDescriptor;
using vevura::TTableDefinition;

//! The catalog table as the catalog builder defines it, replacing any old one.
TTableDefinition CatalogDefinition() {
  TTableDefinition d = vevura::app::CatalogTableDefinition();
  d.Overwrite = true;
  return d;
}

//! The catalog's fields in an open cursor, in table order.
struct TCatalogFields {
  explicit TCatalogFields(const TDataCursor& cursor) {
    const std::vector<TFieldDescriptor>& fields = cursor.Fields();
    if (fields.size() != 10) throw std::runtime_error("the catalog table has not ten fields");
    for (size_t i = 0; i < 10; ++i) All[i] = &fields[i];
  }
  const TFieldDescriptor& RecId() const { return *All[0]; }
  const TFieldDescriptor& Api() const { return *All[1]; }
  const TFieldDescriptor* All[10];
};

void PutValues(vevura::TRecordImage record, const TCatalogFields& f, const TCatalogValues& v) {
  vevura::SetStringField(record, f.Api(), v.Api, kLcid);
  vevura::SetFloatField(record, *f.All[2], v.Tli);
  vevura::SetFloatField(record, *f.All[3], v.Bli);
  vevura::SetStringField(record, *f.All[4], v.Measure, kLcid);
  vevura::SetStringField(record, *f.All[5], v.IndexUom, kLcid);
  vevura::SetStringField(record, *f.All[6], v.LogMnems, kLcid);
  vevura::SetStringField(record, *f.All[7], v.TiffFileName, kLcid);
  vevura::SetStringField(record, *f.All[8], v.LicFileName, kLcid);
}

//! Reads every field of record into sum; returns its API value.
std::string ReadValues(vevura::TConstRecordImage record, const TCatalogFields& f, TChecksum& sum) {
  sum.AddInteger(vevura::GetIntegerField(record, f.RecId()));
  std::string api = vevura::GetStringField(record, f.Api());
  sum.AddText(api);
  sum.AddReal(vevura::GetFloatField(record, *f.All[2]));
  sum.AddReal(vevura::GetFloatField(record, *f.All[3]));
  for (size_t i = 4; i < 10; ++i) sum.AddText(vevura::GetStringField(record, *f.All[i]));
  return api;
}

// The timed operations of both sides stay out of line, so that a profile
// tells them apart.

class TEngineSide {
 public:
  //! Tables in dir; buffers_kb KiB of record buffers per table and of page
  //! buffers per index, the session's defaults for 0, or for -1 SQLite's
  //! cache of cache_kb KiB split between records and the three B-trees.
  TEngineSide(const std::string& dir, int64_t buffers_kb, int64_t cache_kb) {
    if (buffers_kb < 0) {
      session_.SetDataBufferSize(static_cast<int32_t>(cache_kb / 2 * 1024));
      session_.SetIndexBufferSize(static_cast<int32_t>(cache_kb / 2 / 3 * 1024));
    } else if (buffers_kb > 0) {
      const auto bytes = static_cast<int32_t>(buffers_kb * 1024);
      session_.SetDataBufferSize(bytes);
      session_.SetIndexBufferSize(bytes);
    }
    directory_ = session_.OpenDataDirectory("", dir);
  }

  //! What the session's buffers are, for the report.
  std::string Buffers() const {
    return std::to_string(session_.DataBufferSize() / 1024) + " KiB of records per table, " +
           std::to_string(session_.IndexBufferSize() / 1024) + " KiB of pages per index";
  }

  void CreateCatalog(const std::string& table) {
    vevura::TTableTarget target;
    target.TableName = table;
    target.Exclusive = true;
    vevura::CreateTable(*directory_, target, CatalogDefinition());
  }

  //! Appends records generated from kSeed; exclusive: one user, written out
  //! at the close; otherwise every post written out.
  [[gnu::noinline]] TTiming Append(const std::string& table, int64_t records, bool exclusive) {
    TCatalogGenerator generator(kSeed);
    std::vector<TCatalogValues> chunk;
    TStopwatch watch;
    watch.Start();
    TDataCursor cursor(*directory_);
    cursor.SetTableName(table);
    cursor.SetExclusive(exclusive);
    cursor.OpenCursor();
    const TCatalogFields fields(cursor);
    std::vector<uint8_t> buffer(cursor.RecordSize());
    for (int64_t done = 0; done < records; done += kChunk) {
      watch.Stop();
      FillChunk(generator, std::min(kChunk, records - done), &chunk);
      watch.Start();
      for (const TCatalogValues& values : chunk) {
        cursor.InitRecord(buffer);
        PutValues(buffer, fields, values);
        cursor.InsertRecord(buffer, false);
      }
    }
    cursor.CloseCursor(false);
    watch.Stop();
    return watch.Timing();
  }

  [[gnu::noinline]] TReadResult Lookups(const std::string& table,
                                        const std::vector<std::string>& probes) {
    TReadResult result;
    TStopwatch watch;
    watch.Start();
    TDataCursor cursor(*directory_);
    cursor.SetTableName(table);
    cursor.OpenCursor();
    cursor.SwitchToIndex("API");
    const TCatalogFields fields(cursor);
    std::vector<uint8_t> key(cursor.RecordSize());
    std::vector<uint8_t> buffer(cursor.RecordSize());
    TChecksum sum;
    for (const std::string& probe : probes) {
      cursor.InitRecord(key);
      vevura::SetStringField(key, fields.Api(), probe, kLcid);
      const bool found = cursor.FindKey(key, false, 1, 0, false, buffer);
      if (found && SameIgnoringCase(ReadValues(buffer, fields, sum), probe)) {
        ++result.Rows;
      } else {
        ++result.Failures;
      }
    }
    cursor.CloseCursor(false);
    watch.Stop();
    result.Time = watch.Timing();
    result.Checksum = sum.Value();
    return result;
  }

  [[gnu::noinline]] TReadResult Scan(const std::string& table) {
    TReadResult result;
    TStopwatch watch;
    watch.Start();
    TDataCursor cursor(*directory_);
    cursor.SetTableName(table);
    cursor.OpenCursor();
    cursor.SwitchToIndex("API");
    const TCatalogFields fields(cursor);
    std::vector<uint8_t> buffer(cursor.RecordSize());
    TChecksum sum;
    std::string previous;
    cursor.First();
    while (cursor.Next(buffer) == vevura::kCursorOnRecord) {
      std::string api = ReadValues(buffer, fields, sum);
      if (OutOfOrder(previous, api)) ++result.Failures;
      previous = std::move(api);
      ++result.Rows;
    }
    cursor.CloseCursor(false);
    watch.Stop();
    result.Time = watch.Timing();
    result.Checksum = sum.Value();
    return result;
  }

  //! The query's records through an expression filter compiled without
  //! case: counted, then walked.
  [[gnu::noinline]] TReadResult Filter(const std::string& table, const TFilterQuery& query) {
    TReadResult result;
    TStopwatch watch;
    watch.Start();
    TDataCursor cursor(*directory_);
    cursor.SetTableName(table);
    cursor.OpenCursor();
    if (query.ApiOrder) cursor.SwitchToIndex("API");
    vevura::TFilterSettings settings;
    settings.IgnoreCase = true;
    vevura::TFilter* filter = cursor.AddFilter(query.Condition, settings);
    cursor.ActivateFilter(filter);
    result.Level = cursor.GetFilterOptimizeLevel(filter);
    result.Counted = cursor.GetRecordCount();
    const TCatalogFields fields(cursor);
    std::vector<uint8_t> buffer(cursor.RecordSize());
    TChecksum sum;
    TOrderCheck order(query.ApiOrder);
    cursor.First();
    while (cursor.Next(buffer) == vevura::kCursorOnRecord) {
      const std::string api = ReadValues(buffer, fields, sum);
      const bool passes = query.Passes(api, vevura::GetFloatField(buffer, *fields.All[2]));
      if (!passes || !order.Follows(api, vevura::GetIntegerField(buffer, fields.RecId()))) {
        ++result.Failures;
      }
      ++result.Rows;
    }
    cursor.CloseCursor(false);
    watch.Stop();
    result.Time = watch.Timing();
    result.Checksum = sum.Value();
    return result;
  }

 private:
  vevura::TDataSession session_;
  vevura::TDataDirectory* directory_ = nullptr;
};

// ----- SQLite -----

struct TSqliteClose {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct TSqliteFinalize {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using TSqliteDb = std::unique_ptr<sqlite3, TSqliteClose>;
using TSqliteStatement = std::unique_ptr<sqlite3_stmt, TSqliteFinalize>;

[[noreturn]] void RaiseSqlite(sqlite3* db, const std::string& what) {
  throw std::runtime_error("SQLite: " + what + ": " + sqlite3_errmsg(db));
}

void Exec(sqlite3* db, const std::string& sql) {
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) RaiseSqlite(db, sql);
}

//! A connection to path with a page cache of cache_kb KiB.
TSqliteDb OpenSqlite(const std::string& path, int64_t cache_kb) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open(path.c_str(), &db);
  TSqliteDb owned(db);
  if (rc != SQLITE_OK) RaiseSqlite(db, "open " + path);
  Exec(db, "PRAGMA cache_size=-" + std::to_string(cache_kb));
  return owned;
}

TSqliteStatement Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    RaiseSqlite(db, sql);
  }
  return TSqliteStatement(statement);
}

constexpr const char* kSqliteLookup =
    "SELECT RECID, API, TLI, BLI, Measure, IndexUOM, LogMnems, TIFF_Filename, LIC_Filename, Path "
    "FROM LICCATALOG WHERE API = ?1 ORDER BY API, RECID LIMIT 1";
constexpr const char* kSqliteScan =
    "SELECT RECID, API, TLI, BLI, Measure, IndexUOM, LogMnems, TIFF_Filename, LIC_Filename, Path "
    "FROM LICCATALOG ORDER BY API, RECID";

//! The records of a filter line, in its order.
std::string SqliteFilterSelect(const TFilterQuery& query) {
  return std::string(
             "SELECT RECID, API, TLI, BLI, Measure, IndexUOM, LogMnems, TIFF_Filename, "
             "LIC_Filename, Path FROM LICCATALOG WHERE ") +
         query.Condition + (query.ApiOrder ? " ORDER BY API, RECID" : " ORDER BY RECID");
}

std::string SqliteFilterCount(const TFilterQuery& query) {
  return std::string("SELECT COUNT(*) FROM LICCATALOG WHERE ") + query.Condition;
}

//! The text of column i; null reads as empty.
std::string_view ColumnText(sqlite3_stmt* statement, int i) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
  if (text == nullptr) return {};
  return std::string_view(text, static_cast<size_t>(sqlite3_column_bytes(statement, i)));
}

//! Reads every column of the current row into sum; returns its API value.
std::string_view ReadRow(sqlite3_stmt* statement, TChecksum& sum) {
  sum.AddInteger(sqlite3_column_int64(statement, 0));
  const std::string_view api = ColumnText(statement, 1);
  sum.AddText(api.data(), api.size());
  sum.AddReal(sqlite3_column_double(statement, 2));
  sum.AddReal(sqlite3_column_double(statement, 3));
  for (int i = 4; i < 10; ++i) {
    const std::string_view text = ColumnText(statement, i);
    sum.AddText(text.data(), text.size());
  }
  return api;
}

//! Binds text as parameter i, or null when empty (the engine stores an
//! empty string as null).
void BindText(sqlite3_stmt* statement, int i, const std::string& text) {
  if (text.empty()) {
    sqlite3_bind_null(statement, i);
  } else {
    sqlite3_bind_text(statement, i, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
  }
}

void BindValues(sqlite3_stmt* statement, const TCatalogValues& v) {
  BindText(statement, 1, v.Api);
  sqlite3_bind_double(statement, 2, v.Tli);
  sqlite3_bind_double(statement, 3, v.Bli);
  BindText(statement, 4, v.Measure);
  BindText(statement, 5, v.IndexUom);
  BindText(statement, 6, v.LogMnems);
  BindText(statement, 7, v.TiffFileName);
  BindText(statement, 8, v.LicFileName);
}

class TSqliteSide {
 public:
  TSqliteSide(std::string dir, int64_t cache_kb) : dir_(std::move(dir)), cache_kb_(cache_kb) {}

  std::string PathOf(const std::string& table) const { return dir_ + table + kSqliteExtension; }

  //! The catalog table and its "API" index in a new database file;
  //! shared: in WAL mode.
  void CreateCatalog(const std::string& table, bool shared) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
      platform::Fs().Remove(PathOf(table) + suffix);
    }
    TSqliteDb db = OpenSqlite(PathOf(table), cache_kb_);
    if (shared) Exec(db.get(), "PRAGMA journal_mode=WAL");
    Exec(db.get(),
         "CREATE TABLE LICCATALOG (RECID INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "
         "API VARCHAR(18) COLLATE NOCASE, TLI DOUBLE, BLI DOUBLE, Measure VARCHAR(10), "
         "IndexUOM VARCHAR(10), LogMnems VARCHAR(50), TIFF_Filename VARCHAR(250), "
         "LIC_Filename VARCHAR(250), Path VARCHAR(250))");
    Exec(db.get(), "CREATE INDEX API ON LICCATALOG (API COLLATE NOCASE)");
  }

  //! Appends records generated from kSeed; exclusive: one transaction
  //! without a journal; otherwise autocommit in WAL mode.
  [[gnu::noinline]] TTiming Append(const std::string& table, int64_t records, bool exclusive) {
    TCatalogGenerator generator(kSeed);
    std::vector<TCatalogValues> chunk;
    TStopwatch watch;
    watch.Start();
    TSqliteDb db = OpenSqlite(PathOf(table), cache_kb_);
    Exec(db.get(), "PRAGMA synchronous=OFF");
    Exec(db.get(), exclusive ? "PRAGMA journal_mode=OFF" : "PRAGMA journal_mode=WAL");
    if (exclusive) Exec(db.get(), "BEGIN");
    TSqliteStatement insert = Prepare(
        db.get(),
        "INSERT INTO LICCATALOG (API, TLI, BLI, Measure, IndexUOM, LogMnems, TIFF_Filename, "
        "LIC_Filename) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    for (int64_t done = 0; done < records; done += kChunk) {
      watch.Stop();
      FillChunk(generator, std::min(kChunk, records - done), &chunk);
      watch.Start();
      for (const TCatalogValues& values : chunk) {
        BindValues(insert.get(), values);
        if (sqlite3_step(insert.get()) != SQLITE_DONE) RaiseSqlite(db.get(), "insert");
        sqlite3_reset(insert.get());
      }
    }
    insert.reset();
    if (exclusive) Exec(db.get(), "COMMIT");
    db.reset();
    watch.Stop();
    return watch.Timing();
  }

  [[gnu::noinline]] TReadResult Lookups(const std::string& table,
                                        const std::vector<std::string>& probes) {
    TReadResult result;
    TStopwatch watch;
    watch.Start();
    TSqliteDb db = OpenSqlite(PathOf(table), cache_kb_);
    TSqliteStatement select = Prepare(db.get(), kSqliteLookup);
    TChecksum sum;
    for (const std::string& probe : probes) {
      sqlite3_bind_text(select.get(), 1, probe.data(), static_cast<int>(probe.size()),
                        SQLITE_STATIC);
      const int rc = sqlite3_step(select.get());
      if (rc == SQLITE_ROW && SameIgnoringCase(ReadRow(select.get(), sum), probe)) {
        ++result.Rows;
      } else if (rc == SQLITE_ROW || rc == SQLITE_DONE) {
        ++result.Failures;
      } else {
        RaiseSqlite(db.get(), "lookup");
      }
      sqlite3_reset(select.get());
    }
    select.reset();
    db.reset();
    watch.Stop();
    result.Time = watch.Timing();
    result.Checksum = sum.Value();
    return result;
  }

  [[gnu::noinline]] TReadResult Scan(const std::string& table) {
    TReadResult result;
    TStopwatch watch;
    watch.Start();
    TSqliteDb db = OpenSqlite(PathOf(table), cache_kb_);
    TSqliteStatement select = Prepare(db.get(), kSqliteScan);
    TChecksum sum;
    std::string previous;
    int rc;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
      const std::string_view api = ReadRow(select.get(), sum);
      std::string current(api);
      if (OutOfOrder(previous, current)) ++result.Failures;
      previous = std::move(current);
      ++result.Rows;
    }
    if (rc != SQLITE_DONE) RaiseSqlite(db.get(), "scan");
    select.reset();
    db.reset();
    watch.Stop();
    result.Time = watch.Timing();
    result.Checksum = sum.Value();
    return result;
  }

  //! The query's records: counted, then walked.
  [[gnu::noinline]] TReadResult Filter(const std::string& table, const TFilterQuery& query) {
    TReadResult result;
    TStopwatch watch;
    watch.Start();
    TSqliteDb db = OpenSqlite(PathOf(table), cache_kb_);
    TSqliteStatement count = Prepare(db.get(), SqliteFilterCount(query));
    if (sqlite3_step(count.get()) != SQLITE_ROW) RaiseSqlite(db.get(), "count");
    result.Counted = sqlite3_column_int64(count.get(), 0);
    count.reset();
    TSqliteStatement select = Prepare(db.get(), SqliteFilterSelect(query));
    TChecksum sum;
    TOrderCheck order(query.ApiOrder);
    int rc;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
      const std::string_view api = ReadRow(select.get(), sum);
      const bool passes = query.Passes(api, sqlite3_column_double(select.get(), 2));
      if (!passes || !order.Follows(api, sqlite3_column_int64(select.get(), 0))) {
        ++result.Failures;
      }
      ++result.Rows;
    }
    if (rc != SQLITE_DONE) RaiseSqlite(db.get(), "filter");
    select.reset();
    db.reset();
    watch.Stop();
    result.Time = watch.Timing();
    result.Checksum = sum.Value();
    return result;
  }

  //! SQLite's plan for sql, one step per line.
  std::string Plan(const std::string& table, const std::string& sql) const {
    TSqliteDb db = OpenSqlite(PathOf(table), cache_kb_);
    TSqliteStatement explain = Prepare(db.get(), "EXPLAIN QUERY PLAN " + sql);
    std::string plan;
    while (sqlite3_step(explain.get()) == SQLITE_ROW) {
      if (!plan.empty()) plan += "; ";
      plan += reinterpret_cast<const char*>(sqlite3_column_text(explain.get(), 3));
    }
    return plan;
  }

 private:
  std::string dir_;  //!< ends with "/"
  int64_t cache_kb_;
};

// ----- Report -----

struct TLine {
  const char* Name;
  int64_t Count = 0;  //!< records appended or read
  TTiming Engine;
  TTiming Sqlite;
};

void PrintHeader() {
  std::printf("%-18s %9s | %-29s | %-29s | %s\n", "", "", "engine", "SQLite", "engine/SQLite");
  std::printf("%-18s %9s | %8s %8s %11s | %8s %8s %11s | %6s %6s\n", "", "records", "wall s",
              "cpu s", "records/s", "wall s", "cpu s", "records/s", "wall", "cpu");
}

void PrintTiming(const TTiming& time, int64_t count) {
  if (time.Wall < 0) {
    std::printf(" | %8s %8s %11s", "-", "-", "-");
  } else {
    std::printf(" | %8.3f %8.3f %11.0f", time.Wall, time.Cpu,
                time.Wall > 0 ? static_cast<double>(count) / time.Wall : 0.0);
  }
}

void PrintLine(const TLine& line) {
  std::printf("%-18s %9" PRId64, line.Name, line.Count);
  PrintTiming(line.Engine, line.Count);
  PrintTiming(line.Sqlite, line.Count);
  if (line.Engine.Wall > 0 && line.Sqlite.Wall > 0 && line.Sqlite.Cpu > 0) {
    std::printf(" | %6.2f %6.2f  %s\n", line.Engine.Wall / line.Sqlite.Wall,
                line.Engine.Cpu / line.Sqlite.Cpu,
                line.Engine.Wall < line.Sqlite.Wall ? "engine faster" : "SQLite faster");
  } else {
    std::printf(" | %6s %6s\n", "-", "-");
  }
}

//! One line of read checks: found records, failures and the checksums.
bool ReportReads(const char* name, int64_t expected, const TReadResult* engine,
                 const TReadResult* sqlite) {
  bool sound = true;
  for (const auto& [who, result] : {std::pair{"engine", engine}, std::pair{"SQLite", sqlite}}) {
    if (result == nullptr) continue;
    const bool ok = result->Rows == expected && result->Failures == 0 &&
                    (result->Counted < 0 || result->Counted == expected);
    sound = sound && ok;
    std::string counted;
    if (result->Counted >= 0) counted = ", counted " + std::to_string(result->Counted);
    std::printf("  %-9s %-7s %10" PRId64 " read%s, %" PRId64 " failed, checksum %016" PRIx64 "%s\n",
                name, who, result->Rows, counted.c_str(), result->Failures, result->Checksum,
                ok ? "" : "  <-- WRONG");
  }
  if (engine != nullptr && sqlite != nullptr) {
    const bool same = engine->Checksum == sqlite->Checksum;
    sound = sound && same;
    std::printf("  %-9s checksums %s\n", name, same ? "equal" : "DIFFER");
  }
  return sound;
}

int64_t FileSize(const std::string& path) {
  platform::FileAttributes attributes;
  return platform::Fs().GetAttributes(path, &attributes) ? attributes.size : 0;
}

void PrintSizes(const std::string& dir, const std::string& table) {
  const int64_t engine = FileSize(dir + table + ".DAT") + FileSize(dir + table + ".IDX");
  const int64_t sqlite =
      FileSize(dir + table + kSqliteExtension) + FileSize(dir + table + kSqliteExtension + "-wal");
  std::printf("  %-10s engine %8.1f MB (.DAT %.1f, .IDX %.1f), SQLite %8.1f MB\n", table.c_str(),
              engine / 1e6, FileSize(dir + table + ".DAT") / 1e6,
              FileSize(dir + table + ".IDX") / 1e6, sqlite / 1e6);
}

//! text, or its beginning and end around "..." when long.
std::string Abridged(const std::string& text) {
  if (text.size() <= 140) return text;
  return text.substr(0, 80) + " ... " + text.substr(text.size() - 55);
}

// ----- The run -----

//! The directory the tables go into, ending with "/".
//! The most memory the process has had resident, in KiB.
int64_t PeakResidentKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::string WorkDirectory(const TOptions& options) {
  std::string dir = options.KeepDir.empty() ? platform::TempDirectory() + "engine_vs_sqlite_" +
                                                  std::to_string(platform::CurrentProcessId())
                                            : options.KeepDir;
  dir = platform::IncludeTrailingSlash(platform::ExpandFileName(dir));
  if (!platform::DirectoryExists(dir) && !platform::CreateDirectory(dir)) {
    throw std::runtime_error("cannot create the directory " + dir);
  }
  return dir;
}

int Run(const TOptions& options) {
  const std::string dir = WorkDirectory(options);
  std::printf("engine %s against SQLite %s; tables in %s\n", vevura::kEngineVersion,
              sqlite3_libversion(), dir.c_str());
  std::printf(
      "no syncs; each time runs from opening to closing the table; "
      "engine/SQLite below 1: the engine is faster (by wall time)\n");
  vevura::StartEngine();
  auto engine_side = std::make_unique<TEngineSide>(dir, options.EngineBuffersKb, options.CacheKb);
  TEngineSide& engine = *engine_side;
  std::printf("engine buffers: %s\n", engine.Buffers().c_str());
  TSqliteSide sqlite(dir, options.CacheKb);
  std::printf("SQLite cache: %" PRId64 " KiB per connection\n\n", options.CacheKb);
  const std::vector<std::string> probes = MakeProbes(options.ExclusiveRecords, options.Lookups);
  const std::vector<TFilterQuery> queries = FilterQueries();
  int64_t passing[2];
  for (size_t i = 0; i < 2; ++i) passing[i] = CountPassing(options.ExclusiveRecords, queries[i]);

  TLine exclusive{"exclusive append", options.ExclusiveRecords, {}, {}};
  TLine shared{"shared append", options.SharedRecords, {}, {}};
  TLine lookups{"lookups by API", static_cast<int64_t>(probes.size()), {}, {}};
  TLine scan{"scan in API order", options.ExclusiveRecords, {}, {}};
  TReadResult engine_lookups, sqlite_lookups, engine_scan, sqlite_scan;
  TLine filter_lines[2] = {{queries[0].Name, passing[0], {}, {}},
                           {queries[1].Name, passing[1], {}, {}}};
  TReadResult engine_filters[2], sqlite_filters[2];

  // Line by line, the engine and then SQLite, so that a change in the
  // machine's load falls on both.
  if (options.RunEngine) {
    engine.CreateCatalog(kExclusiveTable);
    engine.CreateCatalog(kSharedTable);
  }
  if (options.RunSqlite) {
    sqlite.CreateCatalog(kExclusiveTable, false);
    sqlite.CreateCatalog(kSharedTable, true);
  }
  if (options.RunEngine) {
    exclusive.Engine = engine.Append(kExclusiveTable, options.ExclusiveRecords, true);
  }
  if (options.RunSqlite) {
    exclusive.Sqlite = sqlite.Append(kExclusiveTable, options.ExclusiveRecords, true);
  }
  if (options.RunEngine) shared.Engine = engine.Append(kSharedTable, options.SharedRecords, false);
  if (options.RunSqlite) shared.Sqlite = sqlite.Append(kSharedTable, options.SharedRecords, false);
  if (options.RunEngine) engine_lookups = engine.Lookups(kExclusiveTable, probes);
  if (options.RunSqlite) sqlite_lookups = sqlite.Lookups(kExclusiveTable, probes);
  if (options.RunEngine) engine_scan = engine.Scan(kExclusiveTable);
  if (options.RunSqlite) sqlite_scan = sqlite.Scan(kExclusiveTable);
  for (size_t i = 0; i < 2; ++i) {
    if (options.RunEngine) engine_filters[i] = engine.Filter(kExclusiveTable, queries[i]);
    if (options.RunSqlite) sqlite_filters[i] = sqlite.Filter(kExclusiveTable, queries[i]);
    filter_lines[i].Engine = engine_filters[i].Time;
    filter_lines[i].Sqlite = sqlite_filters[i].Time;
  }
  lookups.Engine = engine_lookups.Time;
  lookups.Sqlite = sqlite_lookups.Time;
  scan.Engine = engine_scan.Time;
  scan.Sqlite = sqlite_scan.Time;

  PrintHeader();
  for (const TLine& line : {exclusive, shared, lookups, scan, filter_lines[0], filter_lines[1]}) {
    PrintLine(line);
  }
  std::printf("\nchecks\n");
  const TReadResult* el = options.RunEngine ? &engine_lookups : nullptr;
  const TReadResult* sl = options.RunSqlite ? &sqlite_lookups : nullptr;
  const TReadResult* es = options.RunEngine ? &engine_scan : nullptr;
  const TReadResult* ss = options.RunSqlite ? &sqlite_scan : nullptr;
  bool sound = ReportReads("lookups", static_cast<int64_t>(probes.size()), el, sl);
  sound = ReportReads("scan", options.ExclusiveRecords, es, ss) && sound;
  const char* const filter_names[] = {"indexed", "unindexed"};
  for (size_t i = 0; i < 2; ++i) {
    sound =
        ReportReads(filter_names[i], passing[i], options.RunEngine ? &engine_filters[i] : nullptr,
                    options.RunSqlite ? &sqlite_filters[i] : nullptr) &&
        sound;
  }
  if (options.RunEngine) {
    for (size_t i = 0; i < 2; ++i) {
      const bool ok = engine_filters[i].Level == queries[i].Level;
      sound = sound && ok;
      std::printf("  %-9s engine filter [%s], optimization level %d%s\n", filter_names[i],
                  Abridged(queries[i].Condition).c_str(), engine_filters[i].Level,
                  ok ? "" : "  <-- WRONG");
    }
  }
  if (options.RunSqlite) {
    std::printf("  SQLite plans: lookup [%s], scan [%s]\n",
                sqlite.Plan(kExclusiveTable, kSqliteLookup).c_str(),
                sqlite.Plan(kExclusiveTable, kSqliteScan).c_str());
    for (size_t i = 0; i < 2; ++i) {
      std::printf("  SQLite plans: %s count [%s], walk [%s]\n", filter_names[i],
                  Abridged(sqlite.Plan(kExclusiveTable, SqliteFilterCount(queries[i]))).c_str(),
                  Abridged(sqlite.Plan(kExclusiveTable, SqliteFilterSelect(queries[i]))).c_str());
    }
  }
  std::printf("\nfile sizes\n");
  PrintSizes(dir, kExclusiveTable);
  PrintSizes(dir, kSharedTable);
  std::printf("\npeak resident set %.1f MB\n", static_cast<double>(PeakResidentKb()) / 1024.0);

  engine_side.reset();
  vevura::StopEngine();
  if (options.KeepDir.empty()) RemoveTree(dir);
  return sound ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: %s [--n-exclusive N] [--n-shared N] [--lookups N] [--keep DIR] "
                 "[--only engine|sqlite] [--engine-buffers-kb K] [--cache-kb K]\n",
                 argv[0]);
    return 1;
  }
  try {
    return Run(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
