// A cursor's side of the table locks: record locks between cursors of one
// table object, and the refresh after another user's change.

#include "engine/core/cursor_locks.h"
#include "engine/core/lock_protocol.h"
#include "tests/engine/core/core_test_support.h"

namespace vevura {
namespace {

using test::CodeRaisedBy;
using test::PeerProgram;

//! A cursor that stands on a record and counts its refreshes.
class TestCursor final : public TCursorTableLocks {
 public:
  int32_t current = 1;     //!< the record it stands on
  int32_t remembered = 0;  //!< the record remembered before the last lock
  int refreshes = 0;       //!< RefreshAndReposition calls

 protected:
  int32_t CurrentRecordNumber() const override { return current; }
  void RememberPosition() override { remembered = current; }
  void RefreshAndReposition() override {
    ++refreshes;
    current = remembered;
  }
};

class CursorLocksTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    test::CreateTestTable(*directory_, "CURSORS");
    table_ = Open("CURSORS");
    test::ChangeUnderWriteLock(*table_, [&] {
      for (int i = 1; i <= 6; ++i) test::AppendRecord(*table_, "row" + std::to_string(i));
    });
    first_.AttachTable(table_);
    second_.AttachTable(Open("CURSORS"));
    session_->SetLockWaitTime(1);
  }

  TDataTable* table_ = nullptr;
  TestCursor first_;
  TestCursor second_;
};

TEST_F(CursorLocksTest, RecordHeldByAnotherCursorOfTheTableFailsAtOnce) {
  ASSERT_EQ(second_.Table(), table_);
  first_.current = 5;
  first_.CursorLockRecord(0);
  first_.CursorReadUnlock();
  EXPECT_EQ(first_.LockedRecord(), 5);
  EXPECT_TRUE(table_->CursorRecordLocks().Test(5));

  // However many retries the session allows, the second cursor does not
  // even try the record's lock byte.
  session_->SetLockRetryCount(200);
  session_->SetLockWaitTime(50);
  fs_.Reset();
  EXPECT_EQ(CodeRaisedBy([&] { second_.CursorLockRecord(5); }), VEVURA_RECLOCKFAILED);
  EXPECT_EQ(fs_.TotalCalls(), 0);
  EXPECT_EQ(second_.LockedRecord(), 0);

  // Other records are free to it; once the first cursor lets go, 5 is too.
  second_.CursorLockRecord(4);
  second_.CursorReadUnlock();
  first_.CursorUnlockRecord(0);
  EXPECT_EQ(first_.LockedRecord(), 0);
  EXPECT_FALSE(table_->LockedRecords().Test(5));
  second_.CursorLockRecord(5);
  second_.CursorReadUnlock();
  EXPECT_TRUE(table_->CursorRecordLocks().Test(4));
  EXPECT_TRUE(table_->CursorRecordLocks().Test(5));
  second_.CursorUnlockRecord(4);
  second_.CursorUnlockRecord(5);
  EXPECT_EQ(table_->LockedRecords().Count(), 0);
}

TEST_F(CursorLocksTest, ChangesOfAnotherCursorRefreshAtTheNextLock) {
  // The second cursor's change moves the table's counters past the first
  // cursor's snapshot; no header on disk needs to differ from memory.
  second_.CursorWriteLock();
  test::Rename(*table_, 2, "changed");
  table_->ChangesMade(true, true, false);
  second_.TakeSnapshot();
  second_.CursorWriteUnlock();
  EXPECT_EQ(second_.refreshes, 0);

  first_.current = 3;
  EXPECT_TRUE(first_.CheckCursorChanges());
  EXPECT_EQ(first_.refreshes, 1);
  EXPECT_EQ(first_.current, 3);
  EXPECT_FALSE(first_.CheckCursorChanges());
  EXPECT_FALSE(first_.CursorReadLock());
  first_.CursorReadUnlock();
  EXPECT_EQ(first_.refreshes, 1);
}

TEST_F(CursorLocksTest, AnotherProgramsChangeReachesTheCursorAfterALock) {
  PeerProgram peer(dir_.path(), "CURSORS");
  ASSERT_TRUE(peer.ready());
  first_.current = 2;
  ASSERT_EQ(peer.Do(PeerProgram::kRenameRecord, 2), 0);

  // Without strict change detection nothing is seen before a lock.
  EXPECT_FALSE(first_.CheckCursorChanges());
  EXPECT_TRUE(first_.CursorLockRecord(0));
  first_.CursorReadUnlock();
  EXPECT_EQ(first_.refreshes, 1);
  EXPECT_EQ(first_.current, 2);
  EXPECT_EQ(test::NameOf(*table_, 2), "peer");
  first_.CursorUnlockRecord(0);
  // The second cursor of the same table object learns of it from the
  // counters alone.
  EXPECT_TRUE(second_.CheckCursorChanges());

  // With strict change detection every check reads the headers under the
  // read lock, which stays held for the navigation.
  session_->SetStrictChangeDetection(true);
  ASSERT_EQ(peer.Do(PeerProgram::kRenameRecord, 3), 0);
  EXPECT_TRUE(first_.CheckCursorChanges());
  EXPECT_TRUE(table_->ReadLocked());
  first_.CursorReadUnlock();
  EXPECT_EQ(test::NameOf(*table_, 3), "peer");
  EXPECT_FALSE(first_.CheckCursorChanges());
  first_.CursorReadUnlock();
}

TEST_F(CursorLocksTest, ExclusiveTablePlacesNoLocksAndSeesNoChanges) {
  Close(table_);
  Close(second_.Table());
  TDataTable* exclusive = Open("CURSORS", true);
  ASSERT_NE(exclusive, nullptr);
  TestCursor cursor;
  cursor.AttachTable(exclusive);
  fs_.Reset();
  EXPECT_FALSE(cursor.CursorReadLock());
  EXPECT_FALSE(cursor.CursorWriteLock());
  EXPECT_FALSE(cursor.CursorLockRecord(3));
  cursor.CursorUnlockRecord(3);
  cursor.CursorWriteUnlock();
  cursor.CursorReadUnlock();
  test::Rename(*exclusive, 3, "mine");
  exclusive->ChangesMade(true, true, false);
  EXPECT_FALSE(cursor.CheckCursorChanges());
  EXPECT_EQ(fs_.TotalCalls(), 0);
  EXPECT_FALSE(exclusive->ReadLocked());
  EXPECT_FALSE(exclusive->WriteLocked());
}

}  // namespace
}  // namespace vevura
