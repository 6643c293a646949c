// example_wells: the components as an application uses them. It keeps a
// table of wells and, for each well, a detail table of its logs in the
// directory given as argument:
//
//   example_wells DIRECTORY
//
// A database component "Wells" points at the directory. The tables WELLS and
// LOGS are defined through FieldDefs and IndexDefs and made afresh on every
// run (DeleteTable when they exist, then CreateTable), so each run prints the
// same lines. LOGS follows WELLS through a data source on its index
// "WellAPI". The program appends records, writes and reads a memo through a
// BLOB stream, locates a well by part of its name, walks the logs of each
// well, commits one transaction and rolls another back, and reports a post
// the table refuses.

#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "components/framework/data_source.h"
#include "components/session_list.h"
#include "components/vevura_database.h"
#include "components/vevura_table.h"
#include "engine/base/engine_error.h"

using namespace vevura;

namespace {

const char kUsage[] =
    "usage: example_wells DIRECTORY\n"
    "Creates the tables WELLS and LOGS in DIRECTORY (an existing directory;\n"
    "tables of an earlier run are replaced) and prints what it does with them.\n";

// Deletes the table when an earlier run left it, then creates it from its
// definitions.
void Recreate(TVEVURATable& table) {
  if (table.Exists()) {
    table.DeleteTable();
    std::cout << "deleted " << table.TableName() << " of an earlier run\n";
  }
  table.CreateTable();
  std::cout << "created " << table.TableName() << "\n";
}

void AddWell(TVEVURATable& wells, const std::string& api, const std::string& name, double depth) {
  wells.Append();
  wells.FieldByName("API")->SetAsString(api);
  wells.FieldByName("Name")->SetAsString(name);
  wells.FieldByName("Depth")->SetAsFloat(depth);
  wells.Post();
}

// A new detail record takes WellAPI from the current well (the master link).
void AddLog(TVEVURATable& logs, const std::string& mnemonic, double top, double bottom) {
  logs.Append();
  logs.FieldByName("Mnemonic")->SetAsString(mnemonic);
  logs.FieldByName("Top")->SetAsFloat(top);
  logs.FieldByName("Bottom")->SetAsFloat(bottom);
  logs.Post();
}

void Run(const std::string& directory) {
  TVEVURADatabase database;  // in the default session
  database.SetDatabaseName("Wells");
  database.SetDirectory(directory);
  database.SetConnected(true);
  std::cout << "connected database Wells to " << database.Directory() << "\n";

  TVEVURATable wells;
  wells.SetDatabaseName("Wells");
  wells.SetTableName("WELLS");
  wells.FieldDefs().Add("ID", ftAutoInc, 0, true);
  wells.FieldDefs().Add("API", ftString, 20, true);
  wells.FieldDefs().Add("Name", ftString, 40);
  wells.FieldDefs().Add("Depth", ftFloat);
  wells.FieldDefs().Add("Notes", ftMemo);
  wells.IndexDefs().Add("", "ID", {ixPrimary, ixUnique});
  wells.IndexDefs().Add("API", "API", {ixUnique, ixCaseInsensitive});
  Recreate(wells);

  TVEVURATable logs;
  logs.SetDatabaseName("Wells");
  logs.SetTableName("LOGS");
  logs.FieldDefs().Add("ID", ftAutoInc, 0, true);
  logs.FieldDefs().Add("WellAPI", ftString, 20, true);
  logs.FieldDefs().Add("Mnemonic", ftString, 10);
  logs.FieldDefs().Add("Top", ftFloat);
  logs.FieldDefs().Add("Bottom", ftFloat);
  logs.IndexDefs().Add("", "ID", {ixPrimary, ixUnique});
  logs.IndexDefs().Add("WellAPI", "WellAPI", {ixCaseInsensitive});
  Recreate(logs);

  // The detail shows the logs whose WellAPI equals the current well's API.
  TDataSource wells_source;
  wells_source.SetDataSet(&wells);
  logs.SetIndexName("WellAPI");
  logs.SetMasterSource(&wells_source);
  logs.SetMasterFields("API");
  wells.Open();
  logs.Open();

  AddWell(wells, "42-501-20130", "Eagle Ford 1H", 3650.5);
  AddLog(logs, "GR", 120, 3600);
  AddLog(logs, "RHOB", 2500, 3640);
  AddWell(wells, "42-501-20131", "Permian Basin 7", 2890);
  AddLog(logs, "GR", 50, 2880);
  AddWell(wells, "42-501-20132", "Spraberry 3", 2410.25);
  std::cout << "appended " << wells.RecordCount() << " wells\n";

  // The memo: written through a BLOB stream, read back through another.
  const std::string notes = "Cored 3500-3550 m; see the lab report.";
  wells.First();
  wells.Edit();
  {
    auto stream = wells.CreateBlobStream(*wells.FieldByName("Notes"), bmWrite);
    stream->Write(notes.data(), static_cast<int64_t>(notes.size()));
  }
  wells.Post();
  auto reader = wells.CreateBlobStream(*wells.FieldByName("Notes"), bmRead);
  std::string read(static_cast<size_t>(reader->Size()), '\0');
  reader->Read(read.data(), static_cast<int64_t>(read.size()));
  reader.reset();
  std::cout << "notes of " << wells.FieldByName("API")->AsString() << ": " << read << "\n";

  // Locate by the start of a name, in any case.
  if (!wells.Locate("Name", {std::string("permian")}, {loCaseInsensitive, loPartialKey}))
    throw EDatabaseError("no well named Permian...");
  std::cout << "located \"permian\": " << wells.FieldByName("Name")->AsString() << " ("
            << wells.FieldByName("API")->AsString() << ")\n";

  // Each well with its logs: moving the master moves the detail's range.
  for (wells.First(); !wells.Eof(); wells.Next()) {
    std::cout << "well " << wells.FieldByName("API")->AsString() << " "
              << wells.FieldByName("Name")->AsString() << ", depth "
              << wells.FieldByName("Depth")->AsFloat() << ", logs: " << logs.RecordCount() << "\n";
    for (logs.First(); !logs.Eof(); logs.Next())
      std::cout << "  log " << logs.FieldByName("Mnemonic")->AsString() << " "
                << logs.FieldByName("Top")->AsFloat() << "-"
                << logs.FieldByName("Bottom")->AsFloat() << "\n";
  }

  // A transaction that is committed, then one that is rolled back.
  database.StartTransaction();
  wells.Last();
  wells.Edit();
  wells.FieldByName("Depth")->SetAsFloat(2455);
  wells.Post();
  database.Commit(true);
  std::cout << "committed: depth of " << wells.FieldByName("API")->AsString() << " is "
            << wells.FieldByName("Depth")->AsFloat() << "\n";
  database.StartTransaction();
  AddWell(wells, "42-501-20133", "Wolfcamp 9", 3100);
  std::cout << "in a transaction: " << wells.RecordCount() << " wells\n";
  database.Rollback();
  wells.Refresh();  // the record buffers still hold the rolled-back record
  std::cout << "rolled back: " << wells.RecordCount() << " wells, 42-501-20133 "
            << (wells.Locate("API", {std::string("42-501-20133")}, {}) ? "still there" : "gone")
            << "\n";

  // Posts the table refuses: a second well with an API already there (the
  // index API is unique, without regard to case), and one without an API.
  for (const std::string api : {"42-501-20131", ""}) {
    try {
      AddWell(wells, api, "Duplicate", 1);
      std::cout << "posted a well with API \"" << api << "\" (unexpected)\n";
    } catch (const EDatabaseError& error) {
      wells.Cancel();
      std::cout << "post refused: " << error.what() << "\n";
    }
  }
  std::cout << "done: " << wells.RecordCount() << " wells\n";
  logs.Close();
  wells.Close();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::cout << kUsage;
    return 0;
  }
  if (argc != 2) {
    std::cerr << kUsage;
    return 2;
  }
  const std::string directory = argv[1];
  std::error_code error;
  if (!std::filesystem::is_directory(directory, error)) {
    std::cerr << "example_wells: " << directory << " is no directory\n";
    return 1;
  }
  int status = 0;
  try {
    Run(directory);
  } catch (const std::exception& failure) {
    std::cerr << "example_wells: " << failure.what() << "\n";
    status = 1;
  }
  Sessions().CloseAll();  // stops the engine; every program ends with it
  return status;
}
