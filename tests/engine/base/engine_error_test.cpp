#include "engine/base/engine_error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ios>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/base/error_table.h"
#include "platform/os_error.h"
#include "tests/support/raised.h"

namespace vevura {
namespace {

EVEVURAEngineError CaughtTableError(uint16_t code, const std::string& table) {
  return test::RaisedBy([&] { RaiseTableError(code, table); }).value();
}

EVEVURAEngineError CaughtEngineError(uint16_t code, const std::string& server,
                                     const std::string& user, const std::string& database,
                                     const std::string& table, const std::string& field,
                                     const std::string& index, const std::string& detail) {
  return test::RaisedBy(
             [&] { RaiseEngineError(code, server, user, database, table, field, index, detail); })
      .value();
}

size_t CountMarkers(std::string_view text) {
  size_t count = 0;
  for (size_t at = text.find("%s"); at != std::string_view::npos; at = text.find("%s", at + 2)) {
    ++count;
  }
  return count;
}

TEST(EngineErrorTest, TableErrorMessageCarriesCodeTextAndContext) {
  platform::SetLastOsError(0);
  EVEVURAEngineError error = CaughtTableError(VEVURA_TABLEOPEN, "CATX");
  EXPECT_STREQ(error.what(), "VEVURA Engine Error # 10031 The table 'CATX' is already in use");
  EXPECT_EQ(error.ErrorCode, VEVURA_TABLEOPEN);
  EXPECT_EQ(error.ErrorTable, "CATX");
  EXPECT_EQ(error.ErrorServer, "");
  EXPECT_EQ(error.ErrorField, "");
  EXPECT_EQ(error.OSErrorCode, 0);
  EXPECT_EQ(error.SocketErrorCode, 0);

  EXPECT_STREQ(CaughtTableError(VEVURA_OSENOENT, "").what(),
               "VEVURA Engine Error # 11010 Table '' does not exist");
}

TEST(EngineErrorTest, OsUnknownShowsTheOperatingSystemErrorNumber) {
  platform::SetLastOsError(1117);
  EVEVURAEngineError error = CaughtTableError(VEVURA_OSUNKNOWN, "T");
  platform::SetLastOsError(0);
  EXPECT_STREQ(error.what(),
               "VEVURA Engine Error # 11047 An unknown operating system error 1117 occurred "
               "with the table 'T'");
  EXPECT_EQ(error.OSErrorCode, 1117);
  EXPECT_EQ(error.SocketErrorCode, 0);
}

TEST(EngineErrorTest, CodesWithoutTextStillRaiseEngineErrors) {
  for (uint16_t code : {uint16_t{1}, VEVURA_NONE, VEVURA_REMOTECALLBACK, uint16_t{65535}}) {
    EVEVURAEngineError error = CaughtTableError(code, "T");
    EXPECT_EQ(error.ErrorCode, code);
    EXPECT_EQ(std::string(error.what()),
              "VEVURA Engine Error # " + std::to_string(code) + " An unknown error occurred");
    EXPECT_EQ(EngineErrorText(code), "An unknown error occurred");
  }
}

TEST(EngineErrorTest, ContextStringsFillMarkersInTableOrder) {
  EXPECT_STREQ(
      CaughtEngineError(VEVURA_KEYVIOL, "", "", "", "ORDERS", "F", "ByCustomer", "").what(),
      "VEVURA Engine Error # 9729 Duplicate key found in the index 'ByCustomer' of the "
      "table 'ORDERS'");
  EXPECT_STREQ(
      CaughtEngineError(VEVURA_INVALIDIDXDESC, "", "", "", "ORDERS", "7", "ByDate", "").what(),
      "VEVURA Engine Error # 10023 Invalid field number '7' specified in the index 'ByDate' for "
      "the table 'ORDERS'");
  EXPECT_STREQ(
      CaughtEngineError(VEVURA_REMOTENOTAUTH, "10.0.0.5", "alice", "Sales", "T", "", "", "").what(),
      "VEVURA Engine Error # 11288 The user 'alice' is not authorized to perform this operation "
      "with the database 'Sales' on the database server at '10.0.0.5'");
  EXPECT_STREQ(
      CaughtEngineError(VEVURA_INVALIDFILTER, "", "", "", "ORDERS", "", "", "bad token").what(),
      "VEVURA Engine Error # 10051 Filter error for the table 'ORDERS' - bad token");
  EXPECT_STREQ(
      CaughtEngineError(VEVURA_REMOTEUNKNOWN, "srv", "", "", "", "", "", "reset").what(),
      "VEVURA Engine Error # 11279 An unknown error ('reset') occurred with the connection to the "
      "database server at 'srv', please check the server log");
}

TEST(EngineErrorTest, LongContextIsCutAndTextIsCutTo254) {
  const std::string long_name(400, 'x');
  EVEVURAEngineError error = CaughtTableError(VEVURA_TABLEOPEN, long_name);
  EXPECT_EQ(error.ErrorTable, std::string(255, 'x'));
  const std::string text = EngineErrorText(VEVURA_TABLEOPEN);
  ASSERT_EQ(text.size(), 254u);
  EXPECT_EQ(text, "The table '" + std::string(254 - 11, 'x'));
  EXPECT_EQ(std::string(error.what()), "VEVURA Engine Error # 10031 " + text);

  error = CaughtEngineError(VEVURA_REMOTENOTAUTH, long_name, long_name, long_name, long_name,
                            long_name, long_name, long_name);
  for (const std::string* s : {&error.ErrorServer, &error.ErrorUser, &error.ErrorDatabase,
                               &error.ErrorField, &error.ErrorIndex, &error.ErrorDetail}) {
    EXPECT_EQ(s->size(), 255u);
  }
}

TEST(EngineErrorTest, MarkersInsideContextStringsAreNotExpanded) {
  EVEVURAEngineError error = CaughtEngineError(VEVURA_KEYVIOL, "", "", "", "%s%s", "", "%s'%d", "");
  EXPECT_STREQ(error.what(),
               "VEVURA Engine Error # 9729 Duplicate key found in the index '%s'%d' of the table "
               "'%s%s'");
  EXPECT_EQ(FormatMessage(msg::SFieldNotFound, "%s"), "Field '%s' not found");
}

TEST(EngineErrorTest, RaisingAgainByCodeKeepsTheContext) {
  platform::SetLastOsError(5);
  EVEVURAEngineError first =
      CaughtEngineError(VEVURA_READERR, "", "", "/data/", "PARTS", "MEMO", "", "");
  platform::SetLastOsError(0);

  EVEVURAEngineError again(first.ErrorCode);
  EXPECT_EQ(std::string(again.what()), first.what());
  EXPECT_EQ(again.ErrorTable, "PARTS");
  EXPECT_EQ(again.ErrorDatabase, "/data/");
  EXPECT_EQ(again.ErrorField, "MEMO");
  EXPECT_EQ(again.OSErrorCode, 5);

  // Another code reuses the same context strings with its own text.
  EVEVURAEngineError other(VEVURA_ENDOFBLOB);
  EXPECT_EQ(other.ErrorCode, VEVURA_ENDOFBLOB);
  EXPECT_STREQ(other.what(),
               "VEVURA Engine Error # 8711 End of blob data in the table 'PARTS' reached "
               "prematurely");
  EXPECT_EQ(EngineErrorText(VEVURA_OSUNKNOWN),
            "An unknown operating system error 5 occurred with the table 'PARTS'");
}

TEST(EngineErrorTest, CodeOfOtherExceptionsIsOsUnknown) {
  EXPECT_EQ(EngineErrorCodeOf(std::ios_base::failure("read failed")), VEVURA_OSUNKNOWN);
  EXPECT_EQ(EngineErrorCodeOf(std::runtime_error("x")), VEVURA_OSUNKNOWN);
  EXPECT_EQ(EngineErrorCodeOf(EDatabaseError(msg::SNoTableName)), VEVURA_OSUNKNOWN);
  EXPECT_EQ(EngineErrorCodeOf(CaughtTableError(VEVURA_LOCKED, "T")), VEVURA_LOCKED);
}

TEST(EngineErrorTest, NamesOfKnownAndUnknownCodes) {
  EXPECT_EQ(EngineErrorName(VEVURA_KEYVIOL), "VEVURA_KEYVIOL");
  EXPECT_EQ(EngineErrorName(0), "VEVURA_NONE");
  EXPECT_EQ(EngineErrorName(11284), "VEVURA_REMOTECALLBACK");
  EXPECT_EQ(EngineErrorName(15878), "VEVURA_CANNOTLOADLDDRV");
  EXPECT_EQ(EngineErrorName(1), "");
  EXPECT_EQ(EngineErrorName(10032), "");
  EXPECT_EQ(EngineErrorName(65535), "");
}

TEST(EngineErrorTest, TableIsOrderedAndEveryMarkerHasAnArgument) {
  uint16_t previous = 0;
  bool first = true;
  for (const TErrorTableEntry& entry : ErrorTable()) {
    EXPECT_TRUE(first || entry.Code > previous) << entry.Name;
    first = false;
    previous = entry.Code;
    EXPECT_TRUE(std::string_view(entry.Name).starts_with("VEVURA_")) << entry.Code;
    EXPECT_EQ(FindErrorTableEntry(entry.Code), &entry);
    if (entry.Text == nullptr) continue;
    const size_t args = std::count_if(entry.Args.begin(), entry.Args.end(),
                                      [](TErrorArg arg) { return arg != eaNone; });
    EXPECT_LE(CountMarkers(entry.Text), args) << entry.Name;
  }
}

TEST(EngineErrorTest, SelectedTextsAreExact) {
  struct Case {
    uint16_t code;
    const char* text;
  };
  CaughtEngineError(VEVURA_NONE, "host:12005", "bob", "DB", "TBL", "FLD", "IDX", "DET");
  const Case cases[] = {
      {VEVURA_REMOTECONNECT,
       "A connection to the database server at 'host:12005' cannot be established"},
      {VEVURA_FLDLIMIT,
       "Maximum or minimum limits on number of fields, auto-increment field value, or field "
       "size exceeded in the table 'TBL'"},
      {VEVURA_SEARCHCOLREQD,
       "Invalid field 'FLD' specified for the index 'IDX' in the table 'TBL'"},
      {VEVURA_REMOTENODBUSER,
       "The database user 'bob' does not exist for the database 'DB' on the database server at "
       "'host:12005'"},
      {VEVURA_REMOTEINVUSER, "The user name is either invalid or blank"},
      {VEVURA_OSENOMEM,
       "There is insufficient operating system memory available for the current operation"},
      {VEVURA_EXPORTERROR, "An error occurred during the export from the table 'TBL' - DET"},
      {VEVURA_SQLPARSE, "SQL error - DET"},
      {VEVURA_UNCOMPRESS, "Error uncompressing data"},
      {VEVURA_CANNOTLOADLDDRV,
       "The language driver for the table 'TBL' is not available or installed"},
  };
  for (const Case& c : cases) EXPECT_EQ(EngineErrorText(c.code), c.text) << c.code;
}

TEST(EngineErrorTest, ConcurrentRaisersEachSeeTheirOwnContext) {
  constexpr int kThreads = 4;
  constexpr int kRaisesPerThread = 300;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &mismatches] {
      for (int i = 0; i < kRaisesPerThread; ++i) {
        const std::string table = "T" + std::to_string(t) + "_" + std::to_string(i);
        const std::string index = "I" + std::to_string(i) + "_" + std::to_string(t);
        try {
          RaiseEngineError(VEVURA_KEYVIOL, "", "", "", table, "", index, "");
        } catch (const EVEVURAEngineError& error) {
          const std::string expected =
              "VEVURA Engine Error # 9729 Duplicate key found in the index '" + index +
              "' of the table '" + table + "'";
          if (error.what() != expected || error.ErrorTable != table || error.ErrorIndex != index) {
            ++mismatches[t];
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

TEST(EngineErrorTest, ComponentMessagesAreFormattedAndPrefixed) {
  EXPECT_EQ(FormatMessage(msg::SDuplicateDatabaseName, "Catalog"),
            "Database name Catalog already exists.");
  EXPECT_EQ(FormatMessage(msg::SNoTableName, "ignored"), "Missing table name.");
  EXPECT_EQ(ComponentMessage("Table1", FormatMessage(msg::SFieldNotFound, "WELL")),
            "Table1: Field 'WELL' not found");
}

}  // namespace
}  // namespace vevura
