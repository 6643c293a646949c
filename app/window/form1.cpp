#include "app/window/form1.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <stdexcept>

#include "components/framework/component.h"
#include "platform/directory.h"
#include "platform/profile.h"

namespace vevura::app {

namespace {

// The design's client area; the status line adds its height below it.
constexpr int kClientWidth = 787;
constexpr int kClientHeight = 624;
constexpr int kMemoTop = 192;
constexpr int kStatusHeight = 20;

// The engine's strings are 8-bit text in the locale's encoding.
QString FromLocal(const std::string& text) {
  return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}
std::string ToLocal(const QString& text) {
  return text.toLocal8Bit().toStdString();
}

// Where a family is missing, Arial (or the font metric-compatible with it
// that the system aliases to it) keeps the design's text widths.
QFont SansFont(const char* family, bool bold) {
  const QString name = QString::fromLatin1(family);
  QFont font(QFontDatabase::hasFamily(name) ? name : QStringLiteral("Arial"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(13);
  font.setBold(bold);
  return font;
}

QFont FixedFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Courier New"), QStringLiteral("Courier")});
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPixelSize(13);
  return font;
}

template <typename T>
T* Make(QWidget* parent, const char* name) {
  T* widget = new T(parent);
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, int left, int top,
                  const QFont& font) {
  QLabel* label = Make<QLabel>(parent, name);
  label->setFont(font);
  label->setText(QString::fromLatin1(caption));
  label->move(left, top);
  label->adjustSize();
  return label;
}

QToolButton* MakeSpeedButton(QWidget* parent, const char* name, int left, int top) {
  QToolButton* button = Make<QToolButton>(parent, name);
  button->setText(QStringLiteral("..."));
  QFont font = button->font();
  font.setBold(true);
  button->setFont(font);
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setGeometry(left, top, 23, 22);
  return button;
}

// Keeps two buttons disabled while it lives, however the run ends.
class TButtonsDisabled {
 public:
  TButtonsDisabled(QWidget* first, QWidget* second) : first_(first), second_(second) {
    first_->setEnabled(false);
    second_->setEnabled(false);
  }
  ~TButtonsDisabled() {
    first_->setEnabled(true);
    second_->setEnabled(true);
  }
  TButtonsDisabled(const TButtonsDisabled&) = delete;
  TButtonsDisabled& operator=(const TButtonsDisabled&) = delete;

 private:
  QWidget* first_;
  QWidget* second_;
};

// Runs an event handler; its error goes to the application's error handler
// here, at the handler's edge, because unwinding through Qt's event delivery
// would leak the event's objects.
template <typename Handler>
void Guarded(Handler handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    HandleApplicationError(error);
  }
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Build LIC Import Catalog"));
  setFont(SansFont("MS Sans Serif", false));
  CreateControls();
  resize(kClientWidth, kClientHeight + kStatusHeight);

  ShowMessage = [this](const QString& message) {
    QMessageBox::information(this, QCoreApplication::applicationName(), message);
  };
  ShowMessageBox = [this](const QString& text, const QString& title) {
    QMessageBox::information(this, title, text, QMessageBox::Ok);
  };
  PickFolder = [this](const QString& title) {
    return QFileDialog::getExistingDirectory(this, title, QDir::currentPath());
  };

  // FormCreate; the run's constructor has renamed the session already.
  start_dir_ = platform::CurrentDirectory();
  EditRootDir->setText(FromLocal(start_dir_));
  EditCatalogDir->setText(FromLocal(start_dir_));
  ReadSettings();
}

TForm1::~TForm1() {
  try {
    WriteSettings();
  } catch (const std::exception& error) {
    try {
      HandleApplicationError(error);
    } catch (...) {
    }
  }
}

void TForm1::CreateControls() {
  const QFont label_font = SansFont("Arial", true);
  Label1 =
      MakeLabel(this, "Label1", "Enter/Select ROOT Directory Path of the LIC Files to be Cataloged",
                45, 16, label_font);
  EditRootDir = Make<QLineEdit>(this, "EditRootDir");
  EditRootDir->setGeometry(45, 33, 633, 24);
  SpeedButton1 = MakeSpeedButton(this, "SpeedButton1", 680, 33);
  Label2 =
      MakeLabel(this, "Label2", "LIC Catalog Will Be Created In This Folder", 45, 86, label_font);
  Label3 = MakeLabel(this, "Label3", "( Screen List Saved As Tornip.txt )", 338, 86, font());
  EditCatalogDir = Make<QLineEdit>(this, "EditCatalogDir");
  EditCatalogDir->setGeometry(45, 108, 633, 24);
  SpeedButton2 = MakeSpeedButton(this, "SpeedButton2", 680, 110);

  ckClearCat = Make<QCheckBox>(this, "ckClearCat");
  ckClearCat->setText(QStringLiteral("Clear Entries From Old Catalog"));
  ckClearCat->setGeometry(9, 157, 217, 17);
  ckClearCat->setChecked(true);

  BitBtn2 = Make<QPushButton>(this, "BitBtn2");
  BitBtn2->setText(QStringLiteral("Close"));
  BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
  BitBtn2->setGeometry(232, 145, 105, 41);
  btnOK = Make<QPushButton>(this, "btnOK");
  btnOK->setText(QStringLiteral("Create Catalog"));
  btnOK->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
  btnOK->setGeometry(368, 145, 137, 41);

  // Memo1 fills two borderless panels that fill the window below the buttons.
  Panel1 = Make<QFrame>(this, "Panel1");
  Panel1->setFrameShape(QFrame::NoFrame);
  Panel2 = Make<QFrame>(Panel1, "Panel2");
  Panel2->setFrameShape(QFrame::NoFrame);
  auto* outer = new QVBoxLayout(Panel1);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(Panel2);
  Memo1 = Make<QPlainTextEdit>(Panel2, "Memo1");
  Memo1->setReadOnly(true);
  Memo1->setFont(FixedFont());
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* inner = new QVBoxLayout(Panel2);
  inner->setContentsMargins(0, 0, 0, 0);
  inner->addWidget(Memo1);
  Panel1->setGeometry(0, kMemoTop, kClientWidth, kClientHeight - kMemoTop);

  StatusLine = Make<QLabel>(this, "StatusLine");
  StatusLine->setFrameShape(QFrame::StyledPanel);
  StatusLine->setFrameShadow(QFrame::Sunken);
  StatusLine->setContentsMargins(4, 0, 4, 0);
  StatusLine->setGeometry(0, kClientHeight, kClientWidth, kStatusHeight);

  setTabOrder(EditRootDir, btnOK);
  setTabOrder(btnOK, BitBtn2);
  setTabOrder(BitBtn2, ckClearCat);
  setTabOrder(ckClearCat, EditCatalogDir);
  setTabOrder(EditCatalogDir, Memo1);

  connect(SpeedButton1, &QToolButton::clicked, this,
          [this] { Guarded([this] { SpeedButton1Click(); }); });
  connect(SpeedButton2, &QToolButton::clicked, this,
          [this] { Guarded([this] { SpeedButton2Click(); }); });
  connect(btnOK, &QPushButton::clicked, this, [this] { Guarded([this] { btnOKClick(); }); });
  connect(BitBtn2, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn2Click(); }); });
  // Esc presses "Close" wherever the focus is.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, BitBtn2, &QPushButton::click);
}

std::string TForm1::SettingsPath() const {
  return start_dir_ + "/" + kSettingsFileName;
}

void TForm1::ReadSettings() {
  const std::string path = SettingsPath();
  EditRootDir->setText(
      FromLocal(platform::ReadProfileString(path, kSettingsSection, kRootDirKey, start_dir_)));
  EditCatalogDir->setText(
      FromLocal(platform::ReadProfileString(path, kSettingsSection, kCatalogDirKey, start_dir_)));
}

void TForm1::WriteSettings() {
  const std::string path = SettingsPath();
  const bool written = platform::WriteProfileString(path, kSettingsSection, kRootDirKey,
                                                    ToLocal(EditRootDir->text())) &&
                       platform::WriteProfileString(path, kSettingsSection, kCatalogDirKey,
                                                    ToLocal(EditCatalogDir->text()));
  if (!written) throw std::runtime_error("Unable to write to " + path);
}

void TForm1::SpeedButton1Click() {
  const QString folder = PickFolder(QStringLiteral("Select Folder as Root of Search"));
  if (!folder.isEmpty()) EditRootDir->setText(folder);
}

void TForm1::SpeedButton2Click() {
  const QString folder = PickFolder(QStringLiteral("Select Folder To Store Catalog File"));
  if (!folder.isEmpty()) EditCatalogDir->setText(folder);
}

void TForm1::btnOKClick() {
  // Pending events are processed during the walk; the buttons must not
  // start a second run or close the window inside this one.
  TButtonsDisabled disabled(btnOK, BitBtn2);
  TCatalogRunHooks hooks;
  hooks.ShowMessage = [this](const std::string& message) {
    if (ShowMessage) ShowMessage(FromLocal(message));
  };
  hooks.ShowMessageBox = [this](const std::string& text, const std::string& title) {
    if (ShowMessageBox) ShowMessageBox(FromLocal(text), FromLocal(title));
  };
  hooks.OnClearList = [this] { Memo1->clear(); };
  hooks.OnAddLine = [this](const std::string& line) { Memo1->appendPlainText(FromLocal(line)); };
  hooks.OnRecordAdded = [this](int32_t) { UpdateStatus(); };
  hooks.OnProcessMessages = [this] {
    UpdateStatus();
    QCoreApplication::processEvents();
  };
  ShowStatus(QString());
  if (run_.Run(ToLocal(EditRootDir->text()), ToLocal(EditCatalogDir->text()),
               ckClearCat->isChecked(), hooks)) {
    ShowStatus(QStringLiteral("Done: %1 records added").arg(run_.AddedCount()));
  }
}

void TForm1::BitBtn2Click() {
  close();
}

void TForm1::closeEvent(QCloseEvent* event) {
  // A run in progress (its buttons disabled) keeps the window open.
  if (!btnOK->isEnabled()) {
    event->ignore();
    return;
  }
  Guarded([this] {
    if (run_.Session().Active()) run_.Session().SetActive(false);
  });
  event->accept();
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int memo_height = std::max(0, height() - kMemoTop - kStatusHeight);
  Panel1->setGeometry(0, kMemoTop, width(), memo_height);
  StatusLine->setGeometry(0, kMemoTop + memo_height, width(), kStatusHeight);
}

void TForm1::ShowStatus(const QString& text) {
  StatusLine->setText(text);
}

void TForm1::UpdateStatus() {
  ShowStatus(QStringLiteral("%1 records added; walking %2")
                 .arg(run_.AddedCount())
                 .arg(FromLocal(platform::CurrentDirectory())));
}

}  // namespace vevura::app
