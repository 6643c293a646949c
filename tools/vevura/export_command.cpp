// `vevura export DIR TABLE --sqlite FILE`: the table as a table of a SQLite
// database, with its indexes, in one transaction. Without SQLite at build
// time the command says so.

#include <memory>

#include "engine/core/data_table.h"
#include "platform/locale.h"
#include "tools/vevura/field_values.h"
#include "tools/vevura/progress.h"
#include "tools/vevura/table_access.h"

#if VEVURA_WITH_SQLITE
#include <sqlite3.h>
#endif

namespace vevura::tool {
namespace {

#if VEVURA_WITH_SQLITE

//! A name as a SQLite identifier: in double quotes, quotes doubled.
std::string Quoted(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

//! The column type of a field: SQLite's affinities.
std::string ColumnType(const TFieldDescriptor& f) {
  switch (f.Type) {
    case fcString:
      return "TEXT";
    case fcDate:
    case fcTime:
    case fcTimeStamp:
      return "TEXT";
    case fcBlob:
      return IsTextBlob(f) ? "TEXT" : "BLOB";
    case fcBoolean:
    case fcSmallInt:
    case fcInteger:
    case fcInteger32:
    case fcWord:
    case fcLargeInt:
      return "INTEGER";
    case fcFloat:
      return "REAL";
    case fcBCD:
      return "TEXT";  // NUMERIC would round decimals of more than 15 digits
    default:
      return "BLOB";
  }
}

//! An open SQLite database, closed at the end.
class TSqliteFile {
 public:
  explicit TSqliteFile(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
      const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw std::runtime_error("SQLite: " + path + ": " + message);
    }
  }
  ~TSqliteFile() { sqlite3_close(db_); }
  TSqliteFile(const TSqliteFile&) = delete;
  TSqliteFile& operator=(const TSqliteFile&) = delete;

  sqlite3* Handle() const { return db_; }
  void Execute(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      const std::string text = message != nullptr ? message : "failed";
      sqlite3_free(message);
      throw std::runtime_error("SQLite: " + text + " in: " + sql);
    }
  }
  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error("SQLite: " + what + ": " + sqlite3_errmsg(db_));
  }

 private:
  sqlite3* db_ = nullptr;
};

class TStatement {
 public:
  TStatement(TSqliteFile& file, const std::string& sql) {
    if (sqlite3_prepare_v2(file.Handle(), sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK) {
      file.Fail(sql);
    }
  }
  ~TStatement() { sqlite3_finalize(statement_); }
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;
  sqlite3_stmt* Handle() const { return statement_; }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

std::string CreateTableSql(const std::string& name, const std::vector<TFieldDescriptor>& fields,
                           uint16_t language) {
  std::string sql = "CREATE TABLE " + Quoted(name) + " (";
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) sql += ", ";
    sql += Quoted(platform::CodePageToUtf8(language, fields[i].Name)) + " " + ColumnType(fields[i]);
    if (fields[i].Required != 0 || fields[i].IsAutoInc()) sql += " NOT NULL";
  }
  return sql + ")";
}

//! CREATE INDEX of index n: its fields (NOCASE for strings of a
//! case-insensitive index, DESC where descending), UNIQUE when unique.
std::string CreateIndexSql(const std::string& table, const TDataCursor& cursor, uint8_t n,
                           uint16_t language) {
  const TIndexDescriptor d = cursor.IndexDescriptor(n);
  const std::string name = table + "_" + (n == 0 ? std::string("primary") : d.Name);
  std::string sql = std::string("CREATE ") + (n == 0 || d.Unique != 0 ? "UNIQUE " : "") + "INDEX " +
                    Quoted(platform::CodePageToUtf8(language, name)) + " ON " + Quoted(table) +
                    " (";
  for (int i = 0; i < d.FieldCount && i < kMaxIndexFields; ++i) {
    const TFieldDescriptor& field = cursor.Fields().at(d.FieldNumbers[i] - 1);
    if (i > 0) sql += ", ";
    sql += Quoted(platform::CodePageToUtf8(language, field.Name));
    if (d.CaseInsensitive != 0 && field.Type == fcString) sql += " COLLATE NOCASE";
    if (d.Descending != 0 || d.FieldDescending[i] != 0) sql += " DESC";
  }
  return sql + ")";
}

void BindValue(TStatement& insert, int column, TValueKind kind, const TFieldDescriptor& field,
               const std::string& text) {
  sqlite3_stmt* s = insert.Handle();
  int result = SQLITE_OK;
  switch (kind) {
    case vkNull:
      result = sqlite3_bind_null(s, column);
      break;
    case vkBoolean:
      result = sqlite3_bind_int(s, column, text == "true" ? 1 : 0);
      break;
    case vkNumber:
      if (field.Type == fcFloat) {
        result = sqlite3_bind_double(s, column, std::stod(text));
      } else {
        result = sqlite3_bind_int64(s, column, std::stoll(text));
      }
      break;
    case vkText:
      result = sqlite3_bind_text(s, column, text.data(), static_cast<int>(text.size()),
                                 SQLITE_TRANSIENT);
      break;
    case vkBinary: {
      std::vector<uint8_t> bytes;
      Base64Decode(text, &bytes);
      result = sqlite3_bind_blob(s, column, bytes.data(), static_cast<int>(bytes.size()),
                                 SQLITE_TRANSIENT);
      break;
    }
  }
  if (result != SQLITE_OK) throw std::runtime_error("SQLite: cannot bind " + field.Name);
}

int RunExport(TInvocation& invocation) {
  if (!invocation.Has("--sqlite")) throw TUsageError("--sqlite FILE is required");
  TTableAccess access(invocation);
  auto cursor = access.Open(invocation.Positionals[1], true, true);
  const uint16_t language = cursor->Table()->DataFile().LanguageId();
  const std::string table = platform::CodePageToUtf8(language, cursor->Table()->TableName());
  const std::vector<TFieldDescriptor>& fields = cursor->Fields();
  TFieldValues values(*cursor);

  TSqliteFile file(invocation.Value("--sqlite"));
  file.Execute("BEGIN");
  file.Execute(CreateTableSql(table, fields, language));
  std::string sql = "INSERT INTO " + Quoted(table) + " VALUES (";
  for (size_t i = 0; i < fields.size(); ++i) sql += i == 0 ? "?" : ", ?";
  TStatement insert(file, sql + ")");

  const bool progress_on = invocation.Terminal.Progress;
  TProgress progress(invocation.Err, progress_on, "export",
                     progress_on ? cursor->GetRecordCount() : 0);
  std::vector<uint8_t> record(cursor->RecordSize());
  std::string text;
  int64_t count = 0;
  cursor->First();
  while (cursor->Next(record) == kCursorOnRecord) {
    for (size_t i = 0; i < fields.size(); ++i) {
      BindValue(insert, static_cast<int>(i + 1), values.Read(fields[i], record, text), fields[i],
                text);
    }
    if (sqlite3_step(insert.Handle()) != SQLITE_DONE) file.Fail("inserting a record");
    sqlite3_reset(insert.Handle());
    progress.Update(++count);
  }
  if (cursor->HasPrimaryIndex()) file.Execute(CreateIndexSql(table, *cursor, 0, language));
  for (uint8_t n = 1; n <= cursor->SecondaryIndexCount(); ++n) {
    file.Execute(CreateIndexSql(table, *cursor, n, language));
  }
  file.Execute("COMMIT");
  return 0;
}

#else

int RunExport(TInvocation&) {
  throw std::runtime_error("this vevura was built without SQLite: export is not available");
}

#endif

}  // namespace

const TCommand kExportCommand{
    "export",
    "DIR TABLE --sqlite FILE [--password P]",
    "copy a table into a SQLite database, with its indexes",
    "Creates the table, named as it is, in the SQLite database FILE (made when missing;\n"
    "a table of that name there already is an error) with one column per field and\n"
    "copies every record in record-number order, then creates its indexes, all in one\n"
    "transaction: nothing is left behind when it fails. Column types: strings, memos,\n"
    "dates, times and timestamps TEXT (as dump writes them), integers, booleans and\n"
    "auto-increment INTEGER, floats and money REAL, BCD TEXT (exact decimals), bytes and\n"
    "binary BLOBs BLOB. Indexes are named TABLE_INDEX (TABLE_primary for the primary\n"
    "index), UNIQUE where unique, DESC where descending, COLLATE NOCASE on the string\n"
    "fields of a case-insensitive index.\n",
    2,
    {{"--sqlite", true}, kPasswordOption},
    RunExport,
};

}  // namespace vevura::tool
