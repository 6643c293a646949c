// Record storage against a simple model: random inserts, deletes, rewrites
// and fetches through a cache small enough to evict and write back all the
// time, checking the file and its structure after every batch.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/data/data_verify.h"
#include "engine/storage/data/record_storage.h"
#include "tests/engine/storage/data/record_storage_support.h"

namespace vevura::test {
namespace {

struct TModelConfig {
  bool InMemory;
  bool Encrypted;
  bool PrimaryIndex;
  uint16_t RecordSize;
  int32_t CacheBuffers;  //!< capacity the cache is sized to
  uint32_t Seed;
};

std::string Describe(const TModelConfig& c) {
  return std::string(c.InMemory ? "memory" : "disk") + (c.Encrypted ? " encrypted" : "") +
         (c.PrimaryIndex ? "" : " no-primary") + " size " + std::to_string(c.RecordSize) +
         " buffers " + std::to_string(c.CacheBuffers) + " seed " + std::to_string(c.Seed);
}

//! What the record area should hold: every slot's plain image and the chain head.
class TRecordModel {
 public:
  TRecordModel(uint16_t record_size, bool primary) : record_size_(record_size), primary_(primary) {}

  int32_t NextInsert() const {
    return first_free_ != 0 && primary_ ? first_free_ : static_cast<int32_t>(images_.size()) + 1;
  }
  //! The slot an insert takes, as the storage leaves it: live, own number.
  int32_t Allocate() {
    const int32_t n = NextInsert();
    if (n == static_cast<int32_t>(images_.size()) + 1) {
      images_.emplace_back(record_size_, 0);
      first_free_ = 0;
    } else {
      first_free_ = RecordLink(images_[n - 1]);
      RemoveFree(n);
    }
    SetRecordStatus(images_[n - 1], rsLive);
    SetRecordLink(images_[n - 1], n);
    live_.push_back(n);
    return n;
  }
  void Free(int32_t n) {
    std::vector<uint8_t>& image = images_[n - 1];
    SetRecordStatus(image, rsFree);
    SetRecordLink(image, primary_ ? first_free_ : 0);
    first_free_ = n;
    live_.erase(std::find(live_.begin(), live_.end(), n));
    free_.push_back(n);
  }
  std::vector<uint8_t>& Image(int32_t n) { return images_[n - 1]; }
  int32_t Slots() const { return static_cast<int32_t>(images_.size()); }
  int32_t FirstFree() const { return first_free_; }
  const std::vector<int32_t>& Live() const { return live_; }
  int32_t FreeCount() const { return static_cast<int32_t>(free_.size()); }

 private:
  void RemoveFree(int32_t n) { free_.erase(std::find(free_.begin(), free_.end(), n)); }

  uint16_t record_size_;
  bool primary_;
  std::vector<std::vector<uint8_t>> images_;  //!< slot n at n - 1
  int32_t first_free_ = 0;
  std::vector<int32_t> live_;  //!< live slot numbers, any order
  std::vector<int32_t> free_;  //!< free slot numbers, any order
};

class RecordStorageModelTest : public FileLayerTest {
 protected:
  void Run(const TModelConfig& config, int batches, int operations);

 private:
  void Step(std::mt19937& rng);
  void Insert(std::mt19937& rng);
  void Delete(std::mt19937& rng);
  void Rewrite(std::mt19937& rng);
  void Read(std::mt19937& rng);
  void WritePayload(TRecord& record, std::mt19937& rng);
  TRecord* Get(int32_t n, std::mt19937& rng);
  void CheckFile();

  std::unique_ptr<TTestDataFile> data_;
  std::unique_ptr<TRecordModel> model_;
  TTestCursor cursor_;
  std::vector<TRecordRef> held_;  //!< buffers kept pinned across steps
  bool primary_ = true;
};

TRecord* RecordStorageModelTest::Get(int32_t n, std::mt19937& rng) {
  const auto direction = rng() % 2 == 0 ? rdForward : rdBackward;
  // The records the cursor names: neighbours, others anywhere, and numbers
  // outside the slots (the append slot among them), which are not read.
  cursor_.Ahead.clear();
  for (uint32_t k = rng() % 6; k > 0; --k) {
    const auto near = n + static_cast<int32_t>(k) * (direction == rdForward ? 1 : -1);
    cursor_.Ahead.push_back(
        rng() % 2 == 0 ? near : static_cast<int32_t>(rng() % (model_->Slots() + 3)) - 1);
  }
  TRecord* record =
      data_->storage.GetRecord(&cursor_, n, direction, rng() % 2 == 0, rng() % 4 != 0);
  EXPECT_NE(record, nullptr);
  return record;
}

void RecordStorageModelTest::WritePayload(TRecord& record, std::mt19937& rng) {
  const int32_t row_id = static_cast<int32_t>(rng());
  const auto seed = static_cast<uint8_t>(rng());
  record.SetAutoIncValue(row_id);
  std::span<uint8_t> bytes = record.MutableData();
  for (size_t i = kRecordHeaderSize; i < bytes.size(); ++i) {
    bytes[i] = static_cast<uint8_t>(seed + i * 7);
  }
  std::vector<uint8_t>& image = model_->Image(record.RecordNumber());
  std::copy(bytes.begin() + kRecordHeaderSize, bytes.end(), image.begin() + kRecordHeaderSize);
  SetRecordRowId(image, row_id);
}

void RecordStorageModelTest::Insert(std::mt19937& rng) {
  ASSERT_EQ(data_->storage.NextInsertRecord(), model_->NextInsert());
  TRecordRef record(data_->storage, data_->storage.AllocateRecord(&cursor_));
  ASSERT_TRUE(record);
  const int32_t expected = model_->Allocate();
  ASSERT_EQ(record->RecordNumber(), expected);
  ASSERT_EQ(ImageOf(*record), model_->Image(expected)) << "record " << expected;
  if (rng() % 8 != 0) WritePayload(*record, rng);
  if (rng() % 10 == 0) held_.push_back(std::move(record));
}

void RecordStorageModelTest::Delete(std::mt19937& rng) {
  if (model_->Live().empty()) return;
  const int32_t n = model_->Live()[rng() % model_->Live().size()];
  TRecordRef record(data_->storage, Get(n, rng));
  ASSERT_TRUE(record);
  data_->storage.FreeRecord(record.get());
  model_->Free(n);
  ASSERT_EQ(data_->header.FirstFreeRecord, model_->FirstFree());
}

void RecordStorageModelTest::Rewrite(std::mt19937& rng) {
  if (model_->Live().empty()) return;
  const int32_t n = model_->Live()[rng() % model_->Live().size()];
  TRecordRef record(data_->storage, Get(n, rng));
  ASSERT_TRUE(record);
  WritePayload(*record, rng);
}

void RecordStorageModelTest::Read(std::mt19937& rng) {
  if (model_->Slots() == 0) return;
  const int32_t n = 1 + static_cast<int32_t>(rng() % model_->Slots());
  TRecordRef record(data_->storage, Get(n, rng));
  ASSERT_TRUE(record);
  ASSERT_EQ(ImageOf(*record), model_->Image(n)) << "record " << n;
}

void RecordStorageModelTest::Step(std::mt19937& rng) {
  const uint32_t pick = rng() % 100;
  if (pick < 30) {
    Insert(rng);
  } else if (pick < 45) {
    Delete(rng);
  } else if (pick < 60) {
    Rewrite(rng);
  } else if (pick < 94) {
    Read(rng);
  } else if (pick < 96) {
    held_.clear();
  } else if (pick < 97) {
    data_->storage.FlushRecords();
  } else if (pick < 98) {
    data_->storage.TrimCache();
    ASSERT_LE(data_->storage.Cache().Count(),
              std::max<int32_t>(data_->storage.Cache().Capacity(), held_.size()));
  } else {
    // Another user changed the table: everything cached is forgotten, so
    // the file must hold every change made so far.
    held_.clear();
    data_->storage.FlushRecords();
    data_->storage.DropAllRecords();
  }
}

void RecordStorageModelTest::CheckFile() {
  held_.clear();
  data_->storage.FlushRecords();
  for (const auto& buffer : data_->storage.Cache().Buffers()) ASSERT_FALSE(buffer->Dirty());
  ASSERT_EQ(data_->header.NextRecordNumber, model_->Slots() + 1);
  ASSERT_EQ(data_->header.FirstFreeRecord, model_->FirstFree());
  for (int32_t n = 1; n <= model_->Slots(); ++n) {
    ASSERT_EQ(data_->FileImage(n), model_->Image(n)) << "record " << n;
  }
  TRecordAreaReport report = VerifyRecordArea(data_->file, data_->header, primary_);
  ASSERT_TRUE(report.Sound()) << report.Problems.front();
  EXPECT_EQ(report.Slots, model_->Slots());
  EXPECT_EQ(report.LiveRecords, static_cast<int32_t>(model_->Live().size()));
  EXPECT_EQ(report.FreeRecords, model_->FreeCount());
  if (primary_) {
    EXPECT_EQ(report.ChainLength, model_->FreeCount());
  }
}

void RecordStorageModelTest::Run(const TModelConfig& config, int batches, int operations) {
  SCOPED_TRACE(Describe(config));
  data_ = std::make_unique<TTestDataFile>(config.InMemory ? "model" : PathOf("MODEL.DAT"),
                                          config.InMemory, config.RecordSize, 3, config.Encrypted);
  data_->table.PrimaryIndex = config.PrimaryIndex;
  // Writes are deferred as on an exclusive table: appended records may exist
  // only in memory when a read-ahead run reaches them.
  data_->table.ShortReads = true;
  data_->storage.SetBufferLimits(config.RecordSize * config.CacheBuffers,
                                 kDefaultRecordBufferCount);
  data_->storage.SizeCache();
  model_ = std::make_unique<TRecordModel>(config.RecordSize, config.PrimaryIndex);
  primary_ = config.PrimaryIndex;
  std::mt19937 rng(config.Seed);
  for (int batch = 0; batch < batches; ++batch) {
    data_->table.TransactionLock = rng() % 4 == 0;
    for (int i = 0; i < operations; ++i) {
      Step(rng);
      if (HasFatalFailure()) return;
    }
    data_->table.TransactionLock = false;
    CheckFile();
    if (HasFatalFailure()) return;
  }
  held_.clear();
  data_.reset();
}

TEST_F(RecordStorageModelTest, DiskFilesMatchTheModel) {
  Run({false, false, true, 40, 6, 11}, 30, 300);
  Run({false, true, true, 1000, 3, 12}, 20, 200);
  Run({false, false, false, 64, 9, 13}, 20, 300);
}

TEST_F(RecordStorageModelTest, InMemoryFilesMatchTheModel) {
  Run({true, false, true, 24, 5, 21}, 30, 300);
  Run({true, true, true, 333, 2, 22}, 20, 300);
  Run({true, true, false, 9000, 1, 23}, 15, 200);
}

}  // namespace
}  // namespace vevura::test
