// `vevura import DIR TABLE --csv FILE`: appends the rows of a CSV file as
// records, all or none.

#include <fstream>

#include "platform/locale.h"
#include "tools/vevura/csv.h"
#include "tools/vevura/field_values.h"
#include "tools/vevura/progress.h"
#include "tools/vevura/table_access.h"

namespace vevura::tool {
namespace {

//! Problems listed before the rest are only counted.
constexpr int64_t kMaxListedProblems = 20;

std::ifstream OpenCsv(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return in;
}

//! The field of each column of the header row; an unknown or repeated
//! column is an error.
std::vector<const TFieldDescriptor*> MapColumns(const TDataCursor& cursor,
                                                std::vector<std::string> header) {
  if (!header.empty() && header[0].compare(0, 3, "\xEF\xBB\xBF") == 0) header[0].erase(0, 3);
  std::vector<const TFieldDescriptor*> columns;
  for (const std::string& name : header) {
    const TFieldDescriptor* found = nullptr;
    for (const TFieldDescriptor& field : cursor.Fields()) {
      if (platform::SameTextSystem(field.Name, name)) found = &field;
    }
    if (found == nullptr) {
      throw std::runtime_error("column " + name + ": table " + cursor.TableName() +
                               " has no such field");
    }
    for (const TFieldDescriptor* column : columns) {
      if (column == found) throw std::runtime_error("column " + name + " is given twice");
    }
    columns.push_back(found);
  }
  return columns;
}

//! Sets the record from one row; the first error as "field F: ...".
bool FillRecord(TFieldValues& values, const std::vector<const TFieldDescriptor*>& columns,
                const std::vector<std::string>& row, TRecordImage record, bool write_blobs,
                std::vector<std::string>* problems) {
  if (row.size() != columns.size()) {
    problems->push_back(std::to_string(row.size()) + " values for " +
                        std::to_string(columns.size()) + " columns");
    return false;
  }
  bool ok = true;
  std::string error;
  for (size_t i = 0; i < columns.size(); ++i) {
    // The table gives each new record its row id: the column is ignored.
    if (columns[i]->IsAutoInc()) continue;
    if (!values.Write(*columns[i], record, row[i], write_blobs, &error)) {
      problems->push_back("field " + columns[i]->Name + ": \"" + row[i] + "\" " + error);
      ok = false;
    }
  }
  return ok;
}

//! The first pass: every value converted without writing; returns the
//! number of rows, or throws after listing the rows that do not fit.
int64_t CheckRows(TInvocation& invocation, TDataCursor& cursor, TFieldValues& values,
                  const std::string& path) {
  std::ifstream in = OpenCsv(path);
  TCsvReader reader(in);
  std::vector<std::string> row;
  if (!reader.Next(&row)) throw std::runtime_error(path + " has no header row");
  const std::vector<const TFieldDescriptor*> columns = MapColumns(cursor, row);
  std::vector<uint8_t> record(cursor.RecordSize());
  int64_t rows = 0;
  int64_t bad = 0;
  std::vector<std::string> problems;
  while (reader.Next(&row)) {
    ++rows;
    problems.clear();
    if (FillRecord(values, columns, row, record, false, &problems)) continue;
    for (const std::string& problem : problems) {
      if (++bad <= kMaxListedProblems) {
        invocation.Err << "row " << rows << " (line " << reader.Line() << "), " << problem << "\n";
      }
    }
  }
  if (bad > kMaxListedProblems) {
    invocation.Err << "... and " << bad - kMaxListedProblems << " more problems\n";
  }
  if (bad > 0) {
    throw std::runtime_error(std::to_string(bad) + " values do not fit; nothing was imported");
  }
  return rows;
}

//! Takes back the records a failed import inserted, newest first.
void TakeBack(TDataCursor& cursor, const std::vector<TBookmark>& inserted) {
  std::vector<uint8_t> record(cursor.RecordSize());
  for (auto it = inserted.rbegin(); it != inserted.rend(); ++it) {
    if (!cursor.GotoBookmark(*it, false)) continue;
    if (cursor.GetCurrentRecord(record, false) != kCursorOnRecord) continue;
    cursor.DeleteRecord(record, false);
  }
}

//! The second pass: every row inserted into the table the cursor holds
//! exclusively; when one is refused, those inserted before it are taken
//! back. (One transaction would do the same, but the engine's costs grow
//! with every record a transaction holds, which a large import cannot pay.)
void InsertRows(TInvocation& invocation, TDataCursor& cursor, TFieldValues& values,
                const std::string& path, int64_t rows) {
  std::ifstream in = OpenCsv(path);
  TCsvReader reader(in);
  std::vector<std::string> row;
  reader.Next(&row);
  const std::vector<const TFieldDescriptor*> columns = MapColumns(cursor, row);
  TProgress progress(invocation.Err, invocation.Terminal.Progress, "import", rows);
  std::vector<uint8_t> record(cursor.RecordSize());
  std::vector<std::string> problems;
  std::vector<TBookmark> inserted;
  inserted.reserve(static_cast<size_t>(rows));
  int64_t n = 0;
  try {
    while (reader.Next(&row)) {
      ++n;
      cursor.InitRecord(record);
      if (!FillRecord(values, columns, row, record, true, &problems)) {
        throw std::runtime_error(problems.front());
      }
      cursor.InsertRecord(record, true);
      inserted.push_back(cursor.GetBookmark());
      progress.Update(n);
    }
  } catch (const std::exception& e) {
    const std::string message = e.what();
    cursor.DropBlobBuffers(record);
    TakeBack(cursor, inserted);
    throw std::runtime_error("row " + std::to_string(n) + " (line " +
                             std::to_string(reader.Line()) + "): " + message +
                             "; nothing was imported");
  }
}

int RunImport(TInvocation& invocation) {
  if (!invocation.Has("--csv")) throw TUsageError("--csv FILE is required");
  const std::string path = invocation.Value("--csv");
  TTableAccess access(invocation);
  auto cursor = access.Open(invocation.Positionals[1], false, true, true);
  TFieldValues values(*cursor);
  const int64_t rows = CheckRows(invocation, *cursor, values, path);
  InsertRows(invocation, *cursor, values, path, rows);
  invocation.Out << rows << (rows == 1 ? " record" : " records") << " imported into "
                 << cursor->TableName() << "\n";
  return 0;
}

}  // namespace

const TCommand kImportCommand{
    "import",
    "DIR TABLE --csv FILE [--password P]",
    "append the rows of a CSV file to a table",
    "Appends one record per row of FILE, a CSV file (RFC 4180, UTF-8) whose header row\n"
    "names fields of the table (in any order and letter case; a column the table lacks is\n"
    "an error; fields without a column get their default values). Values take the forms\n"
    "dump writes; an empty value is null. The auto-increment field's column is ignored:\n"
    "each new record gets the table's next value.\n"
    "All or nothing: every value is checked first, and every row that does not fit is\n"
    "reported as \"row N (line L), field F: ...\"; then the table is opened exclusively\n"
    "and the records are inserted; when the table refuses one (a key violation, a\n"
    "required field), the records inserted before it are deleted again. Either way\n"
    "nothing is imported and the exit status is 1. (A program killed during the\n"
    "insertion leaves the records inserted until then.)\n",
    2,
    {{"--csv", true}, kPasswordOption},
    RunImport,
};

}  // namespace vevura::tool
