// Activation order, settings reaching the engine session, remote refusal,
// deactivation closing databases and their users, and passwords.

#include <memory>
#include <thread>

#include "components/component_lock.h"
#include "engine/core/data_directory.h"
#include "engine/core/engine.h"
#include "tests/components/components_test_support.h"
#include "tests/support/raised.h"

namespace vevura {
namespace {

using test::MessageOf;

class SessionActivationTest : public test::ComponentsTest {};

TEST_F(SessionActivationTest, NamedSessionStartsTheEngineThroughTheDefaultSession) {
  TVEVURASession session;
  session.SetSessionName("Named");
  std::vector<std::string> order;
  Sessions().DefaultSession().OnStartup = [&](TVEVURASession&) { order.push_back("Default"); };
  session.OnStartup = [&](TVEVURASession&) { order.push_back("Named"); };
  session.SetActive(true);
  Sessions().DefaultSession().OnStartup = nullptr;

  EXPECT_EQ(order, (std::vector<std::string>{"Named", "Default"}));
  ASSERT_TRUE(EngineStarted());
  EXPECT_EQ(Sessions().DefaultSession().EngineSession(), &DefaultEngineSession());
  ASSERT_NE(session.EngineSession(), nullptr);
  EXPECT_NE(session.EngineSession(), &DefaultEngineSession());

  // Stopping the default session first takes the others down with it.
  Sessions().DefaultSession().SetActive(false);
  EXPECT_FALSE(session.Active());
  EXPECT_FALSE(EngineStarted());
}

TEST_F(SessionActivationTest, SessionWithoutNameDoesNotActivate) {
  TVEVURASession session;
  session.SetName("Nameless");
  EXPECT_EQ(MessageOf([&] { session.SetActive(true); }), "Nameless: Session name is missing.");
  EXPECT_FALSE(session.Active());
}

TEST_F(SessionActivationTest, SettingsReachTheEngineSessionOnActivationAndLive) {
  TVEVURASession session;
  session.SetSessionName("Tuned");
  session.SetLockRetryCount(3);
  session.SetLockWaitTime(7);
  session.SetLockProtocol(lpOptimistic);
  session.SetStrictChangeDetection(true);
  session.SetForceBufferFlush(true);
  session.SetPrivateDir(dir_.path() + "private");
  session.SetProgressSteps(101);  // above 100: ignored
  EXPECT_EQ(session.ProgressSteps(), 20);
  session.SetActive(true);

  TDataSession& engine = *session.EngineSession();
  EXPECT_EQ(engine.LockRetryCount(), 3);
  EXPECT_EQ(engine.LockWaitTime(), 7);
  EXPECT_EQ(engine.LockProtocol(), lpOptimistic);
  EXPECT_TRUE(engine.StrictChangeDetection());
  EXPECT_TRUE(engine.ForceBufferFlush());
  EXPECT_EQ(engine.PrivateDir(), dir_.path() + "private/");
  EXPECT_EQ(engine.DataBufferSize(), 16384);
  EXPECT_EQ(engine.BlobBufferSize(), 32768);

  session.SetLockRetryCount(9);
  session.SetProgressSteps(50);
  EXPECT_EQ(engine.LockRetryCount(), 9);
  EXPECT_EQ(engine.ProgressSteps(), 50);
  EXPECT_EQ(MessageOf([&] { session.SetRemoteHost("server"); }),
            "Cannot perform this operation on an active session.");
}

TEST_F(SessionActivationTest, RemoteSessionIsRefusedAndStaysInactive) {
  TVEVURASession session;
  session.SetSessionName("Far");
  session.SetSessionType(stRemote);
  session.SetRemoteAddress("10.1.2.3");
  std::optional<EVEVURAEngineError> error = test::RaisedBy([&] { session.SetActive(true); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ErrorCode, VEVURA_REMOTECONNECT);
  EXPECT_EQ(error->ErrorServer, "10.1.2.3");
  EXPECT_FALSE(session.Active());
  EXPECT_EQ(MessageOf([&] { session.SetRemotePort(70000); }), "Remote port 70000 is not valid.");
}

TEST_F(SessionActivationTest, DeactivationClosesUsersMostRecentFirstAndFreesTemporaries) {
  TVEVURASession session;
  session.SetSessionName("Closing");
  TVEVURADatabase named(&session);
  named.SetDatabaseName("Named");
  named.SetDirectory(dir_.path());
  std::vector<std::string> closed;
  test::RecordingUser first("first", closed), second("second", closed), third("third", closed);
  first.Open(session, "Named");
  second.Open(session, dir_.path());  // a temporary database for the path
  third.Open(session, "Named");
  ASSERT_EQ(session.Databases().size(), 2u);

  session.SetActive(false);
  // The temporary database came last, so its user closes first.
  EXPECT_EQ(closed, (std::vector<std::string>{"second", "third", "first"}));
  EXPECT_FALSE(named.Connected());
  EXPECT_TRUE(named.Users().empty());
  ASSERT_EQ(session.Databases().size(), 1u);
  EXPECT_EQ(session.Databases().front(), &named);
}

TEST_F(SessionActivationTest, PasswordsGoToTheEngineSessionAndActivateIt) {
  TVEVURASession session;
  session.SetSessionName("Secret");
  session.AddPassword("Key");
  ASSERT_TRUE(session.Active());
  session.AddPassword("key");
  session.AddPassword("Key");
  EXPECT_EQ(session.EngineSession()->Passwords(), (std::vector<std::string>{"Key", "key"}));
  session.RemovePassword("KEY");
  session.RemovePassword("Key");
  EXPECT_EQ(session.EngineSession()->Passwords(), (std::vector<std::string>{"key"}));
  session.RemoveAllPasswords();
  EXPECT_TRUE(session.EngineSession()->Passwords().empty());
}

TEST_F(SessionActivationTest, ComponentLockActivatesOnceAndNests) {
  TVEVURASession session;
  session.SetSessionName("Locked");
  int startups = 0;
  // A handler that opens its own session again does not start it twice.
  session.OnStartup = [&](TVEVURASession& self) {
    ++startups;
    self.Open();
  };
  {
    TComponentLock outer(session);
    TComponentLock inner(session);
    EXPECT_TRUE(session.Active());
  }
  EXPECT_EQ(startups, 1);
  // A failed entry leaves nothing held: another thread can take the lock.
  TVEVURASession nameless;
  EXPECT_EQ(MessageOf([&] { TComponentLock failed(nameless); }), "Session name is missing.");
  bool taken = false;
  std::thread([&] {
    taken = Sessions().ComponentLock().try_lock();
    if (taken) Sessions().ComponentLock().unlock();
  }).join();
  EXPECT_TRUE(taken);
}

TEST_F(SessionActivationTest, DestroyedSessionHandsItsDatabasesToTheDefaultSession) {
  auto session = std::make_unique<TVEVURASession>();
  session->SetSessionName("Short");
  TVEVURADatabase database;
  database.SetSessionName("Short");
  database.SetDatabaseName("Survivor");
  database.SetDirectory(dir_.path());
  database.SetConnected(true);
  session.reset();
  EXPECT_FALSE(database.Connected());
  EXPECT_EQ(database.Session(), &Sessions().DefaultSession());
  EXPECT_EQ(database.SessionName(), "Default");
  database.SetConnected(true);
  EXPECT_EQ(&database.DataDirectory()->Session(), Sessions().DefaultSession().EngineSession());
}

TEST_F(SessionActivationTest, PasswordQuestionGoesToTheHandlerBeforeThePrompt) {
  TVEVURASession session;
  EXPECT_FALSE(session.AskForPassword());  // neither handler nor prompt
  int prompted = 0;
  SetPasswordPrompt([&](TVEVURASession&) { return ++prompted > 0; });
  EXPECT_TRUE(session.AskForPassword());
  bool offered = true;
  session.OnPassword = [&](TVEVURASession& sender, bool& Continue) {
    offered = Continue;
    sender.AddPassword("typed");
    Continue = true;
  };
  session.SetSessionName("Asking");
  EXPECT_TRUE(session.AskForPassword());
  SetPasswordPrompt(nullptr);
  EXPECT_FALSE(offered);
  EXPECT_EQ(prompted, 1);
  EXPECT_TRUE(session.EngineSession()->HasPassword("typed"));
}

}  // namespace
}  // namespace vevura
