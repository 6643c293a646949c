// `vevura tables DIR`: the tables of a directory with their record counts
// and the bytes of their files.

#include <algorithm>

#include "engine/base/engine_error.h"
#include "engine/core/data_table.h"
#include "engine/storage/data/data_file.h"
#include "engine/storage/file/table_file_names.h"
#include "platform/directory.h"
#include "platform/file_system.h"
#include "tools/vevura/table_access.h"
#include "tools/vevura/text_table.h"

namespace vevura::tool {
namespace {

//! The tables of the directory: the names of its data files, sorted.
std::vector<std::string> TableNames(const std::string& path) {
  std::vector<platform::DirEntry> entries;
  platform::ListOptions options;
  options.include_directories = false;
  if (!platform::ListDirectory(path, options, &entries)) {
    throw std::runtime_error("cannot list " + path);
  }
  std::vector<std::string> names;
  for (const platform::DirEntry& entry : entries) {
    if (EndsWithExtension(entry.name, kDataFileExtension)) {
      names.push_back(TableNameWithoutExtension(entry.name));
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

int64_t FileSize(const std::string& name) {
  platform::FileAttributes attributes;
  const std::string existing = platform::FindExistingName(name);
  if (existing.empty() || !platform::Fs().GetAttributes(existing, &attributes)) return 0;
  return attributes.size;
}

//! Records and a note for one table; the count is "?" when it cannot be read.
std::vector<std::string> Describe(TTableAccess& access, const std::string& table) {
  const std::string& dir = access.Path();
  const int64_t bytes = FileSize(DataFileName(dir, table)) + FileSize(IndexFileName(dir, table)) +
                        FileSize(BlobFileName(dir, table));
  std::string records = "?";
  std::string note;
  try {
    const TDataHeader header = ReadClosedTableHeader(DataFileName(dir, table), false);
    const bool encrypted = header.Version == kDataFileVersion && header.Encrypted != 0;
    if (encrypted) note = "encrypted";
    if (!encrypted || access.Session().HasPassword(header.PlainPassword())) {
      auto cursor = access.Open(table, true);
      records = std::to_string(cursor->Table()->IndexFile().GetActiveRecordCount());
    }
  } catch (const std::exception& e) {
    note = e.what();
  }
  return {table, records, std::to_string(bytes), note};
}

int RunTables(TInvocation& invocation) {
  TTableAccess access(invocation);
  TTextTable listing({"TABLE", "RECORDS", "BYTES", "NOTE"});
  for (const std::string& table : TableNames(access.Path())) {
    listing.Add(Describe(access, table));
  }
  listing.Write(invocation.Out);
  return 0;
}

}  // namespace

const TCommand kTablesCommand{
    "tables",
    "DIR [--password P]",
    "list the tables of a directory with their record counts and sizes",
    "Lists every table of DIR (every data file), sorted by name: its active records and\n"
    "the bytes of its data, index and BLOB files together. An encrypted table is counted\n"
    "only with its password (--password); a table that cannot be opened shows why.\n",
    1,
    {kPasswordOption},
    RunTables,
};

}  // namespace vevura::tool
