// Session names, their clashes, auto-session numbers and the default session.

#include "tests/components/components_test_support.h"

namespace vevura {
namespace {

using test::MessageOf;

class SessionNamingTest : public test::ComponentsTest {};

TEST_F(SessionNamingTest, DefaultSessionIsFirstOwnerlessAndTheOnlyDefault) {
  TVEVURASession other;
  std::vector<TVEVURASession*> list = Sessions().List();
  ASSERT_GE(list.size(), 2u);
  EXPECT_EQ(list.front(), &Sessions().DefaultSession());
  EXPECT_EQ(list.front()->SessionName(), "Default");
  EXPECT_EQ(list.front()->Owner(), nullptr);
  for (TVEVURASession* session : list) EXPECT_EQ(session->IsDefault(), session == list.front());
  EXPECT_EQ(Sessions().FindSession(""), &Sessions().DefaultSession());
}

TEST_F(SessionNamingTest, LookupIgnoresCaseAndUnknownNamesAreRefused) {
  TVEVURASession session;
  session.SetSessionName("Catalog");
  EXPECT_EQ(Sessions().FindSession("CATALOG"), &session);
  EXPECT_EQ(Sessions().FindSession("Nothing"), nullptr);
  EXPECT_EQ(MessageOf([] { Sessions().GetSession("Nothing"); }),
            "Session name Nothing is not valid.");
}

TEST_F(SessionNamingTest, ClashingNameIsRefusedAndTheOldNameKept) {
  TVEVURASession first;
  first.SetSessionName("Work");
  TVEVURASession second;
  second.SetName("Second");
  second.SetSessionName("Mine");
  EXPECT_EQ(MessageOf([&] { second.SetSessionName("WORK"); }),
            "Second: Session name WORK already exists.");
  EXPECT_EQ(second.SessionName(), "Mine");
  // Renaming to its own name with other letter case is no clash.
  second.SetSessionName("MINE");
  EXPECT_EQ(second.SessionName(), "MINE");
}

TEST_F(SessionNamingTest, ActiveSessionKeepsItsName) {
  TVEVURASession session;
  session.SetSessionName("Busy");
  session.SetActive(true);
  EXPECT_EQ(MessageOf([&] { session.SetSessionName("Other"); }),
            "Cannot perform this operation on an active session.");
  EXPECT_EQ(session.SessionName(), "Busy");
}

TEST_F(SessionNamingTest, AutoSessionNumbersStartAtOneAndFreedNumbersAreReused) {
  TComponent form_a, form_b, form_c;
  TVEVURASession a(&form_a), b(&form_b);
  a.SetName("Session");
  b.SetName("Session");
  a.SetAutoSessionName(true);
  b.SetAutoSessionName(true);
  EXPECT_EQ(a.SessionName(), "Session_1");
  EXPECT_EQ(b.SessionName(), "Session_2");
  // A former auto-session keeps its name, so the freed number clashes until
  // that name is given up, and a failed naming gives the number back.
  a.SetAutoSessionName(false);
  TVEVURASession c(&form_c);
  c.SetName("Session");
  EXPECT_EQ(MessageOf([&] { c.SetAutoSessionName(true); }),
            "Session: Session name Session_1 already exists.");
  a.SetSessionName("Manual");
  c.SetAutoSessionName(true);
  EXPECT_EQ(c.SessionName(), "Session_1");
  // The component's name carries over into the session name.
  c.SetName("Renamed");
  EXPECT_EQ(c.SessionName(), "Renamed_1");
  EXPECT_EQ(MessageOf([&] { c.SetSessionName("Manual"); }),
            "Renamed: Cannot perform this operation on the active auto-session.");
}

TEST_F(SessionNamingTest, DestroyedAutoSessionFreesItsNumber) {
  TComponent form;
  {
    TVEVURASession first(&form);
    first.SetName("S");
    first.SetAutoSessionName(true);
    EXPECT_EQ(first.SessionName(), "S_1");
  }
  TVEVURASession again(&form);
  again.SetName("S");
  again.SetAutoSessionName(true);
  EXPECT_EQ(again.SessionName(), "S_1");
}

TEST_F(SessionNamingTest, AutoSessionIsAloneInItsOwnerAndNamesItsDatabases) {
  TComponent form;
  TVEVURASession session(&form);
  session.SetName("Auto");
  TVEVURADatabase database(&form);
  TVEVURASession second(&form);
  EXPECT_EQ(MessageOf([&] { session.SetAutoSessionName(true); }),
            "Auto: The active auto-session can be the only active session.");
  EXPECT_FALSE(session.AutoSessionName());

  TComponent other_form;
  TVEVURASession auto_session(&other_form);
  auto_session.SetName("Auto");
  TVEVURADatabase owned(&other_form);
  auto_session.SetAutoSessionName(true);
  EXPECT_EQ(owned.SessionName(), auto_session.SessionName());
  EXPECT_EQ(owned.Session(), &auto_session);
  EXPECT_EQ(MessageOf([&] { TVEVURASession another(&other_form); }),
            "This auto-session already exists.");
}

}  // namespace
}  // namespace vevura
