#pragma once
// The password dialog: the process-wide password prompt of programs with a
// window. A session that lacks a table password and has no OnPassword
// handler asks it (TVEVURASession::AskForPassword).
//
// The dialog, shown modally, holds a masked line edit and the buttons "&Add",
// "&Remove" and "Re&move all" in a "Password" group, and "&OK" and "Cancel"
// below. "&Add", "&Remove" and "&OK" are enabled only while the edit holds
// text; "&OK" stays enabled once a password was added. "&Add" and "&OK" add
// the typed text to the session's passwords, "&Remove" removes it, "Re&move
// all" clears the list. The prompt answers true when the dialog closes with
// "&OK".
//
// Without a display (no QApplication in the process, or a call from a thread
// other than the application's) the prompt shows nothing and answers false,
// so a program without a window never blocks.
//
// Installation: linking the target vevura_password_dialog installs the prompt
// before main runs. A static library member nobody references is dropped by
// the linker, so the target tells the linker to keep the registrar's object
// (an undefined-symbol link option on its interface); a program can also
// call InstallPasswordDialog(), which installs it again and references the
// object on any linker.

#include <QDialog>
#include <QString>
#include <functional>

class QLineEdit;
class QPushButton;

namespace vevura {

class TVEVURASession;

class TPasswordDialog : public QDialog {
 public:
  //! A dialog adding to and removing from session's passwords.
  explicit TPasswordDialog(TVEVURASession& session, QWidget* parent = nullptr);

  //! Shows the message of a password change the session refused; a message
  //! box by default.
  std::function<void(const QString& message)> ShowError;

 private:
  void UpdateButtons();
  //! Runs change on the session; false (the message shown) when it throws.
  bool Change(const std::function<void()>& change);
  void Add();
  void Remove();
  void RemoveAll();
  void Ok();

  TVEVURASession& session_;
  QLineEdit* edit_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* remove_ = nullptr;
  QPushButton* remove_all_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  bool added_ = false;  //!< a password was added through this dialog
};

//! Whether the prompt can show a window: a QApplication exists and this is
//! its thread.
bool CanShowPasswordDialog();

//! The prompt: shows the dialog for session modally; true when closed with
//! "&OK". False, showing nothing, when CanShowPasswordDialog() is false.
bool AskPasswordByDialog(TVEVURASession& session);

//! Installs AskPasswordByDialog as the process-wide password prompt.
void InstallPasswordDialog();

}  // namespace vevura
