// BLOB chains of random sizes written, rewritten, truncated and freed,
// compared after every batch with a model kept in memory, with the file's
// structure checked and freed blocks seen to be reused before the file grows.

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/storage/blob/blob_verify.h"
#include "tests/engine/storage/blob/blob_test_support.h"

namespace vevura {
namespace {

using test::TBlobFileKind;

struct ModelBlob {
  int32_t FirstBlock = 0;
  int32_t BlobId = 0;
  std::vector<uint8_t> Bytes;
};

struct ModelConfig {
  TBlobFileKind Kind;
  int32_t BufferBytes;  //!< the block cache's budget
  bool Transaction;     //!< batches run under the transaction lock
  size_t MaxSize;       //!< largest BLOB made
  uint32_t Seed;
};

class TransactionState final : public TBlobTableState {
 public:
  bool TransactionLockHeld() const override { return held; }
  bool ShortReadAllowed() const override { return held && written; }
  void NoteWritten() override { written = true; }
  bool held = false;
  bool written = false;
};

class BlobChainModelTest : public test::BlobFileTest {
 protected:
  void Run(const ModelConfig& config);

 private:
  std::unique_ptr<TBlobFile> Reopen(const ModelConfig& config);
  size_t RandomSize(size_t max);
  int64_t BlocksFor(size_t length) const {
    return static_cast<int64_t>((length + data_size_ - 1) / data_size_);
  }
  //! Blocks the file must grow by to give a BLOB extra more blocks.
  int64_t Growth(int64_t extra) const {
    int64_t free = file_->LastBlock() - live_blocks_;
    return std::max<int64_t>(extra - free, 0);
  }
  void CreateBlob();
  void ChangeBlob(ModelBlob& blob, bool truncate);
  void DeleteBlob(size_t index);
  void CheckBatch(const ModelConfig& config, int batch);
  std::vector<uint8_t> Loaded(const ModelBlob& blob) {
    return Load(*file_, blob.FirstBlock, blob.BlobId);
  }

  std::mt19937 random_;
  std::unique_ptr<TBlobFile> file_;
  TransactionState table_;
  std::vector<ModelBlob> blobs_;
  int64_t live_blocks_ = 0;
  int32_t next_id_ = 1;
  size_t data_size_ = 0;
  size_t max_size_ = 0;
};

size_t BlobChainModelTest::RandomSize(size_t max) {
  switch (random_() % 8) {
    case 0:
      return random_() % 3 == 0 ? 0 : data_size_ * (1 + random_() % 3);  // exact fits
    case 1:
    case 2:
      return random_() % 200;
    case 3:
    case 4:
      return random_() % 6000;
    case 5:
    case 6:
      return random_() % std::min<size_t>(60000, max);
    default:
      return random_() % max;
  }
}

std::unique_ptr<TBlobFile> BlobChainModelTest::Reopen(const ModelConfig& config) {
  std::unique_ptr<TBlobFile> file = FileObject(config.Kind);
  file->SetBufferLimits(config.BufferBytes, 8192);
  file->SetTableState(&table_);
  return file;
}

void BlobChainModelTest::CreateBlob() {
  ModelBlob blob;
  blob.Bytes = test::RandomBytes(random_, RandomSize(max_size_));
  blob.BlobId = next_id_++;
  int32_t last = file_->LastBlock();
  int64_t growth = Growth(BlocksFor(blob.Bytes.size()));
  blob.FirstBlock = Store(*file_, blob.Bytes, blob.BlobId);
  ASSERT_EQ(file_->LastBlock(), last + growth) << "free blocks were not reused";
  ASSERT_EQ(blob.FirstBlock == 0, blob.Bytes.empty());
  live_blocks_ += BlocksFor(blob.Bytes.size());
  blobs_.push_back(std::move(blob));
}

void BlobChainModelTest::ChangeBlob(ModelBlob& blob, bool truncate) {
  TBlobBuffer buffer(*file_, nullptr);
  buffer.SetFirstBlock(blob.FirstBlock);
  buffer.SetBlobId(blob.BlobId);
  buffer.LoadBlob();
  ASSERT_EQ(std::vector<uint8_t>(buffer.Data(), buffer.Data() + buffer.Length()), blob.Bytes);
  size_t old_size = blob.Bytes.size();
  size_t new_size =
      truncate ? (old_size == 0 ? 0 : random_() % (old_size + 1)) : RandomSize(max_size_);
  blob.Bytes.resize(new_size);
  if (!truncate) {
    // Some of the old bytes change too.
    for (size_t i = 0; i < std::min<size_t>(new_size, 64); ++i) {
      blob.Bytes[random_() % new_size] = static_cast<uint8_t>(random_());
    }
    for (size_t i = old_size; i < new_size; ++i) blob.Bytes[i] = static_cast<uint8_t>(random_());
  }
  Fill(buffer, blob.Bytes);
  EXPECT_EQ(buffer.Modified(), new_size != old_size);
  int32_t last = file_->LastBlock();
  int64_t extra = BlocksFor(new_size) - BlocksFor(old_size);
  int64_t growth = Growth(extra);
  blob.BlobId = next_id_++;
  buffer.SetBlobId(blob.BlobId);
  buffer.SaveBlob();
  ASSERT_EQ(file_->LastBlock(), last + growth) << "free blocks were not reused";
  if (old_size != 0 && new_size != 0) {
    ASSERT_EQ(buffer.FirstBlock(), blob.FirstBlock);
  }
  blob.FirstBlock = buffer.FirstBlock();
  live_blocks_ += extra;
}

void BlobChainModelTest::DeleteBlob(size_t index) {
  ModelBlob& blob = blobs_[index];
  TBlobBuffer buffer(*file_, nullptr);
  buffer.SetFirstBlock(blob.FirstBlock);
  buffer.SetBlobId(blob.BlobId);
  int32_t last = file_->LastBlock();
  buffer.DeleteBlob();
  ASSERT_EQ(buffer.FirstBlock(), 0);
  ASSERT_EQ(file_->LastBlock(), last);
  live_blocks_ -= BlocksFor(blob.Bytes.size());
  blobs_.erase(blobs_.begin() + static_cast<std::ptrdiff_t>(index));
}

void BlobChainModelTest::CheckBatch(const ModelConfig& config, int batch) {
  table_.held = false;
  Flush(*file_);
  if (batch % 3 == 2) {
    file_ = Reopen(config);
    file_->Open();
    file_->VerifyBlobHeader();
  } else if (batch % 3 == 1) {
    file_->DropAllBlocks();
  }
  std::vector<TBlobReference> references;
  int64_t bytes = 0;
  for (const ModelBlob& blob : blobs_) {
    references.push_back({blob.FirstBlock, blob.BlobId});
    bytes += static_cast<int64_t>(blob.Bytes.size());
  }
  TBlobFileCheck check = VerifyBlobFile(*file_, references);
  ASSERT_TRUE(check.Sound()) << check.Problems.front();
  EXPECT_EQ(check.ChainBlocks, live_blocks_);
  EXPECT_EQ(check.FreeBlocks, file_->LastBlock() - live_blocks_);
  EXPECT_EQ(check.ChainBytes, bytes);
  for (const ModelBlob& blob : blobs_) ASSERT_EQ(Loaded(blob), blob.Bytes);
}

void BlobChainModelTest::Run(const ModelConfig& config) {
  SCOPED_TRACE(test::KindName(config.Kind) + ", seed " + std::to_string(config.Seed));
  random_.seed(config.Seed);
  data_size_ = config.Kind.BlockSize - kBlockHeaderSize;
  max_size_ = config.MaxSize;
  file_ = Reopen(config);
  file_->CreateFile();
  file_->WriteBlobHeader(false);
  constexpr int kBatches = 12;
  constexpr int kOperations = 16;
  for (int batch = 0; batch < kBatches; ++batch) {
    table_.held = config.Transaction;
    int64_t writes = file_->BlockWrites();
    for (int op = 0; op < kOperations; ++op) {
      uint32_t choice = random_() % 100;
      if (blobs_.size() < 4 || choice < 30) {
        ASSERT_NO_FATAL_FAILURE(CreateBlob());
      } else if (choice < 60) {
        ASSERT_NO_FATAL_FAILURE(ChangeBlob(blobs_[random_() % blobs_.size()], false));
      } else if (choice < 78) {
        ASSERT_NO_FATAL_FAILURE(ChangeBlob(blobs_[random_() % blobs_.size()], true));
      } else if (choice < 92) {
        ASSERT_NO_FATAL_FAILURE(DeleteBlob(random_() % blobs_.size()));
      } else {
        const ModelBlob& blob = blobs_[random_() % blobs_.size()];
        ASSERT_EQ(Loaded(blob), blob.Bytes);
      }
    }
    // Under the transaction lock a full cache grows instead of writing.
    if (config.Transaction) {
      EXPECT_EQ(file_->BlockWrites(), writes);
    }
    ASSERT_NO_FATAL_FAILURE(CheckBatch(config, batch));
  }
  file_->Close();
}

TEST_F(BlobChainModelTest, DiskFileWithDefaultBlocksAndCache) {
  Run({{false, 512, false}, kDefaultBlobBufferSize, false, 400000, 11});
}

TEST_F(BlobChainModelTest, EncryptedMemoryFileWithSmallBlocksAndATinyCache) {
  Run({{true, 64, true}, 16 * 64, false, 200000, 23});
}

TEST_F(BlobChainModelTest, EncryptedDiskFileWithLargeBlocksInTransactions) {
  Run({{false, 4096, true}, kDefaultBlobBufferSize, true, 600000, 37});
}

TEST_F(BlobChainModelTest, MemoryFileWithOddBlocksAndFourBuffers) {
  Run({{true, 1000, false}, 4 * 1000, false, 300000, 41});
}

}  // namespace
}  // namespace vevura
