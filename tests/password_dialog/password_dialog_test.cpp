// The password dialog: its enabling rules, the session's password list
// behind its buttons, the prompt it installs, and no window without a
// QApplication.

#include "components/password_dialog/password_dialog.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>
#include <thread>

#include "tests/components/components_test_support.h"

namespace vevura {
namespace {

using Passwords = std::vector<std::string>;

int app_argc = 1;
char app_name[] = "test_password_dialog";
char* app_argv[] = {app_name, nullptr};

class PasswordDialogTest : public test::ComponentsTest {
 protected:
  void SetUp() override {
    app_ = std::make_unique<QApplication>(app_argc, app_argv);
    session_.SetSessionName("Guarded");
  }
  void TearDown() override {
    test::ComponentsTest::TearDown();
    app_.reset();
  }
  Passwords List() {
    return session_.Active() ? session_.EngineSession()->Passwords() : Passwords{};
  }

  std::unique_ptr<QApplication> app_;
  TVEVURASession session_;
};

template <typename T>
T* Child(QWidget& dialog, const char* name) {
  T* child = dialog.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

struct Widgets {
  explicit Widgets(QWidget& dialog)
      : edit(Child<QLineEdit>(dialog, "EditPassword")),
        add(Child<QPushButton>(dialog, "btnAdd")),
        remove(Child<QPushButton>(dialog, "btnRemove")),
        remove_all(Child<QPushButton>(dialog, "btnRemoveAll")),
        ok(Child<QPushButton>(dialog, "btnOK")),
        cancel(Child<QPushButton>(dialog, "btnCancel")) {}
  bool Complete() const { return edit && add && remove && remove_all && ok && cancel; }
  QLineEdit* edit;
  QPushButton* add;
  QPushButton* remove;
  QPushButton* remove_all;
  QPushButton* ok;
  QPushButton* cancel;
};

// Runs act on the modal dialog once it shows; closes every window after a
// while so a failing test cannot hang.
void WhenModal(const std::function<void(QWidget&)>& act) {
  auto* poll = new QTimer(qApp);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      poll->stop();
      poll->deleteLater();
      act(*modal);
    }
  });
  poll->start(10);
  QTimer::singleShot(10000, qApp, [] { QApplication::closeAllWindows(); });
}

TEST_F(PasswordDialogTest, LooksAsDescribed) {
  TPasswordDialog dialog(session_);
  Widgets w(dialog);
  ASSERT_TRUE(w.Complete());
  EXPECT_EQ(dialog.windowTitle(), "Enter password");
  EXPECT_EQ(w.add->text(), "&Add");
  EXPECT_EQ(w.remove->text(), "&Remove");
  EXPECT_EQ(w.remove_all->text(), "Re&move all");
  EXPECT_EQ(w.ok->text(), "&OK");
  EXPECT_EQ(w.cancel->text(), "Cancel");
  EXPECT_TRUE(w.ok->isDefault());
  EXPECT_EQ(w.edit->echoMode(), QLineEdit::Password);
  EXPECT_EQ(w.add->parentWidget()->objectName(), "GroupPassword");
  EXPECT_EQ(w.edit->parentWidget(), w.add->parentWidget());
  EXPECT_NE(w.ok->parentWidget(), w.add->parentWidget());
  dialog.show();
  QTest::keyClicks(w.edit, "abc");
  EXPECT_EQ(w.edit->displayText(), "***");
}

TEST_F(PasswordDialogTest, TypingEnablesAddRemoveAndOk) {
  TPasswordDialog dialog(session_);
  Widgets w(dialog);
  ASSERT_TRUE(w.Complete());
  EXPECT_FALSE(w.add->isEnabled());
  EXPECT_FALSE(w.remove->isEnabled());
  EXPECT_FALSE(w.ok->isEnabled());
  EXPECT_TRUE(w.remove_all->isEnabled());
  EXPECT_TRUE(w.cancel->isEnabled());
  QTest::keyClicks(w.edit, "k");
  EXPECT_TRUE(w.add->isEnabled());
  EXPECT_TRUE(w.remove->isEnabled());
  EXPECT_TRUE(w.ok->isEnabled());
  QTest::keyClick(w.edit, Qt::Key_Backspace);
  EXPECT_FALSE(w.add->isEnabled());
  EXPECT_FALSE(w.remove->isEnabled());
  EXPECT_FALSE(w.ok->isEnabled());
  // Clicking a disabled button changes nothing.
  w.add->click();
  w.ok->click();
  EXPECT_EQ(List(), Passwords{});
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(PasswordDialogTest, AddRemoveAndRemoveAllReachTheSession) {
  TPasswordDialog dialog(session_);
  Widgets w(dialog);
  ASSERT_TRUE(w.Complete());
  QTest::keyClicks(w.edit, "first");
  w.add->click();
  EXPECT_EQ(List(), Passwords{"first"});
  // OK stays enabled once a password was added, with the edit empty.
  EXPECT_TRUE(w.edit->text().isEmpty());
  EXPECT_FALSE(w.add->isEnabled());
  EXPECT_TRUE(w.ok->isEnabled());
  QTest::keyClicks(w.edit, "second");
  w.add->click();
  QTest::keyClicks(w.edit, "third");
  w.add->click();
  EXPECT_EQ(List(), (Passwords{"first", "second", "third"}));
  QTest::keyClicks(w.edit, "second");
  w.remove->click();
  EXPECT_EQ(List(), (Passwords{"first", "third"}));
  w.remove_all->click();
  EXPECT_EQ(List(), Passwords{});
  EXPECT_TRUE(w.ok->isEnabled());
}

TEST_F(PasswordDialogTest, OkAddsTheTypedPasswordAndAccepts) {
  TPasswordDialog dialog(session_);
  Widgets w(dialog);
  ASSERT_TRUE(w.Complete());
  QTest::keyClicks(w.edit, "typed");
  w.ok->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(List(), Passwords{"typed"});
}

TEST_F(PasswordDialogTest, ARefusedChangeIsShownAndKeepsTheDialogOpen) {
  TVEVURASession nameless;  // activating it fails: no session name
  TPasswordDialog dialog(nameless);
  Widgets w(dialog);
  ASSERT_TRUE(w.Complete());
  QStringList shown;
  dialog.ShowError = [&](const QString& message) { shown << message; };
  QTest::keyClicks(w.edit, "typed");
  w.add->click();
  w.ok->click();
  ASSERT_EQ(shown.size(), 2);
  EXPECT_FALSE(shown[0].isEmpty());
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(w.edit->text(), "typed");
  EXPECT_FALSE(nameless.Active());
}

TEST_F(PasswordDialogTest, LinkingInstallsThePromptAndOkAnswersTrue) {
  WhenModal([](QWidget& modal) {
    EXPECT_EQ(modal.windowTitle(), "Enter password");
    Widgets w(modal);
    if (!w.Complete()) return QApplication::closeAllWindows();
    QTest::keyClicks(w.edit, "secret");
    w.ok->click();
  });
  EXPECT_TRUE(session_.AskForPassword());
  EXPECT_EQ(List(), Passwords{"secret"});
}

TEST_F(PasswordDialogTest, CancelAnswersFalse) {
  WhenModal([](QWidget& modal) {
    Widgets w(modal);
    if (!w.Complete()) return QApplication::closeAllWindows();
    QTest::keyClicks(w.edit, "unused");
    w.cancel->click();
  });
  EXPECT_FALSE(session_.AskForPassword());
  EXPECT_EQ(List(), Passwords{});
}

TEST(PasswordDialogWithoutWindow, NoApplicationAnswersFalseWithoutADialog) {
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  TVEVURASession session;
  session.SetSessionName("Windowless");
  EXPECT_FALSE(CanShowPasswordDialog());
  EXPECT_FALSE(session.AskForPassword());
  EXPECT_FALSE(AskPasswordByDialog(session));
  {
    QCoreApplication core(app_argc, app_argv);
    EXPECT_FALSE(CanShowPasswordDialog());
    EXPECT_FALSE(session.AskForPassword());
  }
  EXPECT_FALSE(session.Active());  // nothing touched the session's passwords
  Sessions().CloseAll();
}

TEST(PasswordDialogWithoutWindow, AnotherThreadAnswersFalse) {
  QApplication app(app_argc, app_argv);
  TVEVURASession session;
  session.SetSessionName("Threaded");
  bool answer = true;
  bool could_show = true;
  std::thread other([&] {
    could_show = CanShowPasswordDialog();
    answer = session.AskForPassword();
  });
  other.join();
  EXPECT_FALSE(could_show);
  EXPECT_FALSE(answer);
  EXPECT_TRUE(CanShowPasswordDialog());
  Sessions().CloseAll();
}

}  // namespace
}  // namespace vevura
