// The catalog builder's window driven through its controls: a run into the
// catalog table and the list file, the checks' messages, the settings file,
// appending to an old catalog, errors reaching the application's handler,
// and a screenshot.

#include "app/window/form1.h"

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <memory>

#include <gtest/gtest.h>

#include "app/catalog_table.h"
#include "app/run_list.h"
#include "app/window/tornip_application.h"
#include "components/session_list.h"
#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/profile.h"
#include "tests/app/temp_tree.h"

namespace vevura::app {
namespace {

using Lines = std::vector<std::string>;

int app_argc = 1;
char app_name[] = "test_window";
char* app_argv[] = {app_name, nullptr};

// A usable LIC file: the well, group, depth type and unit, depths and image.
std::string Lic(const std::string& well, const std::string& image, const std::string& more = "") {
  return "WELL,\"" + well + "\"\r\nGROUP,1,\"GR NPHI\"\r\n" + more + "FILE,\"" + image + "\"\r\n";
}

struct Row {
  int64_t RecId = 0;
  std::string Api, Measure, IndexUom, LogMnems, Tiff, LicName;
  double Tli = -1, Bli = -1;
  bool PathNull = false;
};

//! The catalog's records in RECID order, read by a table of its own.
std::vector<Row> ReadCatalog(const std::string& dir) {
  std::vector<Row> rows;
  TVEVURATable table;
  table.SetTableName(dir + "/" + kCatalogTableName);
  table.Open();
  for (table.First(); !table.Eof(); table.Next()) {
    Row row;
    row.RecId = table.FieldByName("RECID")->AsLargeInt();
    row.Api = table.FieldByName("API")->AsString();
    row.Tli = table.FieldByName("TLI")->AsFloat();
    row.Bli = table.FieldByName("BLI")->AsFloat();
    row.Measure = table.FieldByName("Measure")->AsString();
    row.IndexUom = table.FieldByName("IndexUOM")->AsString();
    row.LogMnems = table.FieldByName("LogMnems")->AsString();
    row.Tiff = table.FieldByName("TIFF_Filename")->AsString();
    row.LicName = table.FieldByName("LIC_Filename")->AsString();
    row.PathNull = table.FieldByName("Path")->IsNull();
    rows.push_back(row);
  }
  table.Close();
  return rows;
}

class WindowTest : public testing::Test {
 protected:
  void SetUp() override {
    app_ = std::make_unique<TTornipApplication>(app_argc, app_argv);
    app_->ShowError = [this](const QString& message) { errors_.push_back(message.toStdString()); };
    root_ = tree_.Dir("root");
    cat_ = tree_.Dir("cat");
    start_ = tree_.Dir("start");
    ASSERT_TRUE(platform::SetCurrentDirectory(start_));
  }
  void TearDown() override {
    form_.reset();
    Sessions().CloseAll();
    app_.reset();
  }

  TForm1& Form() {
    if (!form_) {
      form_ = std::make_unique<TForm1>();
      form_->ShowMessage = [this](const QString& m) { messages_.push_back(m.toStdString()); };
      form_->ShowMessageBox = [this](const QString& text, const QString& title) {
        messages_.push_back(title.toStdString() + ": " + text.toStdString());
      };
      form_->show();
    }
    return *form_;
  }
  template <typename T>
  T* Child(const char* name) {
    T* child = Form().findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  void Type(const char* name, const std::string& text) {
    QLineEdit* edit = Child<QLineEdit>(name);
    edit->clear();
    QTest::keyClicks(edit, QString::fromLocal8Bit(text));
  }
  //! Types both folders and clicks "Create Catalog".
  void CreateCatalog(const std::string& root, const std::string& catalog) {
    Type("EditRootDir", root);
    Type("EditCatalogDir", catalog);
    QTest::mouseClick(Child<QPushButton>("btnOK"), Qt::LeftButton);
  }
  Lines MemoLines() {
    Lines lines;
    const QString text = Child<QPlainTextEdit>("Memo1")->toPlainText();
    if (text.isEmpty()) return lines;
    for (const QString& line : text.split(QLatin1Char('\n'))) lines.push_back(line.toStdString());
    return lines;
  }
  bool ButtonsEnabled() {
    return Child<QPushButton>("btnOK")->isEnabled() && Child<QPushButton>("BitBtn2")->isEnabled();
  }

  test::CurrentDirectoryGuard guard_;
  test::TempTree tree_;
  std::string root_, cat_, start_;
  std::unique_ptr<TTornipApplication> app_;
  std::unique_ptr<TForm1> form_;
  Lines messages_, errors_;
};

TEST_F(WindowTest, ControlsFontsTabOrderPickersAndEscape) {
  TForm1& form = Form();
  EXPECT_EQ(form.windowTitle(), "Build LIC Import Catalog");
  const std::pair<const char*, QRect> geometries[] = {
      {"EditRootDir", {45, 33, 633, 24}},     {"SpeedButton1", {680, 33, 23, 22}},
      {"EditCatalogDir", {45, 108, 633, 24}}, {"SpeedButton2", {680, 110, 23, 22}},
      {"ckClearCat", {9, 157, 217, 17}},      {"BitBtn2", {232, 145, 105, 41}},
      {"btnOK", {368, 145, 137, 41}},         {"Panel1", {0, 192, 787, 432}}};
  for (const auto& [name, rect] : geometries)
    EXPECT_EQ(Child<QWidget>(name)->geometry(), rect) << name;
  EXPECT_EQ(Child<QLabel>("Label1")->pos(), QPoint(45, 16));
  EXPECT_EQ(Child<QLabel>("Label3")->pos(), QPoint(338, 86));
  EXPECT_EQ(Child<QAbstractButton>("btnOK")->text(), "Create Catalog");
  EXPECT_TRUE(Child<QCheckBox>("ckClearCat")->isChecked());
  QPlainTextEdit* memo = Child<QPlainTextEdit>("Memo1");
  EXPECT_TRUE(memo->isReadOnly());
  // Metric-compatible stand-ins where the named fonts are missing.
  EXPECT_EQ(QFontInfo(Child<QLabel>("Label2")->font()).family(), "Liberation Sans");
  EXPECT_TRUE(Child<QLabel>("Label2")->font().bold());
  EXPECT_EQ(QFontInfo(memo->font()).family(), "Liberation Mono");
  EXPECT_EQ(QFontInfo(form.font()).family(), "Liberation Sans");
  // Labels end before what stands to their right.
  EXPECT_LE(Child<QLabel>("Label2")->geometry().right(), 338);
  EXPECT_LE(Child<QCheckBox>("ckClearCat")->sizeHint().width(), 232 - 9);

  // The memo grows with the window; the status line stays below it.
  form.resize(900, 800);
  EXPECT_EQ(Child<QWidget>("Panel1")->geometry(), QRect(0, 192, 900, 800 - 192 - 20));
  EXPECT_EQ(memo->size(), QSize(900, 800 - 192 - 20));
  EXPECT_EQ(Child<QLabel>("StatusLine")->geometry(), QRect(0, 780, 900, 20));

  Lines chain;
  QWidget* widget = Child<QWidget>("EditRootDir");
  for (int i = 0; i < 5; ++i, widget = widget->nextInFocusChain()) {
    while (widget->focusPolicy() == Qt::NoFocus || !widget->isVisibleTo(&form))
      widget = widget->nextInFocusChain();
    chain.push_back(widget->objectName().toStdString());
  }
  EXPECT_EQ(chain, (Lines{"EditRootDir", "btnOK", "BitBtn2", "ckClearCat", "EditCatalogDir"}));

  // A cancelled picker leaves the field as it was.
  Lines titles;
  QString answer = QString::fromStdString(root_);
  form.PickFolder = [&](const QString& title) {
    titles.push_back(title.toStdString());
    return answer;
  };
  QTest::mouseClick(Child<QToolButton>("SpeedButton1"), Qt::LeftButton);
  answer.clear();
  QTest::mouseClick(Child<QToolButton>("SpeedButton2"), Qt::LeftButton);
  EXPECT_EQ(titles,
            (Lines{"Select Folder as Root of Search", "Select Folder To Store Catalog File"}));
  EXPECT_EQ(Child<QLineEdit>("EditRootDir")->text().toStdString(), root_);
  EXPECT_EQ(Child<QLineEdit>("EditCatalogDir")->text().toStdString(), test::PhysicalPath(start_));

  // Esc presses "Close", which closes the window and its session.
  form.CatalogRun().Session().SetActive(true);
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  QTest::keyClick(&form, Qt::Key_Escape);
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(form.CatalogRun().Session().Active());
}

TEST_F(WindowTest, RunFillsTheListTheCatalogAndTheListFile) {
  tree_.File("root/a.tif", "");
  tree_.File("root/a.lic", Lic("42-123-45678-00-00-LONG", "a.tif",
                               "DEPTHTYPE,1\r\nDEPTHUNITS,1\r\nDEPPIX,0\r\nDEPPIX,1500.5\r\n"
                               "DEPPIX,2300\r\n"));
  tree_.File("root/b.tif", "");
  tree_.File("root/b.lic", Lic("b-well", "b.tif", "DEPTHTYPE,0\r\nDEPTHUNITS,0\r\n"));
  tree_.File("root/c.lic", Lic("no-image", "missing.tif"));
  // Blanks around the catalog field pass the checks.
  CreateCatalog(root_, " " + cat_ + "\t");
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(errors_.empty());
  EXPECT_TRUE(ButtonsEnabled());

  Lines lines = MemoLines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "Root Dir   : " + root_);
  EXPECT_EQ(lines[1], "Catalog Dir: " + cat_);
  EXPECT_EQ(lines[2], "======> " + root_);
  Lines lic_lines(lines.begin() + 3, lines.begin() + 5);
  std::sort(lic_lines.begin(), lic_lines.end());
  EXPECT_EQ(lic_lines, (Lines{LicLine("42-123-45678-00-00-LONG", "GR NPHI", "a.lic"),
                              LicLine("b-well", "GR NPHI", "b.lic")}));
  EXPECT_EQ(lines[5], "2 Records Added to Database");
  EXPECT_EQ(Child<QLabel>("StatusLine")->text(), "Done: 2 records added");

  std::string list_text;
  for (const std::string& line : lines) list_text += line + "\r\n";
  EXPECT_EQ(test::ReadWholeFile(cat_ + "/Tornip.txt"), list_text);

  const std::string dir = test::PhysicalPath(root_);
  std::vector<Row> rows = ReadCatalog(cat_);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].RecId, 1);
  EXPECT_EQ(rows[1].RecId, 2);
  if (rows[0].Api != "b-well") std::swap(rows[0], rows[1]);
  const Row& b = rows[0];
  const Row& a = rows[1];
  EXPECT_EQ(a.Api, "42-123-45678-00-00");  // cut to the field's 18 characters
  EXPECT_EQ(a.Tli, 1500.5);
  EXPECT_EQ(a.Bli, 2300);
  EXPECT_EQ(a.Measure, "TVD");
  EXPECT_EQ(a.IndexUom, "M");
  EXPECT_EQ(a.LogMnems, "GR NPHI");
  EXPECT_EQ(a.Tiff, dir + "/a.tif");
  EXPECT_EQ(a.LicName, dir + "/a.lic");
  EXPECT_EQ(b.Api, "b-well");
  EXPECT_EQ(b.Tli, 0);
  EXPECT_EQ(b.Bli, 0);
  EXPECT_EQ(b.Measure, "MD");
  EXPECT_EQ(b.IndexUom, "F");
  EXPECT_EQ(b.LogMnems, "GR NPHI");
  EXPECT_EQ(b.Tiff, dir + "/b.tif");
  EXPECT_EQ(b.LicName, dir + "/b.lic");
  EXPECT_TRUE(a.PathNull && b.PathNull);
}

TEST_F(WindowTest, FailedChecksShowTheirMessageAndChangeNothing) {
  const std::pair<std::string, std::string> fields[] = {
      {" \t", cat_}, {tree_.Path("none"), cat_}, {root_, "  "}, {root_, tree_.Path("x/y")}};
  for (const auto& [root, catalog] : fields) CreateCatalog(root, catalog);
  EXPECT_EQ(messages_, (Lines{"Missing \"Root\" Directory", "Invalid \"Root\" Directory",
                              "Missing \"Catalog\" Directory", "Invalid \"Catalog\" Directory"}));
  EXPECT_TRUE(errors_.empty());
  EXPECT_TRUE(MemoLines().empty());
  EXPECT_TRUE(ButtonsEnabled());
  std::vector<platform::DirEntry> entries;
  ASSERT_TRUE(platform::ListDirectory(cat_, platform::ListOptions(), &entries));
  EXPECT_TRUE(entries.empty());
}

TEST_F(WindowTest, SettingsFileRoundTripAndAFileThatCannotBeWritten) {
  const std::string start = test::PhysicalPath(start_);
  EXPECT_EQ(Child<QLineEdit>("EditRootDir")->text().toStdString(), start);
  EXPECT_EQ(Child<QLineEdit>("EditCatalogDir")->text().toStdString(), start);
  Type("EditRootDir", root_);
  Type("EditCatalogDir", cat_ + "/sub dir");
  form_.reset();
  const std::string ini = start + "/TORNIP.INI";
  EXPECT_EQ(platform::ReadProfileString(ini, "DEFAULTS", "ROOTDIR", "?"), root_);
  EXPECT_EQ(platform::ReadProfileString(ini, "DEFAULTS", "CATALOGDIR", "?"), cat_ + "/sub dir");
  EXPECT_EQ(Child<QLineEdit>("EditRootDir")->text().toStdString(), root_);
  EXPECT_EQ(Child<QLineEdit>("EditCatalogDir")->text().toStdString(), cat_ + "/sub dir");
  EXPECT_TRUE(errors_.empty());
  form_.reset();

  // A directory in the settings file's place: read as missing, not writable.
  const std::string blocked = tree_.Dir("blocked/TORNIP.INI");
  ASSERT_TRUE(platform::SetCurrentDirectory(tree_.Path("blocked")));
  EXPECT_EQ(Child<QLineEdit>("EditRootDir")->text().toStdString(),
            test::PhysicalPath(tree_.Path("blocked")));
  form_.reset();
  EXPECT_EQ(errors_, (Lines{"Unable to write to " + test::PhysicalPath(blocked)}));
}

TEST_F(WindowTest, UncheckedBoxAppendsWithRecIdsContinuingCheckedBoxStartsAfresh) {
  tree_.File("root/a.tif", "");
  tree_.File("root/a.lic", Lic("a-well", "a.tif"));
  const std::string second = tree_.Dir("second");
  tree_.File("second/b.tif", "");
  tree_.File("second/b.lic", Lic("b-well", "b.tif"));
  QTest::mouseClick(Child<QCheckBox>("ckClearCat"), Qt::LeftButton);
  ASSERT_FALSE(Child<QCheckBox>("ckClearCat")->isChecked());
  // No catalog yet: made although the box is unchecked. The walk lets
  // events through before entering "sub": the buttons are disabled then, the
  // status line names the directory walked, and closing is refused.
  tree_.Dir("root/sub");
  Lines during;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (ButtonsEnabled()) return;
    during.push_back(Child<QLabel>("StatusLine")->text().toStdString());
    Form().close();
  });
  poll.start(0);
  CreateCatalog(root_, cat_);
  poll.stop();
  ASSERT_FALSE(during.empty());
  EXPECT_NE(during[0].find(" records added; walking " + test::PhysicalPath(root_)),
            std::string::npos)
      << during[0];
  EXPECT_TRUE(Form().isVisible());
  CreateCatalog(second, cat_);
  CreateCatalog(root_, cat_);
  std::vector<Row> rows = ReadCatalog(cat_);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].RecId, 1);
  EXPECT_EQ(rows[0].Api, "a-well");
  EXPECT_EQ(rows[1].RecId, 2);
  EXPECT_EQ(rows[1].Api, "b-well");
  EXPECT_EQ(rows[2].RecId, 3);
  EXPECT_EQ(rows[2].Api, "a-well");

  QTest::mouseClick(Child<QCheckBox>("ckClearCat"), Qt::LeftButton);
  CreateCatalog(second, cat_);
  rows = ReadCatalog(cat_);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].RecId, 1);
  EXPECT_EQ(rows[0].Api, "b-well");
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(errors_.empty());
}

TEST_F(WindowTest, RunErrorsReachTheErrorHandlerAndTheWindowStaysUsable) {
  tree_.File("root/a.tif", "");
  tree_.File("root/a.lic", "WELL,w\r\nGROUP,x\r\nFILE,a.tif\r\n");
  CreateCatalog(root_, cat_);
  EXPECT_EQ(errors_, (Lines{"List index out of bounds (2)"}));
  EXPECT_TRUE(ButtonsEnabled());
  EXPECT_EQ(MemoLines().size(), 3u);
  EXPECT_FALSE(platform::FileExists(cat_ + "/Tornip.txt"));

  // The next run disconnects what the failed one left open.
  tree_.File("root/a.lic", Lic("w", "a.tif"));
  CreateCatalog(root_, cat_);
  EXPECT_EQ(errors_.size(), 1u);
  EXPECT_EQ(MemoLines().back(), "1 Records Added to Database");
  EXPECT_EQ(ReadCatalog(cat_).size(), 1u);

  // A catalog that cannot be created: its box first, then the engine's error.
  tree_.Dir("blocked/LICCATALOG.DAT");
  CreateCatalog(root_, tree_.Path("blocked"));
  EXPECT_EQ(messages_, (Lines{"Table Creation Failure: Catalog Table Could Not Be Created"}));
  EXPECT_EQ(errors_.size(), 2u);
  EXPECT_TRUE(ButtonsEnabled());

  // Whatever other event handler lets an error escape, the application shows it.
  struct Thrower : QObject {
    bool event(QEvent*) override { throw std::runtime_error("escaped"); }
  } thrower;
  QEvent event(QEvent::User);
  QCoreApplication::sendEvent(&thrower, &event);
  EXPECT_EQ(errors_.back(), "escaped");
}

TEST_F(WindowTest, OldCatalogHeldOpenElsewhereIsNotDeleted) {
  tree_.File("root/a.tif", "");
  tree_.File("root/a.lic", Lic("held", "a.tif"));
  CreateCatalog(root_, cat_);
  ASSERT_EQ(ReadCatalog(cat_).size(), 1u);
  {
    TVEVURASession other;
    other.SetSessionName("Holder");
    TVEVURATable held;
    held.SetSessionName("Holder");
    held.SetTableName(cat_ + "/" + kCatalogTableName);
    held.Open();
    CreateCatalog(root_, cat_);
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_NE(errors_[0].find(kCatalogTableName), std::string::npos) << errors_[0];
    EXPECT_TRUE(ButtonsEnabled());
    held.First();
    EXPECT_EQ(held.RecordCount(), 1);
    EXPECT_EQ(held.FieldByName("API")->AsString(), "held");
    held.Close();
  }
  std::vector<Row> rows = ReadCatalog(cat_);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Api, "held");
}

TEST_F(WindowTest, ScreenshotAfterARun) {
  tree_.File("root/a.tif", "");
  tree_.File("root/a.lic", Lic("42-123-45678", "a.tif", "DEPTHTYPE,0\r\nDEPTHUNITS,0\r\n"));
  tree_.File("root/b.tif", "");
  tree_.File("root/b.lic", Lic("42-123-98765", "b.tif", "DEPTHTYPE,1\r\nDEPTHUNITS,1\r\n"));
  CreateCatalog(root_, cat_);
  ASSERT_TRUE(errors_.empty());
  const QImage image = Form().grab().toImage();
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(787, 644) * Form().devicePixelRatio());
  ASSERT_TRUE(image.save(QStringLiteral(TORNIP_WINDOW_PNG)));
  EXPECT_EQ(QImage(QStringLiteral(TORNIP_WINDOW_PNG)).size(), image.size());
}

}  // namespace
}  // namespace vevura::app
