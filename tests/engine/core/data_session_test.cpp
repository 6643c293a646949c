// Engine start and stop, session settings and passwords, and the refusal of
// remote sessions.

#include "engine/core/remote_requests.h"
#include "engine/expr/records_bitmap_stack.h"
#include "platform/directory.h"
#include "tests/engine/core/core_test_support.h"

namespace vevura {
namespace {

using test::CodeRaisedBy;

TEST(EngineStartTest, DefaultSessionExistsOnlyWhileTheEngineRuns) {
  ASSERT_FALSE(EngineStarted());
  EXPECT_EQ(CodeRaisedBy([] { DefaultEngineSession(); }), VEVURA_NOTINITIALIZED);
  EXPECT_EQ(FileList(), nullptr);

  StartEngine();
  EXPECT_TRUE(EngineStarted());
  TDataSession& session = DefaultEngineSession();
  EXPECT_NE(FileList(), nullptr);
  EXPECT_EQ(CodeRaisedBy([] { RecordsBitmapStack(); }), 0);
  StartEngine();  // a second start changes nothing
  EXPECT_EQ(&DefaultEngineSession(), &session);

  StopEngine();
  EXPECT_FALSE(EngineStarted());
  EXPECT_EQ(FileList(), nullptr);
  EXPECT_EQ(CodeRaisedBy([] { RecordsBitmapStack(); }), VEVURA_NOTINITIALIZED);
  EXPECT_EQ(CodeRaisedBy([] { DefaultEngineSession(); }), VEVURA_NOTINITIALIZED);
  StopEngine();  // and so does a second stop
}

TEST(EngineStartTest, StoppingClosesTheTablesOfTheDefaultSession) {
  platform::testing::ScratchDir dir;
  StartEngine();
  TDataDirectory* directory = DefaultEngineSession().OpenDataDirectory("", dir.path());
  test::CreateTestTable(*directory, "OPEN");
  TDataTable* table = nullptr;
  ASSERT_EQ(directory->OpenTableObject("OPEN", {}, &table), 0);
  table->LockRecord(1);
  EXPECT_EQ(FileList()->Count(), 2);
  StopEngine();
  // The files were closed, so a new engine may take them exclusively.
  StartEngine();
  directory = DefaultEngineSession().OpenDataDirectory("", dir.path());
  ASSERT_EQ(directory->OpenTableObject("OPEN", {.Exclusive = true}, &table), 0);
  StopEngine();
}

class DataSessionTest : public test::EngineTest {};

TEST_F(DataSessionTest, NewSessionHasTheDefaults) {
  TDataSession session;
  EXPECT_FALSE(session.StrictChangeDetection());
  EXPECT_FALSE(session.ForceBufferFlush());
  EXPECT_EQ(session.LockRetryCount(), 15);
  EXPECT_EQ(session.LockWaitTime(), 100);
  EXPECT_EQ(session.LockProtocol(), lpPessimistic);
  EXPECT_EQ(session.ProgressSteps(), 20);
  EXPECT_EQ(session.DataBufferSize(), 16384);
  EXPECT_EQ(session.DataBufferCount(), 8192);
  EXPECT_EQ(session.IndexBufferSize(), 16384);
  EXPECT_EQ(session.BlobBufferSize(), 32768);
  EXPECT_EQ(session.BlobBufferCount(), 8192);
  EXPECT_EQ(session.TableLockTiming().Attempts, 32767);
  EXPECT_EQ(session.TableLockTiming().SleepMs, 3u);
  EXPECT_FALSE(session.Remote());
  EXPECT_FALSE(session.ServerSide());
  EXPECT_TRUE(TDataSession(true).ServerSide());
  EXPECT_EQ(session.RemoteSettings().Address, "127.0.0.1");
  EXPECT_EQ(session.RemoteSettings().Port, 12005);
  EXPECT_EQ(session.RemoteSettings().Kind, rtLAN);
  EXPECT_EQ(session.RemoteSettings().ReplyTimeout, 300);
  EXPECT_TRUE(session.Passwords().empty());
  EXPECT_TRUE(session.DataDirectories().empty());
  EXPECT_EQ(session.CurrentDir(), platform::CurrentDirectory() + "/");
  EXPECT_EQ(session.PrivateDir(), platform::TempDirectory());
}

TEST_F(DataSessionTest, PrivateDirectoryIsTrimmedAndEndsWithASlash) {
  TDataSession session;
  session.SetPrivateDir("  /var/tmp\\work  ");
  EXPECT_EQ(session.PrivateDir(), "/var/tmp/work/");
  EXPECT_EQ(session.TemporaryFilesDir(), "/var/tmp/work/");
  session.SetPrivateDir("/var/tmp/");
  EXPECT_EQ(session.PrivateDir(), "/var/tmp/");
  session.SetPrivateDir("");
  EXPECT_EQ(session.PrivateDir(), "");
  EXPECT_EQ(session.TemporaryFilesDir(), session.CurrentDir());
}

TEST_F(DataSessionTest, PasswordsAreComparedExactly) {
  TDataSession session;
  session.AddPassword("");
  session.AddPassword("Secret");
  session.AddPassword("Secret");
  session.AddPassword("secret");
  session.AddPassword("Other");
  EXPECT_EQ(session.Passwords(), (std::vector<std::string>{"Secret", "secret", "Other"}));
  EXPECT_TRUE(session.HasPassword("secret"));
  EXPECT_FALSE(session.HasPassword("SECRET"));
  EXPECT_FALSE(session.HasPassword("Secret "));
  session.RemovePassword("SECRET");
  EXPECT_EQ(session.Passwords().size(), 3u);
  session.RemovePassword("Secret");
  EXPECT_EQ(session.Passwords(), (std::vector<std::string>{"secret", "Other"}));
  session.RemoveAllPasswords();
  EXPECT_TRUE(session.Passwords().empty());
}

TEST_F(DataSessionTest, RemoteSessionsAreRefused) {
  TDataSession session;
  EXPECT_EQ(CodeRaisedBy([&] { session.Connect(); }), 0);
  session.SetRemote(true);
  session.RemoteSettings().Address = "10.1.2.3";
  try {
    session.Connect();
    ADD_FAILURE() << "a remote session connected";
  } catch (const EVEVURAEngineError& e) {
    EXPECT_EQ(e.ErrorCode, VEVURA_REMOTECONNECT);
    EXPECT_EQ(e.ErrorServer, "10.1.2.3");
  }
  EXPECT_EQ(CodeRaisedBy([&] { session.OpenDataDirectory("DB", dir_.path()); }),
            VEVURA_REMOTECONNECT);
  EXPECT_TRUE(session.DataDirectories().empty());

  // The request vocabulary keeps its codes and names.
  EXPECT_EQ(REQUEST_OPENDATADIR, 5);
  EXPECT_EQ(REQUEST_EXPORTTABLE, 116);
  EXPECT_EQ(REQUEST_TEXTINDEXPARAMS, 120);
  EXPECT_EQ(RemoteRequestName(REQUEST_DELETERECORDBLOCK), "REQUEST_DELETERECORDBLOCK");
  EXPECT_EQ(RemoteRequestName(0), "REQUEST_RECONNECT");
  EXPECT_EQ(RemoteRequestName(118), "");
  EXPECT_EQ(RemoteRequestName(139), "");
}

TEST_F(DataSessionTest, SessionSettingsReachItsTables) {
  test::CreateTestTable(*directory_, "LIMITS");
  session_->SetDataBufferSize(4096);
  session_->SetDataBufferCount(10);
  TDataTable* table = Open("LIMITS");
  int32_t record_size = table->DataFile().RecordSize();
  EXPECT_EQ(table->DataFile().Records().Cache().Capacity(), std::min(4096 / record_size, 10));
  Close(table);
  session_->SetDataBufferCount(2);
  table = Open("LIMITS");
  EXPECT_EQ(table->DataFile().Records().Cache().Capacity(), 2);
  Close(table);
}

}  // namespace
}  // namespace vevura
