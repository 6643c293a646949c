#include "components/password_dialog/password_dialog.h"

#include <QApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <exception>

#include "components/vevura_session.h"

namespace vevura {

TPasswordDialog::TPasswordDialog(TVEVURASession& session, QWidget* parent)
    : QDialog(parent), session_(session) {
  setWindowTitle(QStringLiteral("Enter password"));
  setModal(true);

  auto* group = new QGroupBox(QStringLiteral("Password"), this);
  group->setObjectName(QStringLiteral("GroupPassword"));
  edit_ = new QLineEdit(group);
  edit_->setObjectName(QStringLiteral("EditPassword"));
  edit_->setEchoMode(QLineEdit::Password);
  edit_->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // '*'
  add_ = new QPushButton(QStringLiteral("&Add"), group);
  add_->setObjectName(QStringLiteral("btnAdd"));
  add_->setAutoDefault(false);
  remove_ = new QPushButton(QStringLiteral("&Remove"), group);
  remove_->setObjectName(QStringLiteral("btnRemove"));
  remove_->setAutoDefault(false);
  remove_all_ = new QPushButton(QStringLiteral("Re&move all"), group);
  remove_all_->setObjectName(QStringLiteral("btnRemoveAll"));
  remove_all_->setAutoDefault(false);

  auto* group_buttons = new QHBoxLayout;
  group_buttons->addWidget(add_);
  group_buttons->addWidget(remove_);
  group_buttons->addWidget(remove_all_);
  auto* group_layout = new QVBoxLayout(group);
  group_layout->addWidget(edit_);
  group_layout->addLayout(group_buttons);

  ok_ = new QPushButton(QStringLiteral("&OK"), this);
  ok_->setObjectName(QStringLiteral("btnOK"));
  ok_->setDefault(true);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_->setObjectName(QStringLiteral("btnCancel"));
  cancel_->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addLayout(buttons);

  ShowError = [this](const QString& message) {
    QMessageBox::warning(this, windowTitle(), message);
  };

  connect(edit_, &QLineEdit::textChanged, this, [this] { UpdateButtons(); });
  connect(add_, &QPushButton::clicked, this, [this] { Add(); });
  connect(remove_, &QPushButton::clicked, this, [this] { Remove(); });
  connect(remove_all_, &QPushButton::clicked, this, [this] { RemoveAll(); });
  connect(ok_, &QPushButton::clicked, this, [this] { Ok(); });
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  UpdateButtons();
  edit_->setFocus();
}

void TPasswordDialog::UpdateButtons() {
  const bool typed = !edit_->text().isEmpty();
  add_->setEnabled(typed);
  remove_->setEnabled(typed);
  ok_->setEnabled(typed || added_);
}

bool TPasswordDialog::Change(const std::function<void()>& change) {
  try {
    change();
    return true;
  } catch (const std::exception& error) {
    if (ShowError) ShowError(QString::fromUtf8(error.what()));
  } catch (...) {
    if (ShowError) ShowError(QStringLiteral("The password could not be changed."));
  }
  return false;
}

void TPasswordDialog::Add() {
  const std::string password = edit_->text().toStdString();
  if (password.empty()) return;
  if (!Change([&] { session_.AddPassword(password); })) return;
  added_ = true;
  edit_->clear();
  UpdateButtons();
  edit_->setFocus();
}

void TPasswordDialog::Remove() {
  const std::string password = edit_->text().toStdString();
  if (password.empty()) return;
  if (!Change([&] { session_.RemovePassword(password); })) return;
  edit_->clear();
  edit_->setFocus();
}

void TPasswordDialog::RemoveAll() {
  Change([&] { session_.RemoveAllPasswords(); });
  edit_->setFocus();
}

void TPasswordDialog::Ok() {
  const std::string password = edit_->text().toStdString();
  if (!password.empty()) {
    if (!Change([&] { session_.AddPassword(password); })) return;
    added_ = true;
  } else if (!added_) {
    return;
  }
  accept();
}

bool CanShowPasswordDialog() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  return app != nullptr && QThread::currentThread() == app->thread();
}

bool AskPasswordByDialog(TVEVURASession& session) {
  if (!CanShowPasswordDialog()) return false;
  QWidget* parent = QApplication::activeWindow();
  TPasswordDialog dialog(session, parent);
  return dialog.exec() == QDialog::Accepted;
}

void InstallPasswordDialog() {
  SetPasswordPrompt(&AskPasswordByDialog);
}

}  // namespace vevura

// Kept by the linker through the target's link options (CMakeLists.txt).
extern "C" {
extern const int vevura_password_dialog_registrar;
const int vevura_password_dialog_registrar = [] {
  vevura::InstallPasswordDialog();
  return 1;
}();
}
