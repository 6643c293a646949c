#pragma once
// TForm1: the catalog builder's window, "Build LIC Import Catalog".
//
// The user names the root of a tree of LIC files and the catalog directory,
// decides with ckClearCat whether the old catalog is cleared, and presses
// "Create Catalog" (btnOK); the run itself is TCatalogRun's. Memo1 shows the
// run's list, StatusLine the directory being walked and the records added so
// far. Both directory fields are remembered in section DEFAULTS of
// "TORNIP.INI" in the directory that was current when the window was made
// (StartDir): read when the window is made, written back when it is
// destroyed.
//
// Messages leave the window through injectable functions, so tests can answer
// them: ShowMessage (a check's message), ShowMessageBox (the box of a failed
// table creation) and PickFolder (the folder pickers). The run does not catch
// its errors: the click's handler passes them to
// vevura::HandleApplicationError, which the application (TTornipApplication)
// routes to its error display, and the window stays usable. The destructor
// cannot throw either, so a settings file that cannot be written is reported
// the same way.

#include <QString>
#include <QWidget>
#include <functional>
#include <string>

#include "app/catalog_run.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

namespace vevura::app {

//! The settings file's name, its section and keys.
inline constexpr const char* kSettingsFileName = "TORNIP.INI";
inline constexpr const char* kSettingsSection = "DEFAULTS";
inline constexpr const char* kRootDirKey = "ROOTDIR";
inline constexpr const char* kCatalogDirKey = "CATALOGDIR";

class TForm1 : public QWidget {
 public:
  //! FormCreate: StartDir is the current directory; the fields are read
  //! from the settings file (StartDir where it has no value).
  explicit TForm1(QWidget* parent = nullptr);
  //! FormDestroy: writes the settings file; a failure goes to
  //! HandleApplicationError as "Unable to write to <path>".
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  //! Shows a check's message; by default an information box.
  std::function<void(const QString& message)> ShowMessage;
  //! Shows a message box with a title and an OK button.
  std::function<void(const QString& text, const QString& title)> ShowMessageBox;
  //! Asks for a folder with the given title, starting in the current
  //! directory; an empty result means cancelled.
  std::function<QString(const QString& title)> PickFolder;

  const std::string& StartDir() const { return start_dir_; }
  //! The full path of the settings file.
  std::string SettingsPath() const;
  //! Writes both fields' text, untrimmed, to the settings file; throws
  //! std::runtime_error "Unable to write to <path>" on failure.
  void WriteSettings();
  TCatalogRun& CatalogRun() { return run_; }

  // Event handlers.
  void SpeedButton1Click();
  void SpeedButton2Click();
  //! The run; its errors propagate.
  void btnOKClick();
  void BitBtn2Click();

 protected:
  //! FormClose: deactivates the session.
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void CreateControls();
  void ReadSettings();
  void ShowStatus(const QString& text);
  void UpdateStatus();

  TCatalogRun run_;
  std::string start_dir_;

  QLabel* Label1;
  QLineEdit* EditRootDir;
  QToolButton* SpeedButton1;
  QLabel* Label2;
  QLabel* Label3;
  QLineEdit* EditCatalogDir;
  QToolButton* SpeedButton2;
  QCheckBox* ckClearCat;
  QPushButton* BitBtn2;
  QPushButton* btnOK;
  QFrame* Panel1;
  QFrame* Panel2;
  QPlainTextEdit* Memo1;
  QLabel* StatusLine;
};

}  // namespace vevura::app
