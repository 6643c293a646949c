// BLOB files with random damage: every read, delete, rewrite and check ends
// with an engine error or a result, never a crash or an endless walk.

#include <gtest/gtest.h>

#include <climits>
#include <set>

#include "engine/storage/blob/blob_verify.h"
#include "tests/engine/storage/blob/blob_test_support.h"

namespace vevura {
namespace {

using test::TBlobFileKind;

class BlobDamageTest : public test::BlobFileTest {};

//! Runs fn; fails the test for anything but an engine error of the damage kind.
void ExpectCleanOutcome(const std::function<void()>& fn) {
  static const std::set<uint16_t> kDamageCodes = {
      VEVURA_MEMOCORRUPT, VEVURA_KEYORRECDELETED, VEVURA_ENDOFBLOB,    VEVURA_READERR,
      VEVURA_TABLEFULL,   VEVURA_INVALIDBLOBLEN,  VEVURA_HEADERCORRUPT};
  try {
    fn();
  } catch (const EVEVURAEngineError& e) {
    EXPECT_TRUE(kDamageCodes.count(e.ErrorCode)) << e.what();
  }
}

TEST_F(BlobDamageTest, RandomlyDamagedFilesGiveErrorsNotCrashes) {
  TBlobFileKind kind{true, 64, false};
  std::mt19937 random(5);
  auto file = Create(kind);
  std::vector<TBlobReference> blobs;
  for (int32_t id = 1; id <= 12; ++id) {
    size_t size = random() % 900;
    blobs.push_back({Store(*file, test::RandomBytes(random, size), id), id});
  }
  // A few freed chains give the file a free list too.
  for (int i : {2, 5, 9}) {
    TBlobBuffer buffer(*file, nullptr);
    buffer.SetFirstBlock(blobs[static_cast<size_t>(i)].FirstBlock);
    buffer.SetBlobId(blobs[static_cast<size_t>(i)].BlobId);
    buffer.DeleteBlob();
    blobs[static_cast<size_t>(i)].FirstBlock = 0;
  }
  Flush(*file);
  file->Close();
  const std::vector<uint8_t> original = RawFile(kind);

  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    std::vector<uint8_t> damaged = original;
    int changes = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < changes; ++i) {
      // Mostly block headers, where the links are; sometimes the file header.
      size_t block = random() % ((damaged.size() - 512) / 64);
      size_t at = random() % 8 == 0 ? 5 + random() % 9 : 512 + block * 64 + random() % 18;
      damaged[at] =
          static_cast<uint8_t>(random() % 4 == 0 ? random() : damaged[at] ^ (1u << (random() % 8)));
    }
    PatchRaw(kind, 0, damaged);
    file = FileObject(kind);
    ExpectCleanOutcome([&] { file->Open(); });
    if (!file->IsOpen()) continue;
    for (const TBlobReference& blob : blobs) {
      if (blob.FirstBlock == 0) continue;
      ExpectCleanOutcome([&] { Load(*file, blob.FirstBlock, blob.BlobId); });
    }
    VerifyBlobFile(*file, blobs);
    for (const TBlobReference& blob : blobs) {
      TBlobBuffer buffer(*file, nullptr);
      buffer.SetFirstBlock(blob.FirstBlock);
      buffer.SetBlobId(blob.BlobId + 100);
      Fill(buffer, test::RandomBytes(random, random() % 400));
      ExpectCleanOutcome([&] { buffer.SaveBlob(); });
      ExpectCleanOutcome([&] { buffer.DeleteBlob(); });
    }
    VerifyBlobFile(*file, {});
    file->DropAllBlocks();
    file->Close();
  }
}

TEST_F(BlobDamageTest, NextBlockNumbersOutOfRangeAreRefusedWhenRead) {
  TBlobFileKind kind{false, 64, false};
  auto file = Create(kind);
  Store(*file, std::vector<uint8_t>(300, 7), 1);
  Flush(*file);
  const int32_t blocks = file->LastBlock();
  ASSERT_GT(blocks, 2);
  file->Close();
  std::vector<uint8_t> sound = RawFile(kind);
  sound.resize(kBlobHeaderSize);
  // Next block numbers that would overflow the block arithmetic or lie
  // beyond the largest file are refused before they are used.
  for (int32_t next : {INT32_MIN, 0, INT32_MAX}) {
    PatchRaw(kind, 0, sound);
    PatchHeader(kind, [&](TBlobHeader& h) { h.NextBlockNumber = next; });
    file = FileObject(kind);
    EXPECT_EQ(test::CodeRaisedBy([&] { file->Open(); }), VEVURA_HEADERCORRUPT);
    EXPECT_FALSE(file->IsOpen());
  }
  // Another user's header with such a number: the header read before stays.
  PatchRaw(kind, 0, sound);
  file = Open(kind);
  PatchHeader(kind, [](TBlobHeader& h) {
    ++h.ChangeCounter;
    h.NextBlockNumber = INT32_MIN;
  });
  EXPECT_EQ(test::CodeRaisedBy([&] { file->ReloadBlobHeaderIfChanged(); }), VEVURA_HEADERCORRUPT);
  EXPECT_EQ(file->LastBlock(), blocks);
}

}  // namespace
}  // namespace vevura
