// The BLOB file: header, chains laid out block by block, the free list,
// scrambling, the block cache's reads and writes, and damaged files.

#include <gtest/gtest.h>

#include <numeric>

#include "engine/storage/blob/blob_verify.h"
#include "tests/engine/storage/blob/blob_test_support.h"

namespace vevura {
namespace {

using test::BlobFileTest;
using test::CodeRaisedBy;
using test::TBlobFileKind;

//! A cursor that reports another user's change at its first read and drops
//! the file's cache as the table would.
class ChangingClient final : public TBlobClient {
 public:
  explicit ChangingClient(TBlobFile& file) : file_(file) {}
  bool BeforeBlockRead() override {
    ++calls;
    if (calls > 1) return true;
    file_.DropAllBlocks();
    return false;
  }
  int calls = 0;

 private:
  TBlobFile& file_;
};

//! A table state with a switchable transaction lock.
class TableState final : public TBlobTableState {
 public:
  bool TransactionLockHeld() const override { return in_transaction; }
  bool ShortReadAllowed() const override { return in_transaction && written; }
  void NoteWritten() override { written = true; }
  bool in_transaction = false;
  bool written = false;
};

std::vector<uint8_t> Sequence(size_t length) {
  std::vector<uint8_t> bytes(length);
  std::iota(bytes.begin(), bytes.end(), uint8_t{1});
  return bytes;
}

TEST_F(BlobFileTest, ChainOfThreeBlocksShrinksToOneAndFreesTheRestLastFirst) {
  for (bool in_memory : {false, true}) {
    TBlobFileKind kind{in_memory, 512, false};
    SCOPED_TRACE(test::KindName(kind));
    auto file = Create(kind);
    std::vector<uint8_t> bytes = Sequence(1000);
    int32_t first = Store(*file, bytes, 7);
    ASSERT_EQ(first, 1);
    EXPECT_EQ(file->LastBlock(), 3);
    Flush(*file);
    file->Close();

    TBlockHeader b1 = RawBlockHeader(kind, 1), b2 = RawBlockHeader(kind, 2),
                 b3 = RawBlockHeader(kind, 3);
    EXPECT_EQ(b1.BytesUsed, 494);
    EXPECT_EQ(b2.BytesUsed, 494);
    EXPECT_EQ(b3.BytesUsed, 12);
    EXPECT_EQ(b1.TotalLength, 1000);
    EXPECT_EQ(b2.TotalLength, 0);
    EXPECT_EQ(b3.TotalLength, 0);
    EXPECT_EQ(b1.PreviousBlock, 0);
    EXPECT_EQ(b1.NextBlock, 2);
    EXPECT_EQ(b2.PreviousBlock, 1);
    EXPECT_EQ(b2.NextBlock, 3);
    EXPECT_EQ(b3.PreviousBlock, 2);
    EXPECT_EQ(b3.NextBlock, 0);
    EXPECT_EQ(b3.BlobId, 7);
    EXPECT_EQ(RawHeader(kind).NextBlockNumber, 4);
    std::vector<uint8_t> raw = RawFile(kind);
    EXPECT_EQ(raw.size(), 512u + 3 * 512);
    EXPECT_EQ(raw[BlockOffset(3, 512) + 18 + 11], 1000 % 256);  // last data byte
    EXPECT_EQ(raw[BlockOffset(3, 512) + 18 + 12], 0);           // unused rest

    file = Open(kind);
    EXPECT_EQ(Load(*file, 1, 7), bytes);
    TBlobBuffer buffer(*file, nullptr);
    buffer.SetFirstBlock(1);
    buffer.SetBlobId(7);
    buffer.LoadBlob();
    buffer.SetLength(100);
    EXPECT_TRUE(buffer.Modified());
    buffer.SetBlobId(8);
    buffer.SaveBlob();
    EXPECT_FALSE(buffer.Modified());
    EXPECT_EQ(buffer.FirstBlock(), 1);
    Flush(*file);
    file->Close();

    EXPECT_EQ(RawHeader(kind).FirstFreeBlock, 3);
    EXPECT_EQ(RawBlockHeader(kind, 3).NextBlock, 2);
    EXPECT_EQ(RawBlockHeader(kind, 2).NextBlock, 0);
    EXPECT_EQ(RawBlockHeader(kind, 1).BlobId, 8);
    EXPECT_EQ(RawBlockHeader(kind, 1).NextBlock, 0);
    EXPECT_EQ(RawBlockHeader(kind, 1).TotalLength, 100);

    // The two freed blocks are used again, last freed first, before the file grows.
    file = Open(kind);
    EXPECT_EQ(Store(*file, Sequence(494), 9), 3);
    EXPECT_EQ(Store(*file, Sequence(494), 10), 2);
    EXPECT_EQ(Store(*file, Sequence(1), 11), 4);
    TBlockRef exact(*file, file->GetBlock(nullptr, 3, 1, false));
    EXPECT_EQ(exact->NextBlock(), 0);
    EXPECT_EQ(exact->BytesUsed(), 494);
    exact.Release();
    EXPECT_EQ(Load(*file, 1, 8), Sequence(100));
    EXPECT_TRUE(VerifyBlobFile(*file, {{1, 8}, {3, 9}, {2, 10}, {4, 11}}).Sound());
    file->Close();
    file->DeleteFile();
  }
}

TEST_F(BlobFileTest, HeaderIsWrittenReadReloadedAndCountsItsWrites) {
  TBlobFileKind kind{false, 512, false};
  auto file = FileObject(kind);
  file->CreateFile();
  EXPECT_TRUE(file->HeaderChanged());
  EXPECT_EQ(file->GetSize(), 0);  // nothing is written before the header
  EXPECT_TRUE(file->WriteBlobHeader(false));
  EXPECT_FALSE(file->WriteBlobHeader(false));
  EXPECT_FALSE(file->HeaderChanged());
  file->Close();
  std::vector<uint8_t> raw = RawFile(kind);
  ASSERT_EQ(raw.size(), 512u);
  std::vector<uint8_t> expected(512, 0);
  expected[0] = 1;   // change counter
  expected[4] = 5;   // version
  expected[9] = 1;   // next block number
  expected[13] = 1;  // header-changed as it stood
  EXPECT_EQ(raw, expected);

  auto reader = Open(kind);
  EXPECT_EQ(reader->ChangeCounter(), 1);
  EXPECT_FALSE(reader->HeaderChanged());
  EXPECT_NO_THROW(reader->VerifyBlobHeader());
  auto writer = Open(kind);
  EXPECT_FALSE(reader->ReloadBlobHeaderIfChanged());
  Store(*writer, Sequence(600), 1);
  writer->MarkBlobHeaderChanged();
  EXPECT_EQ(writer->ChangeCounter(), 2);
  Flush(*writer);
  EXPECT_EQ(writer->ChangeCounter(), 3);
  EXPECT_TRUE(writer->WriteBlobHeader(true));
  EXPECT_EQ(writer->ChangeCounter(), 4);
  EXPECT_TRUE(reader->ReloadBlobHeaderIfChanged());
  EXPECT_EQ(reader->ChangeCounter(), 4);
  EXPECT_EQ(reader->LastBlock(), 2);
  EXPECT_EQ(Load(*reader, 1, 1), Sequence(600));
}

TEST_F(BlobFileTest, BadHeadersAreRefusedAndLeaveTheFileClosed) {
  TBlobFileKind kind{false, 512, false};
  Create(kind)->Close();
  PatchHeader(kind, [](TBlobHeader& h) { h.Version = 4; });
  auto file = FileObject(kind);
  EXPECT_EQ(CodeRaisedBy([&] { file->Open(); }), VEVURA_OLDVERSION);
  EXPECT_FALSE(file->IsOpen());
  EXPECT_NO_THROW(file->DeleteFile());  // no handle was left behind

  Create(kind)->Close();
  PatchHeader(kind, [](TBlobHeader& h) { h.FirstFreeBlock = 1; });
  file = Open(kind);
  EXPECT_EQ(CodeRaisedBy([&] { file->VerifyBlobHeader(); }), VEVURA_HEADERCORRUPT);
  file->Close();
  PatchHeader(kind, [](TBlobHeader& h) {
    h.FirstFreeBlock = 0;
    h.NextBlockNumber = 0;
  });
  file = FileObject(kind);
  EXPECT_EQ(CodeRaisedBy([&] { file->Open(); }), VEVURA_HEADERCORRUPT);
  EXPECT_FALSE(file->IsOpen());

  test::MakeFile(NameOf(kind), std::vector<uint8_t>(100, 5));
  file = FileObject(kind);
  EXPECT_EQ(CodeRaisedBy([&] { file->Open(); }), VEVURA_READERR);
  EXPECT_FALSE(file->IsOpen());

  file->SetBlockSize(63);
  EXPECT_EQ(CodeRaisedBy([&] { file->CreateFile(); }), VEVURA_BLOBLIMIT);
  file->SetBlockSize(65536);
  EXPECT_EQ(CodeRaisedBy([&] { file->CreateFile(); }), VEVURA_BLOBLIMIT);
}

TEST_F(BlobFileTest, EncryptedFileScramblesHeaderAndBothRunsOfEveryBlock) {
  for (bool in_memory : {false, true}) {
    TBlobFileKind kind{in_memory, 128, true};
    SCOPED_TRACE(test::KindName(kind));
    auto file = Create(kind);
    std::vector<uint8_t> bytes = Sequence(300);
    Store(*file, bytes, 42);
    Flush(*file);
    file->Close();

    std::vector<uint8_t> raw = RawFile(kind);
    ASSERT_EQ(raw.size(), 512u + 3 * 128);
    std::vector<uint8_t> header(raw.begin(), raw.begin() + 512);
    EXPECT_NE(header[4], 5);
    UnscrambleRun(header.data(), header.size(), kTableDataSeeds);
    EXPECT_EQ(DecodeBlobHeader(header.data()).Version, 5);
    EXPECT_EQ(DecodeBlobHeader(header.data()).NextBlockNumber, 4);
    // The data part of block 1 starts its own run from the seeds.
    std::vector<uint8_t> data(raw.begin() + 512 + 18, raw.begin() + 512 + 128);
    UnscrambleRun(data.data(), data.size(), kTableDataSeeds);
    EXPECT_EQ(data, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 110));
    EXPECT_EQ(RawBlockHeader(kind, 2).PreviousBlock, 1);
    EXPECT_EQ(RawBlockHeader(kind, 3).BytesUsed, 80);

    file = Open(kind);
    EXPECT_EQ(Load(*file, 1, 42), bytes);
    EXPECT_TRUE(VerifyBlobFile(*file, {{1, 42}}).Sound());
    file->Close();
    auto plain = FileObject({in_memory, 128, false});
    EXPECT_EQ(CodeRaisedBy([&] { plain->Open(); }), VEVURA_OLDVERSION);
    plain->DeleteFile();
  }
}

TEST_F(BlobFileTest, ReadersSeeRewrittenOrShortChainsAsTheirErrors) {
  TBlobFileKind kind{true, 512, false};
  auto file = Create(kind);
  int32_t first = Store(*file, Sequence(1500), 3);
  EXPECT_EQ(CodeRaisedBy([&] { Load(*file, first, 4); }), VEVURA_KEYORRECDELETED);

  // A later block of another BLOB: rewritten meanwhile.
  {
    TBlockRef middle(*file, file->GetBlock(nullptr, 2, 1, false));
    middle->SetBlobId(99);
  }
  EXPECT_EQ(CodeRaisedBy([&] { Load(*file, first, 3); }), VEVURA_KEYORRECDELETED);
  int32_t kept = first;
  EXPECT_EQ(CodeRaisedBy([&] { file->FreeChain(nullptr, kept, 3, false); }), VEVURA_MEMOCORRUPT);
  EXPECT_EQ(kept, first);
  EXPECT_EQ(file->Header().FirstFreeBlock, 0);  // nothing was freed
  {
    TBlockRef middle(*file, file->GetBlock(nullptr, 2, 1, false));
    middle->SetBlobId(3);
  }

  // A first block that promises more than the chain holds.
  {
    TBlockRef head(*file, file->GetBlock(nullptr, 1, 1, false));
    head->SetTotalLength(1600);
  }
  EXPECT_EQ(CodeRaisedBy([&] { Load(*file, first, 3); }), VEVURA_ENDOFBLOB);
  {
    TBlockRef head(*file, file->GetBlock(nullptr, 1, 1, false));
    head->SetTotalLength(1500);
  }
  EXPECT_EQ(Load(*file, first, 3), Sequence(1500));

  // The repairing delete accepts foreign identifiers.
  {
    TBlockRef last(*file, file->GetBlock(nullptr, 4, 1, false));
    last->SetBlobId(77);
  }
  TBlobBuffer buffer(*file, nullptr);
  buffer.SetFirstBlock(first);
  buffer.SetBlobId(3);
  buffer.DeleteBlob();
  EXPECT_EQ(buffer.FirstBlock(), 0);
  TBlobFileCheck check = VerifyBlobFile(*file, {});
  EXPECT_TRUE(check.Sound()) << check.Problems.front();
  EXPECT_EQ(check.FreeBlocks, 4);
}

TEST_F(BlobFileTest, DamagedChainsAreCorruptionAndNothingIsFreed) {
  struct Damage {
    const char* what;
    int32_t block;
    std::function<void(TBlockHeader&)> change;
    bool links;  //!< the links are damaged, not only the length
  };
  const std::vector<Damage> damages = {
      {"link beyond the file", 2, [](TBlockHeader& h) { h.NextBlock = 9; }, true},
      {"negative link", 2, [](TBlockHeader& h) { h.NextBlock = -3; }, true},
      {"link to itself", 2, [](TBlockHeader& h) { h.NextBlock = 2; }, true},
      {"loop back to the first block", 4, [](TBlockHeader& h) { h.NextBlock = 1; }, true},
      {"loop into the middle", 4, [](TBlockHeader& h) { h.NextBlock = 2; }, true},
      {"previous link broken", 3, [](TBlockHeader& h) { h.PreviousBlock = 1; }, true},
      {"length beyond the file", 1, [](TBlockHeader& h) { h.TotalLength = 2000000000; }, false},
      {"negative length", 1, [](TBlockHeader& h) { h.TotalLength = -5; }, false},
  };
  for (bool in_memory : {false, true}) {
    for (const Damage& damage : damages) {
      TBlobFileKind kind{in_memory, 64, false};
      SCOPED_TRACE(test::KindName(kind) + ": " + damage.what);
      auto file = Create(kind);
      // Blocks 1 to 4 hold BLOB 5, block 5 BLOB 6.
      ASSERT_EQ(Store(*file, Sequence(46 * 4), 5), 1);
      ASSERT_EQ(Store(*file, Sequence(10), 6), 5);
      Flush(*file);
      file->Close();
      if (damage.links) {
        // The chain's length is raised so that no walk stops before the damage.
        PatchBlockHeader(kind, 1, [](TBlockHeader& h) { h.TotalLength = 46 * 4 + 1; });
      }
      PatchBlockHeader(kind, damage.block, damage.change);
      file = Open(kind);
      EXPECT_EQ(CodeRaisedBy([&] { Load(*file, 1, 5); }), VEVURA_MEMOCORRUPT);
      EXPECT_FALSE(VerifyBlobFile(*file, {{1, 5}, {5, 6}}).Sound());

      TBlobBuffer rewrite(*file, nullptr);
      rewrite.SetFirstBlock(1);
      rewrite.SetBlobId(8);
      test::BlobFileTest::Fill(rewrite, Sequence(46 * 5));
      if (damage.links) {
        int32_t first = 1;
        EXPECT_EQ(CodeRaisedBy([&] { file->FreeChain(nullptr, first, 5, true); }),
                  VEVURA_MEMOCORRUPT);
        EXPECT_EQ(first, 1);
        EXPECT_EQ(file->Header().FirstFreeBlock, 0);
        EXPECT_FALSE(file->HeaderChanged());
        EXPECT_EQ(CodeRaisedBy([&] { rewrite.SaveBlob(); }), VEVURA_MEMOCORRUPT);
      } else {
        // Sound links: the BLOB can still be rewritten over its chain.
        rewrite.SaveBlob();
        EXPECT_EQ(rewrite.FirstBlock(), 1);
        EXPECT_EQ(Load(*file, 1, 8), Sequence(46 * 5));
        TBlobFileCheck check = VerifyBlobFile(*file, {{1, 8}, {5, 6}});
        EXPECT_TRUE(check.Sound()) << check.Problems.front();
      }
      EXPECT_EQ(Load(*file, 5, 6), Sequence(10));
      file->Close();
      file->DeleteFile();
    }
  }
}

TEST_F(BlobFileTest, BlocksMissingFromTheFileAreReadErrorsAndBadNumbersCorruption) {
  TBlobFileKind kind{false, 512, false};
  auto file = Create(kind);
  Store(*file, Sequence(494 * 3), 1);
  Flush(*file);
  file->Close();
  PatchHeader(kind, [](TBlobHeader& h) { h.NextBlockNumber = 10; });
  file = Open(kind);
  EXPECT_EQ(CodeRaisedBy([&] { file->GetBlock(nullptr, 6, 1, false); }), VEVURA_READERR);
  EXPECT_EQ(CodeRaisedBy([&] { file->GetBlock(nullptr, 0, 1, false); }), VEVURA_MEMOCORRUPT);
  EXPECT_EQ(CodeRaisedBy([&] { file->GetBlock(nullptr, 11, 1, false); }), VEVURA_MEMOCORRUPT);
  // Read-ahead past the end of the file only brings in what is there.
  TBlockRef third(*file, file->GetBlock(nullptr, 3, 16, true));
  EXPECT_EQ(third->BytesUsed(), 494);
  third.Release();
  TBlobFileCheck check = VerifyBlobFile(*file, {{1, 1}});
  ASSERT_FALSE(check.Sound());
  EXPECT_NE(check.Problems.front().find("next block number"), std::string::npos);
  file->Close();

  // A free list whose link leaves the file.
  PatchHeader(kind, [](TBlobHeader& h) {
    h.NextBlockNumber = 4;
    h.FirstFreeBlock = 3;
  });
  PatchBlockHeader(kind, 3, [](TBlockHeader& h) { h.NextBlock = 12; });
  file = Open(kind);
  EXPECT_EQ(CodeRaisedBy([&] { file->AllocateBlock(nullptr); }), VEVURA_MEMOCORRUPT);
  EXPECT_EQ(file->Header().FirstFreeBlock, 3);
  file->Close();
  PatchHeader(kind, [](TBlobHeader& h) { h.FirstFreeBlock = 4; });
  file = Open(kind);
  EXPECT_EQ(CodeRaisedBy([&] { file->AllocateBlock(nullptr); }), VEVURA_MEMOCORRUPT);
  EXPECT_EQ(file->LastBlock(), 3);
}

TEST_F(BlobFileTest, FileStopsGrowingAtItsLimits) {
  TBlobFileKind kind{false, 64, false};
  Create(kind)->Close();
  // 512 + 1999999992 * 64 is exactly 128,000,000,000 bytes.
  PatchHeader(kind, [](TBlobHeader& h) { h.NextBlockNumber = 1999999992; });
  auto file = Open(kind);
  TBlockRef last(*file, file->AllocateBlock(nullptr));
  EXPECT_EQ(last->Number(), 1999999992);
  EXPECT_EQ(CodeRaisedBy([&] { file->AllocateBlock(nullptr); }), VEVURA_TABLEFULL);
  EXPECT_EQ(file->LastBlock(), 1999999992);
  last.Release();
  file->DropAllBlocks();  // never written
  file->Close();

  TBlobFileKind big{false, 65535, false};
  Create(big)->Close();
  PatchHeader(big, [](TBlobHeader& h) { h.NextBlockNumber = 1953155; });
  file = Open(big);
  EXPECT_EQ(CodeRaisedBy([&] { file->AllocateBlock(nullptr); }), VEVURA_TABLEFULL);
}

TEST_F(BlobFileTest, BlockDataCopiesStayWithinTheBlock) {
  auto file = Create({true, 64, false});
  TBlockRef block(*file, file->AllocateBlock(nullptr));
  std::vector<uint8_t> bytes = Sequence(47);
  EXPECT_EQ(CodeRaisedBy([&] { block->WriteData(0, 47, bytes.data()); }), VEVURA_INVALIDBLOBLEN);
  EXPECT_EQ(CodeRaisedBy([&] { block->WriteData(40, 7, bytes.data()); }), VEVURA_INVALIDBLOBLEN);
  block->WriteData(0, 46, bytes.data());
  EXPECT_EQ(block->BytesUsed(), 46);
  block->WriteData(0, 10, bytes.data());
  EXPECT_EQ(block->BytesUsed(), 10);
  std::vector<uint8_t> out(46, 0);
  EXPECT_EQ(block->ReadData(0, 46, out.data()), 10);
  EXPECT_EQ(block->ReadData(4, 2, out.data()), 2);
  EXPECT_EQ(out[0], 5);
  EXPECT_EQ(CodeRaisedBy([&] { block->ReadData(0, 47, out.data()); }), VEVURA_INVALIDBLOBLEN);
  TBlobBuffer buffer(*file, nullptr);
  EXPECT_EQ(CodeRaisedBy([&] { buffer.SetLength(-1); }), VEVURA_INVALIDBLOBLEN);
}

TEST_F(BlobFileTest, ChainsAreReadInRunsAndWrittenInOneCallPerRunOfDirtyBlocks) {
  TBlobFileKind kind{false, 512, false};
  auto file = FileObject(kind);
  file->SetBufferLimits(1 << 20, 8192);
  file->CreateFile();
  EXPECT_EQ(file->ReadAheadCount(), 32);
  EXPECT_EQ(file->Capacity(), 2048);
  std::vector<uint8_t> bytes = Sequence(494 * 100);
  Store(*file, bytes, 1);
  EXPECT_EQ(file->BlockWrites(), 0);
  EXPECT_TRUE(file->FlushBlocks());
  EXPECT_EQ(file->BlockWrites(), 1);
  EXPECT_FALSE(file->FlushBlocks());
  file->WriteBlobHeader(false);

  file->DropAllBlocks();
  EXPECT_EQ(Load(*file, 1, 1), bytes);
  // The first block alone, then the other 99 in runs of 32.
  EXPECT_EQ(file->BlockReads(), 1 + 4);
  EXPECT_EQ(Load(*file, 1, 1), bytes);
  EXPECT_EQ(file->BlockReads(), 5);

  // Three separate stretches of dirty blocks: three writes.
  for (int32_t n : {5, 6, 7, 20, 50, 51}) {
    TBlockRef block(*file, file->GetBlock(nullptr, n, 1, false));
    block->MarkDirty();
  }
  int64_t writes = file->BlockWrites();
  {
    TBlockRef pinned(*file, file->GetBlock(nullptr, 20, 1, false));
    file->FlushBlocks();
    EXPECT_EQ(file->BlockWrites(), writes + 2);
    EXPECT_TRUE(pinned->Dirty());  // a pinned block is not written
  }
  file->FlushBlocks();
  EXPECT_EQ(file->BlockWrites(), writes + 3);

  // A hit moves the block to the front of the most-recently-used list.
  file->DropAllBlocks();
  TBlockRef tenth(*file, file->GetBlock(nullptr, 10, 4, true));
  std::vector<const TBlock*> recent = file->Cache().RecentBlocks();
  ASSERT_EQ(recent.size(), 4u);
  EXPECT_EQ(recent.front()->Number(), 10);
  EXPECT_EQ(recent.back()->Number(), 13);
  TBlockRef twelfth(*file, file->GetBlock(nullptr, 12, 1, false));
  EXPECT_EQ(file->Cache().RecentBlocks().front()->Number(), 12);
  EXPECT_EQ(file->BlockReads(), 6);
}

TEST_F(BlobFileTest, FullCacheWritesOutsideATransactionAndGrowsInsideOne) {
  TBlobFileKind kind{true, 512, false};
  TableState table;
  auto file = FileObject(kind);
  file->SetTableState(&table);
  file->SetBufferLimits(8 * 512, 8192);  // 8 buffers
  file->CreateFile();
  ASSERT_EQ(file->Capacity(), 8);
  Store(*file, Sequence(494 * 20), 1);
  EXPECT_GT(file->BlockWrites(), 0);
  EXPECT_TRUE(table.written);
  EXPECT_LE(file->Cache().Count(), 8);
  Flush(*file);

  table.in_transaction = true;
  int64_t writes = file->BlockWrites();
  Store(*file, Sequence(494 * 20), 2);
  EXPECT_EQ(file->BlockWrites(), writes);
  EXPECT_EQ(file->Cache().Room(), 8 + 32);
  table.in_transaction = false;
  Flush(*file);
  file->TrimCache();
  EXPECT_EQ(file->Cache().Count(), 8);
  EXPECT_EQ(file->Cache().Room(), 8);
  file->DropAllBlocks();
  EXPECT_EQ(Load(*file, 1, 1), Sequence(494 * 20));
  EXPECT_EQ(Load(*file, 21, 2), Sequence(494 * 20));
  EXPECT_TRUE(VerifyBlobFile(*file, {{1, 1}, {21, 2}}).Sound());
}

TEST_F(BlobFileTest, ReaderStartsAgainWhenAnotherUsersChangeDroppedTheCache) {
  TBlobFileKind kind{false, 256, false};
  auto file = Create(kind);
  Store(*file, Sequence(3000), 4);
  Flush(*file);
  file->DropAllBlocks();
  ChangingClient client(*file);
  TBlobBuffer buffer(*file, &client);
  buffer.SetFirstBlock(1);
  buffer.SetBlobId(4);
  buffer.LoadBlob();
  EXPECT_GE(client.calls, 2);
  EXPECT_EQ(std::vector<uint8_t>(buffer.Data(), buffer.Data() + buffer.Length()), Sequence(3000));

  // A block held while the cache is dropped stays valid until released.
  TBlockRef held(*file, file->GetBlock(nullptr, 2, 1, false));
  file->DropAllBlocks();
  EXPECT_EQ(held->Number(), 2);
  EXPECT_EQ(held->PreviousBlock(), 1);
  TBlockRef again(*file, file->GetBlock(nullptr, 2, 1, false));
  EXPECT_NE(again.get(), held.get());
  EXPECT_EQ(again->PinCount(), 1);
  held.Release();
  EXPECT_EQ(file->Cache().Count(), 1);
}

TEST_F(BlobFileTest, EmptyBlobFreesItsChainAndWritesNothing) {
  auto file = Create({true, 512, false});
  TBlobBuffer buffer(*file, nullptr);
  buffer.SetBlobId(1);
  buffer.SaveBlob();
  EXPECT_EQ(buffer.FirstBlock(), 0);
  EXPECT_EQ(file->LastBlock(), 0);
  Fill(buffer, Sequence(700));
  buffer.SaveBlob();
  EXPECT_EQ(buffer.FirstBlock(), 1);
  buffer.SetLength(0);
  buffer.SetBlobId(2);
  buffer.SaveBlob();
  EXPECT_EQ(buffer.FirstBlock(), 0);
  EXPECT_EQ(file->Header().FirstFreeBlock, 2);
  TBlobFileCheck check = VerifyBlobFile(*file, {});
  EXPECT_TRUE(check.Sound());
  EXPECT_EQ(check.FreeBlocks, 2);
  buffer.LoadBlob();  // no chain: nothing to read
  EXPECT_EQ(buffer.Length(), 0);
}

}  // namespace
}  // namespace vevura
