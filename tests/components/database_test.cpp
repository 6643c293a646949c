// Database names and clashes, connecting, shared handles, temporary
// databases with KeepConnections, and transaction messages.

#include "engine/core/data_directory.h"
#include "tests/components/components_test_support.h"

namespace vevura {
namespace {

using test::MessageOf;

class DatabaseTest : public test::ComponentsTest {};

TEST_F(DatabaseTest, PathNamesAreRefusedForComponentsAndSeparatorsNormalised) {
  TVEVURADatabase database;
  database.SetName("Db");
  EXPECT_EQ(MessageOf([&] { database.SetDatabaseName("C:DATA"); }),
            "Db: Database name C:DATA is not valid.");
  EXPECT_EQ(MessageOf([&] { database.SetDatabaseName("a\\b"); }),
            "Db: Database name a/b is not valid.");
  EXPECT_EQ(database.DatabaseName(), "");
  database.SetDirectory(" \\tmp\\data ");
  EXPECT_EQ(database.Directory(), "/tmp/data/");
  database.SetRemoteDatabase("\\\\server\\cat\\");
  EXPECT_EQ(database.RemoteDatabase(), "server/cat");
  EXPECT_EQ(database.SessionName(), "Default");
}

TEST_F(DatabaseTest, SecondDatabaseOfTheSameNameIsRefusedInItsSession) {
  TVEVURADatabase first, second;
  first.SetDatabaseName("Catalog");
  EXPECT_EQ(MessageOf([&] { second.SetDatabaseName("CATALOG"); }),
            "Database name CATALOG already exists.");
  EXPECT_EQ(second.DatabaseName(), "");

  // Moving into a session that has the name clears it.
  TVEVURASession session;
  session.SetSessionName("Other");
  TVEVURADatabase there(&session);
  there.SetDatabaseName("Catalog");
  EXPECT_EQ(MessageOf([&] { first.SetSessionName("Other"); }),
            "Database name Catalog already exists.");
  EXPECT_EQ(first.DatabaseName(), "");
  EXPECT_EQ(first.Session(), &session);
}

TEST_F(DatabaseTest, ConnectedDatabaseKeepsNameDirectoryAndSession) {
  TVEVURADatabase database;
  database.SetDatabaseName("Open");
  database.SetDirectory(dir_.path());
  int before_connect = 0;
  database.BeforeConnect = [&](TVEVURADatabase&) { ++before_connect; };
  database.SetConnected(true);
  database.SetConnected(true);
  EXPECT_EQ(before_connect, 1);
  ASSERT_NE(database.DataDirectory(), nullptr);
  EXPECT_EQ(database.DataDirectory()->Path(), dir_.path());
  EXPECT_TRUE(Sessions().DefaultSession().Active());
  const std::string open = "Cannot perform this operation on an open database.";
  EXPECT_EQ(MessageOf([&] { database.SetDatabaseName("New"); }), open);
  EXPECT_EQ(MessageOf([&] { database.SetDirectory("/"); }), open);
  EXPECT_EQ(MessageOf([&] { database.SetSessionName("Elsewhere"); }), open);
  EXPECT_EQ(database.DatabaseName(), "Open");
}

TEST_F(DatabaseTest, ConnectRequiresANameAndAnExistingSession) {
  TVEVURADatabase database;
  EXPECT_EQ(MessageOf([&] { database.SetConnected(true); }), "Database name is missing.");
  database.SetDatabaseName("Lost");
  database.SetSessionName("Nowhere");
  EXPECT_EQ(database.Session(), nullptr);
  EXPECT_EQ(MessageOf([&] { database.SetConnected(true); }), "Session name Nowhere is not valid.");
  EXPECT_FALSE(database.Connected());
}

TEST_F(DatabaseTest, SharedHandleBorrowsTheDirectoryAndOutlivesTheLender) {
  TVEVURADatabase lender, borrower;
  lender.SetHandleShared(true);
  borrower.SetHandleShared(true);
  lender.SetDatabaseName("Shared");
  borrower.SetDatabaseName("Shared");
  lender.SetDirectory(dir_.path());
  lender.SetConnected(true);
  borrower.SetConnected(true);
  EXPECT_TRUE(borrower.Borrowed());
  EXPECT_EQ(borrower.DataDirectory(), lender.DataDirectory());
  EXPECT_EQ(lender.DataDirectory()->UseCount(), 2);

  lender.SetConnected(false);
  ASSERT_EQ(Sessions().DefaultSession().EngineSession()->DataDirectories().size(), 1u);
  borrower.StartTransaction();
  EXPECT_TRUE(borrower.InTransaction());
  borrower.Rollback();
  borrower.SetConnected(false);
  EXPECT_TRUE(Sessions().DefaultSession().EngineSession()->DataDirectories().empty());
}

TEST_F(DatabaseTest, OpenDatabaseMakesTemporariesThatFollowKeepConnections) {
  TVEVURASession& session = Sessions().DefaultSession();
  TVEVURADatabase& kept = session.OpenDatabase(dir_.path(), nullptr);
  EXPECT_TRUE(kept.Temporary());
  EXPECT_TRUE(kept.Connected());
  EXPECT_EQ(kept.DataDirectory()->Name(), "");  // a path: the engine sees no name
  EXPECT_EQ(&session.OpenDatabase(dir_.path(), nullptr), &kept);
  EXPECT_EQ(kept.UseCount(), 2);
  session.CloseDatabase(&kept);
  session.CloseDatabase(&kept);
  EXPECT_TRUE(kept.Connected());  // KeepConnections is on by default

  session.SetKeepConnections(false);
  platform::testing::ScratchDir other;
  TVEVURADatabase& dropped = session.OpenDatabase(other.path(), nullptr);
  EXPECT_FALSE(dropped.KeepConnection());
  session.CloseDatabase(&dropped);
  EXPECT_EQ(session.FindDatabase(other.path(), nullptr), nullptr);
  session.SetKeepConnections(true);

  // An unused temporary gives way to a database component of its name.
  TVEVURADatabase& memory = session.OpenDatabase("Memory", nullptr);
  EXPECT_EQ(memory.DataDirectory()->Path(), "");
  session.CloseDatabase(&memory);
  EXPECT_TRUE(memory.Connected());
  TVEVURADatabase component;
  component.SetDatabaseName("MEMORY");
  EXPECT_EQ(session.FindDatabase("memory", nullptr), &component);
}

TEST_F(DatabaseTest, FindDatabasePrefersTheOwnersSharedOne) {
  TComponent form;
  TVEVURADatabase plain, owned(&form);
  owned.SetHandleShared(true);
  plain.SetHandleShared(true);
  plain.SetDatabaseName("Pick");
  owned.SetDatabaseName("Pick");
  TVEVURASession& session = Sessions().DefaultSession();
  EXPECT_EQ(session.FindDatabase("PICK", &form), &owned);
  EXPECT_EQ(session.FindDatabase("PICK", nullptr), &plain);
}

TEST_F(DatabaseTest, TransactionsReportTheirMisuse) {
  TVEVURADatabase database;
  database.SetDatabaseName("Txn");
  database.SetDirectory(dir_.path());
  const std::string closed = "Cannot perform this operation on a closed database.";
  EXPECT_EQ(MessageOf([&] { database.StartTransaction(); }), closed);
  EXPECT_EQ(MessageOf([&] { database.Commit(false); }), closed);
  database.SetConnected(true);
  EXPECT_EQ(MessageOf([&] { database.Rollback(); }), "Database Txn has no active transaction.");
  EXPECT_EQ(MessageOf([&] { database.Commit(false); }), "Database Txn has no active transaction.");
  database.StartTransaction();
  EXPECT_EQ(MessageOf([&] { database.StartTransaction(); }),
            "Database Txn already has an active transaction.");
  database.Commit(true);
  EXPECT_FALSE(database.InTransaction());
}

}  // namespace
}  // namespace vevura
