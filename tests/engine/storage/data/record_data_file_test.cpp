// Records through the data file that owns them: a large table appended and
// scanned with counted physical reads and writes, reopened and checked, and
// errors that name the table.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/storage/data/data_file.h"
#include "engine/storage/data/data_verify.h"
#include "engine/storage/data/field_validation.h"
#include "engine/storage/fields/record_layout.h"
#include "platform/file_system.h"
#include "tests/engine/storage/file_layer_support.h"
#include "tests/engine/storage/table_definition_support.h"
#include "tests/support/fault_file_system.h"

namespace vevura::test {
namespace {

using Operation = platform::FaultFileSystem::Operation;

class RecordDataFileTest : public FileLayerTest {
 protected:
  void SetUp() override {
    FileLayerTest::SetUp();
    platform::SetFileSystem(&fault_);
  }
  void TearDown() override {
    file_.reset();
    platform::SetFileSystem(nullptr);
    FileLayerTest::TearDown();
  }

  //! Creates a table whose records are 100 bytes: one string of 89
  //! characters (90 data bytes and a flag after the 9-byte record header).
  void CreateTable() {
    std::vector<TFieldDescriptor> fields = {
        FieldDefinition(1, "NAME", fcString, fsNone, 89, false)};
    ValidateNewFields(fields, "WELLS");
    file_ = std::make_unique<TDataFile>();
    file_->SetFileName(PathOf("WELLS.DAT"));
    file_->SetTableName("WELLS");
    file_->SetDatabaseName("/data/");
    file_->CreateHeader(TNewTableHeader(), fields);
    file_->WriteHeader(false);
    file_->WriteFieldDescriptors();
  }

  //! The bytes record n's string field holds in these tests.
  static uint8_t Mark(int32_t n) { return static_cast<uint8_t>(n * 31 + 7); }

  platform::FaultFileSystem fault_{platform::PosixFileSystem()};
  std::unique_ptr<TDataFile> file_;
};

TEST_F(RecordDataFileTest, LargeTableIsWrittenAndScannedInWholeRuns) {
  CreateTable();
  TRecordStorage& records = file_->Records();
  ASSERT_EQ(file_->RecordSize(), 100);
  ASSERT_EQ(records.ReadAheadCount(), 81);
  ASSERT_EQ(records.Cache().Capacity(), 163);

  const int32_t count = 100000;
  const int64_t writes_before = fault_.Count(Operation::Write);
  for (int32_t n = 1; n <= count; ++n) {
    TRecordRef record(records, records.AllocateRecord(nullptr));
    ASSERT_EQ(record->RecordNumber(), n);
    record->SetAutoIncValue(file_->NextAutoIncValue());
    record->MutableData()[9] = 1;
    record->MutableData()[10] = Mark(n);
  }
  records.FlushRecords();
  // Appended records are written in runs of half the cache, one write each.
  EXPECT_EQ(fault_.Count(Operation::Write) - writes_before, (count + 80) / 81);
  file_->WriteHeader(false);
  file_->Close();

  file_->Open();
  file_->VerifyHeader();
  EXPECT_EQ(file_->Header().NextRecordNumber, count + 1);
  TRecordAreaReport report = VerifyRecordArea(*file_, file_->Header(), true);
  EXPECT_TRUE(report.Sound());
  EXPECT_EQ(report.LiveRecords, count);

  const int64_t reads_before = fault_.Count(Operation::Read);
  for (int32_t n = 1; n <= count; ++n) {
    TRecordRef record(records, records.GetRecord(nullptr, n, rdForward, false, true));
    ASSERT_EQ(record->AutoIncValue(), n);
    ASSERT_EQ(record->Data()[10], Mark(n)) << n;
  }
  // 8100 bytes per read: each stretch of the file is read once.
  EXPECT_EQ(fault_.Count(Operation::Read) - reads_before, (count + 80) / 81);
}

TEST_F(RecordDataFileTest, ErrorsNameTheTableAndItsDatabase) {
  CreateTable();
  std::optional<EVEVURAEngineError> error =
      RaisedBy([&] { file_->Records().GetRecord(nullptr, 0, rdForward, false, true); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ErrorCode, VEVURA_FILECORRUPT);
  EXPECT_EQ(error->ErrorTable, "WELLS");
  EXPECT_EQ(error->ErrorDatabase, "/data/");

  file_->MutableHeader().NextRecordNumber = 1000000001;
  error = RaisedBy([&] { file_->Records().AllocateRecord(nullptr); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ErrorCode, VEVURA_TABLEFULL);
  EXPECT_EQ(error->ErrorTable, "WELLS");
}

TEST_F(RecordDataFileTest, ClosingDropsBuffersEvenWhilePinned) {
  CreateTable();
  TRecordRef kept(file_->Records(), file_->Records().AllocateRecord(nullptr));
  kept->MutableData()[10] = 5;
  file_->Records().FlushRecords();  // pinned: not written
  file_->WriteHeader(false);
  file_->Close();
  EXPECT_EQ(file_->Records().Cache().Count(), 0);
  EXPECT_EQ(kept->Data()[10], 5);  // the holder's buffer stays valid
  kept.Release();
  EXPECT_EQ(file_->Records().Cache().DroppedPinned(), 0u);

  // The slot the header counted never reached the file: reading the header
  // says so.
  EXPECT_EQ(CodeRaisedBy([&] { file_->Open(); }), VEVURA_HEADERCORRUPT);
  EXPECT_FALSE(file_->IsOpen());
}

}  // namespace
}  // namespace vevura::test
