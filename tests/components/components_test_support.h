#pragma once
// Shared pieces of the component tests: a fixture that leaves every session
// inactive (and so the engine stopped) after each test, the message a piece
// of code raises, a table definition the table tests share, and a dataset
// stand-in that records when it is closed.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "components/database_user.h"
#include "components/session_list.h"
#include "components/vevura_database.h"
#include "components/vevura_session.h"
#include "components/vevura_table.h"
#include "engine/base/engine_error.h"
#include "tests/platform/platform_test_support.h"

namespace vevura::test {

class ComponentsTest : public ::testing::Test {
 protected:
  void TearDown() override { Sessions().CloseAll(); }
  platform::testing::ScratchDir dir_;
};

//! The message of the database error fn raises; "" when it raises none.
inline std::string MessageOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EDatabaseError& error) {
    return error.what();
  }
  return "";
}

//! Names table path and defines ITEMS: ID (auto-increment, the primary
//! index), NAME (20), CODE (18, unique index "ByCode"), QTY and NOTES
//! (memo), with index "ByName" over NAME;QTY ignoring case.
inline void DefineItems(TVEVURATable& table, const std::string& path) {
  table.SetTableName(path);
  TFieldDefs& fields = table.FieldDefs();
  fields.Clear();
  fields.Add("ID", ftAutoInc);
  fields.Add("NAME", ftString, 20);
  fields.Add("CODE", ftString, 18);
  fields.Add("QTY", ftInteger);
  fields.Add("NOTES", ftMemo);
  TIndexDefs& indexes = table.IndexDefs();
  indexes.Clear();
  indexes.Add("", "ID", {ixPrimary, ixUnique});
  indexes.Add("ByName", "NAME;QTY", {ixCaseInsensitive});
  indexes.Add("ByCode", "CODE", {ixUnique});
}

//! A dataset as the database sees it: opens through the session, and on
//! being closed detaches and gives the database back, noting its name.
class RecordingUser : public TDatabaseUser {
 public:
  RecordingUser(std::string name, std::vector<std::string>& closed)
      : name_(std::move(name)), closed_(closed) {}
  void Open(TVEVURASession& session, const std::string& database_name) {
    database_ = &session.OpenDatabase(database_name, nullptr);
    database_->AttachUser(*this);
  }
  void CloseForDatabase() override {
    closed_.push_back(name_);
    database_->DetachUser(*this);
    database_->Session()->CloseDatabase(database_);
  }

 private:
  std::string name_;
  std::vector<std::string>& closed_;
  TVEVURADatabase* database_ = nullptr;
};

}  // namespace vevura::test
