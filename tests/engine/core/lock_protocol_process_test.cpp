// The lock protocol between two programs sharing a table: this test process
// and a forked peer with its own file list and session.

#include <atomic>
#include <thread>

#include "engine/core/lock_protocol.h"
#include "tests/engine/core/core_test_support.h"

namespace vevura {
namespace {

using test::CodeRaisedBy;
using test::PeerProgram;
using test::WaitFor;

//! Read slots s = 1 to 65535 lie at these offsets.
constexpr int64_t kFirstSlotOffset = kReadSlotBase - kMaxReadSlot;
constexpr int64_t kLastSlotOffset = kReadSlotBase - 1;

class LockProtocolProcessTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    test::CreateTestTable(*directory_, "LOCKS");
    table_ = Open("LOCKS");
    test::ChangeUnderWriteLock(*table_, [&] {
      for (const char* name : {"one", "two", "three", "four", "five", "six"}) {
        test::AppendRecord(*table_, name);
      }
    });
    fs_.Reset();
  }

  //! Runs op on another thread and, once it has been refused at offsets
  //! first to last at least three times, lets the peer run release; the
  //! code op raised (0 when it succeeded).
  uint16_t WaitingThenReleased(const std::function<void()>& op, int64_t first, int64_t last,
                               PeerProgram& peer, PeerProgram::Command release) {
    std::atomic<bool> done{false};
    uint16_t code = 0;
    std::thread waiter([&] {
      code = CodeRaisedBy(op);
      done = true;
    });
    bool waited = WaitFor([&] { return fs_.RefusedIn(first, last) >= 3 || done; });
    EXPECT_TRUE(waited);
    EXPECT_FALSE(done) << "the lock was granted while the peer held its range";
    EXPECT_EQ(peer.Do(release), 0);
    waiter.join();
    return code;
  }

  TDataTable* table_ = nullptr;
};

TEST_F(LockProtocolProcessTest, TwoReadersHoldDifferentSlotsWithoutWaiting) {
  PeerProgram peer(dir_.path(), "LOCKS");
  ASSERT_TRUE(peer.ready());
  ASSERT_EQ(peer.Do(PeerProgram::kReadLock), 0);
  int32_t peer_slot = peer.Do(PeerProgram::kReadSlot);
  ASSERT_GE(peer_slot, 1);

  EXPECT_FALSE(table_->ReadLock());
  ASSERT_TRUE(table_->ReadLocked());
  uint16_t slot = table_->IndexReadSlot();
  EXPECT_NE(slot, peer_slot);
  auto counts = fs_.At(ReadSlotOffset(slot));
  EXPECT_EQ(counts.calls, 1);
  EXPECT_EQ(counts.refused, 0);

  // Nested requests return at once; the first unlock releases the slot.
  EXPECT_FALSE(table_->ReadLock());
  table_->ReadUnlock();
  EXPECT_FALSE(table_->ReadLocked());
  EXPECT_EQ(fs_.At(ReadSlotOffset(slot)).unlocks, 1);
  table_->ReadUnlock();
  EXPECT_EQ(fs_.At(ReadSlotOffset(slot)).unlocks, 1);
  EXPECT_EQ(peer.Do(PeerProgram::kReadUnlock), 0);
}

TEST_F(LockProtocolProcessTest, WriterWaitsForTheReaderAndGivesUpAfterItsAttempts) {
  PeerProgram peer(dir_.path(), "LOCKS");
  ASSERT_TRUE(peer.ready());
  ASSERT_EQ(peer.Do(PeerProgram::kReadLock), 0);

  uint16_t code = WaitingThenReleased([&] { table_->WriteLock(); }, kWriteRegionOffset,
                                      kWriteRegionOffset, peer, PeerProgram::kReadUnlock);
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(table_->WriteLocked());
  table_->WriteUnlock();

  // A reader that never lets go: the writer makes its bounded attempts and
  // fails, holding nothing afterwards.
  session_->SetTableLockTiming({25, 1});
  ASSERT_EQ(peer.Do(PeerProgram::kReadLock), 0);
  fs_.Reset();
  EXPECT_EQ(CodeRaisedBy([&] { table_->WriteLock(); }), VEVURA_LOCKTIMEOUT);
  EXPECT_FALSE(table_->WriteLocked());
  EXPECT_EQ(fs_.At(kWriteRegionOffset).calls, 25);
  EXPECT_EQ(fs_.At(kTransactionLockOffset).unlocks, 1);
  // The data byte was given back: the peer may take its write lock once
  // its read lock is gone.
  EXPECT_EQ(peer.Do(PeerProgram::kReadUnlock), 0);
  EXPECT_EQ(peer.Do(PeerProgram::kWriteLock), 0);
  EXPECT_EQ(peer.Do(PeerProgram::kWriteUnlock), 0);
}

TEST_F(LockProtocolProcessTest, ReaderWaitsForTheWriterAndFailsWhenItNeverLetsGo) {
  PeerProgram peer(dir_.path(), "LOCKS");
  ASSERT_TRUE(peer.ready());
  ASSERT_EQ(peer.Do(PeerProgram::kWriteLock), 0);

  uint16_t code = WaitingThenReleased([&] { table_->ReadLock(); }, kFirstSlotOffset,
                                      kLastSlotOffset, peer, PeerProgram::kWriteUnlock);
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(table_->ReadLocked());
  table_->ReadUnlock();

  session_->SetTableLockTiming({40, 1});
  ASSERT_EQ(peer.Do(PeerProgram::kWriteLock), 0);
  fs_.Reset();
  try {
    table_->ReadLock();
    ADD_FAILURE() << "the read lock was granted under another program's write lock";
  } catch (const EVEVURAEngineError& e) {
    EXPECT_EQ(e.ErrorCode, VEVURA_LOCKTIMEOUT);
    EXPECT_EQ(e.ErrorTable, "LOCKS");
    EXPECT_EQ(e.ErrorDatabase, dir_.path());
  }
  EXPECT_FALSE(table_->ReadLocked());
  EXPECT_EQ(table_->IndexReadSlot(), 0);
  // Every attempt drew a slot and was refused by the write region.
  EXPECT_EQ(fs_.RefusedIn(kFirstSlotOffset, kLastSlotOffset), 40);
  // The transaction byte is the peer's too, so a write lock fails as well.
  EXPECT_EQ(CodeRaisedBy([&] { table_->WriteLock(); }), VEVURA_LOCKTIMEOUT);
  EXPECT_EQ(peer.Do(PeerProgram::kWriteUnlock), 0);
  EXPECT_FALSE(table_->ReadLock());
  table_->ReadUnlock();
}

TEST_F(LockProtocolProcessTest, RecordLockAttemptsFollowTheRetryCount) {
  PeerProgram peer(dir_.path(), "LOCKS");
  ASSERT_TRUE(peer.ready());
  ASSERT_EQ(peer.Do(PeerProgram::kLockRecord, 5), 0);
  session_->SetLockWaitTime(1);

  for (int retries : {0, 15, 254, 255}) {
    SCOPED_TRACE(retries);
    session_->SetLockRetryCount(static_cast<uint8_t>(retries));
    fs_.Reset();
    EXPECT_EQ(CodeRaisedBy([&] { table_->LockRecord(5); }), VEVURA_RECLOCKFAILED);
    // 255 retries cannot be counted in eight bits; the loop still ends.
    int64_t expected = retries == 255 ? 256 : retries + 1;
    EXPECT_EQ(fs_.At(RecordLockOffset(5)).calls, expected);
    EXPECT_FALSE(table_->LockedRecords().Test(5));
    EXPECT_FALSE(table_->ReadLocked()) << "the read lock of the attempt stayed held";
  }

  // A free record locks at the first attempt and leaves the read lock held
  // for the operation to release.
  fs_.Reset();
  EXPECT_FALSE(table_->LockRecord(6));
  EXPECT_EQ(fs_.At(RecordLockOffset(6)).calls, 1);
  EXPECT_TRUE(table_->LockedRecords().Test(6));
  EXPECT_TRUE(table_->ReadLocked());
  table_->ReadUnlock();
  EXPECT_EQ(peer.Do(PeerProgram::kLockRecord, 6), -VEVURA_RECLOCKFAILED);
  table_->UnlockRecord(6);
  EXPECT_EQ(peer.Do(PeerProgram::kLockRecord, 6), 0);
  EXPECT_EQ(CodeRaisedBy([&] { table_->UnlockRecord(6); }), VEVURA_UNLOCKFAILED);
  EXPECT_EQ(CodeRaisedBy([&] { table_->LockRecord(0); }), VEVURA_RECLOCKFAILED);
  EXPECT_EQ(CodeRaisedBy([&] { table_->UnlockRecord(0); }), VEVURA_UNLOCKFAILED);

  // With strict change detection the record lock takes no read lock.
  session_->SetStrictChangeDetection(true);
  EXPECT_FALSE(table_->LockRecord(4));
  EXPECT_FALSE(table_->ReadLocked());
  table_->UnlockRecord(4);
}

TEST_F(LockProtocolProcessTest, TableLockRegionStopsRecordLocksOnly) {
  PeerProgram peer(dir_.path(), "LOCKS");
  ASSERT_TRUE(peer.ready());
  ASSERT_EQ(peer.Do(PeerProgram::kLockTableRegion), 1);
  session_->SetLockRetryCount(0);
  EXPECT_EQ(CodeRaisedBy([&] { table_->LockRecord(1); }), VEVURA_RECLOCKFAILED);
  EXPECT_EQ(CodeRaisedBy([&] { table_->LockRecord(6); }), VEVURA_RECLOCKFAILED);
  EXPECT_EQ(CodeRaisedBy([&] { table_->ReadLock(); }), 0);
  table_->ReadUnlock();
  EXPECT_EQ(CodeRaisedBy([&] { table_->WriteLock(); }), 0);
  table_->WriteUnlock();
}

TEST_F(LockProtocolProcessTest, AnotherProgramsChangeIsSeenAfterTheNextLock) {
  PeerProgram peer(dir_.path(), "LOCKS");
  ASSERT_TRUE(peer.ready());
  EXPECT_EQ(test::NameOf(*table_, 2), "two");
  TChangeCounters before = table_->ChangeCounters();

  // A record lock re-reads the headers and drops the stale buffers.
  ASSERT_EQ(peer.Do(PeerProgram::kRenameRecord, 2), 0);
  EXPECT_EQ(test::NameOf(*table_, 2), "two") << "no lock, so the cached copy is still used";
  EXPECT_TRUE(table_->LockRecord(2));
  table_->ReadUnlock();
  EXPECT_EQ(test::NameOf(*table_, 2), "peer");
  EXPECT_NE(table_->ChangeCounters(), before);
  table_->UnlockRecord(2);

  // So does a read lock: the peer's appended record becomes known.
  int32_t appended = peer.Do(PeerProgram::kAppendRecord);
  EXPECT_EQ(appended, 7);
  EXPECT_EQ(table_->DataFile().Header().NextRecordNumber, 7);
  EXPECT_TRUE(table_->ReadLock());
  table_->ReadUnlock();
  EXPECT_EQ(table_->DataFile().Header().NextRecordNumber, 8);
  EXPECT_EQ(test::NameOf(*table_, 7), "appended");

  // And a write lock; with nothing new, no lock reports a change.
  ASSERT_EQ(peer.Do(PeerProgram::kRenameRecord, 3), 0);
  EXPECT_TRUE(table_->WriteLock());
  table_->WriteUnlock();
  EXPECT_EQ(test::NameOf(*table_, 3), "peer");
  EXPECT_FALSE(table_->ReadLock());
  table_->ReadUnlock();
  EXPECT_FALSE(table_->WriteLock());
  table_->WriteUnlock();
}

TEST_F(LockProtocolProcessTest, TransactionKeepsWritersOutAndDefersRecordUnlocks) {
  PeerProgram peer(dir_.path(), "LOCKS");
  ASSERT_TRUE(peer.ready());
  directory_->StartTransaction();
  ASSERT_TRUE(table_->TransactionLockHeld());

  // Other programs still read and lock records, but cannot write.
  EXPECT_EQ(peer.Do(PeerProgram::kReadLock), 0);
  EXPECT_EQ(peer.Do(PeerProgram::kReadUnlock), 0);
  EXPECT_EQ(peer.Do(PeerProgram::kLockRecord, 1), 0);
  EXPECT_EQ(peer.Do(PeerProgram::kUnlockRecord, 1), 0);
  EXPECT_EQ(peer.Do(PeerProgram::kWriteLock), -VEVURA_LOCKTIMEOUT);

  // An unlock keeps the record's lock until the transaction ends; locking
  // it again needs no new lock.
  EXPECT_FALSE(table_->LockRecord(3));
  table_->UnlockRecord(3);
  EXPECT_TRUE(table_->LockedRecords().Test(3));
  EXPECT_TRUE(table_->DeferredUnlocks().Test(3));
  EXPECT_EQ(peer.Do(PeerProgram::kLockRecord, 3), -VEVURA_RECLOCKFAILED);
  fs_.Reset();
  EXPECT_FALSE(table_->LockRecord(3));
  EXPECT_EQ(fs_.At(RecordLockOffset(3)).calls, 0);
  table_->UnlockRecord(3);
  // A record still locked when the transaction ends stays locked.
  EXPECT_FALSE(table_->LockRecord(4));

  directory_->Commit(true, false);
  EXPECT_FALSE(table_->TransactionLockHeld());
  EXPECT_FALSE(table_->InTransaction());
  EXPECT_FALSE(table_->LockedRecords().Test(3));
  EXPECT_EQ(peer.Do(PeerProgram::kLockRecord, 3), 0);
  EXPECT_EQ(peer.Do(PeerProgram::kLockRecord, 4), -VEVURA_RECLOCKFAILED);
  EXPECT_EQ(peer.Do(PeerProgram::kWriteLock), 0);
  EXPECT_EQ(peer.Do(PeerProgram::kWriteUnlock), 0);
  table_->UnlockRecord(4);

  // A rollback releases the deferred unlocks as well.
  directory_->StartTransaction();
  EXPECT_FALSE(table_->LockRecord(2));
  table_->UnlockRecord(2);
  EXPECT_EQ(peer.Do(PeerProgram::kLockRecord, 2), -VEVURA_RECLOCKFAILED);
  directory_->Rollback();
  EXPECT_EQ(peer.Do(PeerProgram::kLockRecord, 2), 0);
}

}  // namespace
}  // namespace vevura
