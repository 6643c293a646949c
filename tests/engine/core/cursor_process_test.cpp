// Cursors of several programs on one shared table: writers appending while
// readers walk the indexes, and a writer killed at a random moment, over and
// over. Each program is a forked child with an engine of its own.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>

#include "engine/core/table_repair.h"
#include "engine/core/table_verify.h"
#include "tests/engine/core/cursor_process_support.h"
#include "tests/platform/platform_test_support.h"

namespace vevura {
namespace {

using test::ChildProgram;
using test::kTagIndex;
using test::NowMs;
using test::ProgramEngine;
using test::TTag;

constexpr const char* kTable = "SHARED";
//! Commands of the test to its children.
constexpr char kGo = 'g';
constexpr char kQuit = 'q';
//! The report of a child whose table is open.
constexpr char kReady = 'r';

//! Opens a shared cursor on the table in dir for a program of its own.
std::unique_ptr<TDataCursor> OpenShared(TDataSession& session, const std::string& dir) {
  TDataDirectory* directory = session.OpenDataDirectory("", dir);
  auto cursor = std::make_unique<TDataCursor>(*directory);
  cursor->SetTableName(kTable);
  cursor->OpenCursor();
  return cursor;
}

// ----- The programs -----

//! A writer: appends records (writer, 0) to (writer, count - 1), one post
//! each, once told to go; when deleting, each record of odd sequence number
//! is followed by the delete of the record before it. Each returned post is
//! reported as a 4-byte number: the sequence number of an appended record,
//! or -1 - the sequence number of a deleted one.
int WriterProgram(const std::string& dir, TLockProtocol protocol, int32_t writer, int32_t count,
                  bool deleting, int report, int control) {
  ProgramEngine engine;
  engine.Session().SetLockProtocol(protocol);
  auto cursor = OpenShared(engine.Session(), dir);
  if (::write(report, &kReady, 1) != 1 || test::AwaitCommand(control) != kGo) {
    return test::csLostControl;
  }
  std::vector<uint8_t> buffer(cursor->RecordSize());
  for (int32_t seq = 0; seq < count; ++seq) {
    std::string failed = test::FillTagged(*cursor, buffer, TTag{writer, seq});
    if (!failed.empty()) {
      std::fprintf(stderr, "writer %d, seq %d: %s\n", writer, seq, failed.c_str());
      return test::csOtherError;
    }
    std::vector<uint8_t> unposted = buffer;
    cursor->InsertRecord(buffer, true);
    test::CloseNotes(*cursor, unposted);
    if (::write(report, &seq, 4) != 4) return test::csLostControl;
    if (!deleting || seq % 2 == 0) continue;
    if (!test::DeleteTagged(*cursor, TTag{writer, seq - 1})) {
      std::fprintf(stderr, "writer %d: seq %d not found\n", writer, seq - 1);
      return test::csOtherError;
    }
    int32_t deleted = -seq;
    if (::write(report, &deleted, 4) != 4) return test::csLostControl;
  }
  cursor->CloseCursor(false);
  return test::csOk;
}

//! One walk of an index from First to the end: every record whole, keys in
//! strictly rising order (TAG ties broken by the row id), no record twice.
struct TWalk {
  int Status = test::csOk;
  std::string Failure;
  std::set<TTag> Seen;
};

TWalk WalkIndex(TDataCursor& cursor, const std::string& index) {
  TWalk walk;
  cursor.SwitchToIndex(index);
  cursor.First();
  const auto& fields = cursor.Fields();
  std::vector<uint8_t> record(cursor.RecordSize());
  std::pair<std::string, int32_t> previous{"", 0};
  int code;
  while ((code = cursor.Next(record)) == kCursorOnRecord) {
    // The primary index orders by row id; TAG by its text, then the row id.
    std::pair<std::string, int32_t> key{"", GetIntegerField(record, fields[test::kIdField - 1])};
    if (index == kTagIndex) key.first = GetStringField(record, fields[test::kTagField - 1]);
    TTag tag;
    walk.Failure = test::CheckTagged(cursor, record, &tag);
    if (!walk.Failure.empty()) {
      walk.Status = test::csBadRecord;
      return walk;
    }
    if (!walk.Seen.empty() && !(previous < key)) {
      walk.Status = test::csBadOrder;
      walk.Failure = "row " + std::to_string(key.second) + " " + key.first + " after row " +
                     std::to_string(previous.second) + " " + previous.first;
      return walk;
    }
    if (!walk.Seen.insert(tag).second) {
      walk.Status = test::csBadOrder;
      walk.Failure = "writer " + std::to_string(tag.Writer) + " seq " + std::to_string(tag.Seq) +
                     " seen twice";
      return walk;
    }
    previous = key;
  }
  if (code != VEVURA_EOF && code != VEVURA_NOCURRREC) {
    walk.Status = test::csBadOrder;
    walk.Failure = "the walk ended with " + std::to_string(code);
  }
  return walk;
}

//! Row ids a reader's filter lets through.
constexpr int32_t kFilteredRowIds = 1000;

//! A walk through the filter "ID <= kFilteredRowIds": the row ids, which must
//! rise and pass the filter, and, once nobody writes (settled), as many as
//! the cursor counts; "" or what was wrong.
std::string WalkFiltered(TDataCursor& cursor, bool settled, size_t* count) {
  std::vector<uint8_t> record(cursor.RecordSize());
  int32_t previous = 0;
  *count = 0;
  cursor.First();
  while (cursor.Next(record) == kCursorOnRecord) {
    const int32_t id = GetIntegerField(record, cursor.Fields()[test::kIdField - 1]);
    if (id <= previous || id > kFilteredRowIds) {
      return "the filter showed row " + std::to_string(id) + " after row " +
             std::to_string(previous);
    }
    previous = id;
    ++*count;
  }
  // While others write, the count may already include their newer records.
  if (settled && static_cast<int64_t>(*count) != cursor.GetRecordCount()) {
    return "the filter counts " + std::to_string(cursor.GetRecordCount()) + " records but showed " +
           std::to_string(*count);
  }
  return "";
}

//! A reader: once told to go, walks the primary index and the TAG index in
//! turn, and a second cursor's filter, until told to quit; then walks all
//! once more, and each must show every one of the total records (the
//! filter those of them it lets through). strict: strict change detection.
int ReaderProgram(const std::string& dir, TLockProtocol protocol, bool strict, size_t total,
                  int report, int control) {
  ProgramEngine engine;
  engine.Session().SetLockProtocol(protocol);
  engine.Session().SetStrictChangeDetection(strict);
  auto cursor = OpenShared(engine.Session(), dir);
  // Opened on the empty table: what it shows later came from the writers.
  auto filtered = OpenShared(engine.Session(), dir);
  filtered->ActivateFilter(filtered->AddFilter("ID <= " + std::to_string(kFilteredRowIds), {}));
  if (::write(report, &kReady, 1) != 1 || test::AwaitCommand(control) != kGo) {
    return test::csLostControl;
  }
  int passes = 0;
  size_t most_seen = 0;
  bool last = false;
  for (;;) {
    last = last || test::PendingCommand(control) == kQuit;
    for (const char* index : {"", kTagIndex}) {
      TWalk walk = WalkIndex(*cursor, index);
      if (walk.Status == test::csOk && last && walk.Seen.size() != total) {
        walk.Status = test::csWrongCount;
        walk.Failure = "the last walk saw " + std::to_string(walk.Seen.size());
      }
      if (walk.Status != test::csOk) {
        std::fprintf(stderr, "reader (%s, index \"%s\", pass %d): %s\n",
                     strict ? "strict" : "not strict", index, passes, walk.Failure.c_str());
        return walk.Status;
      }
      if (!last) most_seen = std::max(most_seen, walk.Seen.size());
    }
    size_t shown = 0;
    std::string failure = WalkFiltered(*filtered, last, &shown);
    if (failure.empty() && last && shown != std::min<size_t>(total, kFilteredRowIds)) {
      failure = "the last walk through the filter saw " + std::to_string(shown);
    }
    if (!failure.empty()) {
      std::fprintf(stderr, "reader (%s, filtered, pass %d): %s\n", strict ? "strict" : "not strict",
                   passes, failure.c_str());
      return test::csWrongCount;
    }
    ++passes;
    if (last) break;
  }
  std::fprintf(stderr, "reader (%s): %d passes, up to %zu records while the writers wrote\n",
               strict ? "strict" : "not strict", passes, most_seen);
  filtered->CloseCursor(false);
  cursor->CloseCursor(false);
  return test::csOk;
}

// ----- The test's own look at the table -----

//! What the test finds in the table after the programs ended.
struct TTableContents {
  uint16_t OpenError = 0;  //!< the error that kept a cursor from opening it
  uint16_t WalkError = 0;  //!< the error that stopped the walk of the primary index
  std::string BadRecord;   //!< the first record that was not whole
  std::set<TTag> Tags;     //!< every record reached through the primary index
  std::set<int32_t> RowIds;
  size_t Records = 0;
  TTableVerifyReport Verify;
};

//! Reads and checks the table in dir through directory.
TTableContents ReadTable(TDataDirectory& directory) {
  TTableContents contents;
  {
    TDataCursor cursor(directory);
    cursor.SetTableName(kTable);
    try {
      cursor.OpenCursor();
      std::vector<uint8_t> record(cursor.RecordSize());
      cursor.First();
      while (cursor.Next(record) == kCursorOnRecord) {
        TTag tag;
        std::string failed = test::CheckTagged(cursor, record, &tag);
        if (!failed.empty() && contents.BadRecord.empty()) contents.BadRecord = failed;
        contents.Tags.insert(tag);
        contents.RowIds.insert(GetIntegerField(record, cursor.Fields()[test::kIdField - 1]));
        ++contents.Records;
      }
      cursor.CloseCursor(false);
    } catch (const EVEVURAEngineError& e) {
      (cursor.IsOpen() ? contents.WalkError : contents.OpenError) = e.ErrorCode;
    }
  }
  contents.Verify = VerifyTable(directory, kTable);
  return contents;
}

//! Reads and checks the table in dir as a program of its own.
TTableContents ReadTable(const std::string& dir) {
  ProgramEngine engine;
  return ReadTable(*engine.Session().OpenDataDirectory("", dir));
}

// ----- Writers and readers at once -----

class CursorProcessTest : public ::testing::TestWithParam<TLockProtocol> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    ProgramEngine engine;
    test::CreateTaggedTable(dir_.path(), kTable, true);
  }
  platform::testing::ScratchDir dir_;
};

TEST_P(CursorProcessTest, WritersAppendWhileReadersWalkTheIndexes) {
  const int kWriters = 4, kReaders = 2;
  const int32_t per_writer = test::EnvCount("VEVURA_PROC_RECORDS", 2000);
  const size_t total = static_cast<size_t>(kWriters) * per_writer;
  const std::string dir = dir_.path();
  const TLockProtocol protocol = GetParam();

  // The engine of this process is stopped: the children share no open file.
  std::vector<std::unique_ptr<ChildProgram>> writers, readers;
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(std::make_unique<ChildProgram>([&, w](int report, int control) {
      return WriterProgram(dir, protocol, w, per_writer, false, report, control);
    }));
  }
  for (int r = 0; r < kReaders; ++r) {
    readers.push_back(std::make_unique<ChildProgram>([&, r](int report, int control) {
      return ReaderProgram(dir, protocol, r == 1, total, report, control);
    }));
  }
  std::vector<ChildProgram*> all;
  for (auto& p : writers) all.push_back(p.get());
  for (auto& p : readers) all.push_back(p.get());
  for (ChildProgram* p : all) {
    char ready = 0;
    ASSERT_TRUE(p->started());
    ASSERT_TRUE(p->Receive(&ready, 1, NowMs() + 120000) && ready == kReady)
        << "a program could not open the table";
  }

  const int64_t start = NowMs();
  const int64_t deadline = start + 600000;
  for (ChildProgram* p : all) ASSERT_TRUE(p->Send(kGo));
  for (int w = 0; w < kWriters; ++w) {
    std::vector<int32_t> reported(per_writer);
    EXPECT_TRUE(writers[w]->Receive(reported.data(), reported.size() * 4, deadline))
        << "writer " << w << " did not post every record";
    EXPECT_EQ(writers[w]->Wait(deadline), test::csOk) << "writer " << w;
  }
  const int64_t writing = NowMs() - start;
  for (auto& reader : readers) reader->Send(kQuit);
  for (int r = 0; r < kReaders; ++r) EXPECT_EQ(readers[r]->Wait(deadline), test::csOk);
  std::printf(
      "[ timing ] %d writers x %d records and %d readers: %lld ms writing, %lld ms in all\n",
      kWriters, per_writer, kReaders, static_cast<long long>(writing),
      static_cast<long long>(NowMs() - start));

  TTableContents contents = ReadTable(dir);
  ASSERT_EQ(contents.OpenError, 0);
  EXPECT_EQ(contents.WalkError, 0);
  EXPECT_EQ(contents.BadRecord, "");
  EXPECT_EQ(contents.Records, total);
  EXPECT_EQ(contents.RowIds.size(), total) << "row ids are not unique";
  std::set<TTag> expected;
  for (int w = 0; w < kWriters; ++w) {
    for (int32_t s = 0; s < per_writer; ++s) expected.insert(TTag{w, s});
  }
  EXPECT_TRUE(contents.Tags == expected) << contents.Tags.size() << " distinct records";
  EXPECT_TRUE(contents.Verify.Clean()) << contents.Verify.Describe();
  EXPECT_EQ(contents.Verify.LiveRecords, static_cast<int64_t>(total));
}

INSTANTIATE_TEST_SUITE_P(BothProtocols, CursorProcessTest,
                         ::testing::Values(lpPessimistic, lpOptimistic), [](const auto& info) {
                           return info.param == lpPessimistic ? "Pessimistic" : "Optimistic";
                         });

// ----- What a returned post leaves on disk -----

//! The three files of the table, copied to and from a backup directory.
void CopyTableFiles(const std::string& from, const std::string& to) {
  namespace fs = std::filesystem;
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
    fs::path source = from + kTable + ext;
    if (fs::exists(source)) {
      fs::copy_file(source, to + kTable + ext, fs::copy_options::overwrite_existing);
    }
  }
}

// After each post on a shared table returns, its files as they are on disk
// (copied elsewhere while the writer keeps the table open) hold a whole,
// sound table with every record posted so far: nothing is left in the
// writer's buffers.
TEST(CursorPostOnDiskTest, EveryReturnedPostIsOnDiskWhileTheWriterKeepsTheTableOpen) {
  const int posts = test::EnvCount("VEVURA_SNAPSHOT_POSTS", 300);
  platform::testing::ScratchDir dir, copy;
  ProgramEngine engine;
  test::CreateTaggedTable(dir.path(), kTable, true);
  auto writer = OpenShared(engine.Session(), dir.path());
  TDataDirectory* copies = engine.Session().OpenDataDirectory("", copy.path());
  std::vector<uint8_t> buffer(writer->RecordSize());
  std::set<TTag> posted;
  for (int32_t seq = 0; seq < posts; ++seq) {
    SCOPED_TRACE("post " + std::to_string(seq));
    ASSERT_EQ(test::FillTagged(*writer, buffer, TTag{0, seq}), "");
    std::vector<uint8_t> unposted = buffer;
    writer->InsertRecord(buffer, true);
    test::CloseNotes(*writer, unposted);
    ASSERT_EQ(writer->OpenBlobCount(), 0u);
    posted.insert(TTag{0, seq});
    CopyTableFiles(dir.path(), copy.path());
    TTableContents contents = ReadTable(*copies);
    ASSERT_EQ(contents.OpenError, 0);
    ASSERT_EQ(contents.WalkError, 0);
    ASSERT_EQ(contents.BadRecord, "");
    ASSERT_TRUE(contents.Tags == posted) << contents.Tags.size() << " records on disk";
    ASSERT_TRUE(contents.Verify.Clean()) << contents.Verify.Describe();
  }
}

// ----- A writer killed at random moments -----

//! text with every run of digits as "#", so that alike faults count together.
std::string WithoutNumbers(const std::string& text) {
  std::string out;
  for (char c : text) {
    bool digit = c >= '0' && c <= '9';
    if (!digit)
      out += c;
    else if (out.empty() || out.back() != '#')
      out += '#';
  }
  return out;
}

//! The numbers in text, in order.
std::vector<int64_t> NumbersIn(const std::string& text) {
  std::vector<int64_t> numbers;
  for (size_t i = 0; i < text.size();) {
    if (text[i] < '0' || text[i] > '9') {
      ++i;
      continue;
    }
    size_t end = text.find_first_not_of("0123456789", i);
    if (end == std::string::npos) end = text.size();
    numbers.push_back(std::stoll(text.substr(i, end - i)));
    i = end;
  }
  return numbers;
}

//! A fault that an append interrupted between its writes leaves in the
//! entries of its own record, the last of live records, and nowhere else:
//! the record is missing from an index, counted one short, or counted in an
//! inner entry whose leaf was not yet written.
bool OfTheInterruptedAppend(const std::string& problem, int64_t live) {
  std::vector<int64_t> n = NumbersIn(problem);
  if (problem.find("active record count") != std::string::npos) {
    return n.size() == 2 && n[0] + 1 == n[1] && n[1] == live;
  }
  if (problem.find(": no entry for record") != std::string::npos) {
    return !n.empty() && n.back() == live;
  }
  if (problem.find("found below") != std::string::npos) {
    return n.size() >= 2 && (n[n.size() - 2] - n.back() == 1 || n.back() - n[n.size() - 2] == 1);
  }
  return false;
}

//! A short name for the kind of a problem line of the table check.
std::string ShortKind(const std::string& problem) {
  static const std::pair<const char*, const char*> kKinds[] = {
      {": no entry for record", "a live record missing from an index"},
      {"that the record does not call for", "an index entry its record does not call for"},
      {"active record count", "the active record count is off"},
      {"found below", "inner entries count keys their leaves do not hold"},
      {"neither in a chain nor on the free list", "BLOB blocks that nothing names"},
      {"free records not on the free chain", "free record slots off the free chain"},
  };
  for (const auto& [text, kind] : kKinds) {
    if (problem.find(text) != std::string::npos) return kind;
  }
  return WithoutNumbers(problem);
}

//! What a kill left: nothing (an empty kind), structural damage of the
//! interrupted change, or a loss (a posted change gone, a table that cannot
//! be opened or read).
struct TDamage {
  std::string Kind;
  bool Loss = false;
};

//! The kind of damage a check found.
TDamage DamageKind(const TTableContents& contents, const std::set<TTag>& posted,
                   const std::set<TTag>& deleted, bool appending_only) {
  if (contents.OpenError != 0)
    return {"the table does not open: error " + std::to_string(contents.OpenError), true};
  if (contents.WalkError != 0)
    return {"the primary index walk fails: error " + std::to_string(contents.WalkError), true};
  for (const TTag& tag : posted) {
    if (contents.Tags.count(tag) == 0) return {"a posted record is missing", true};
  }
  for (const TTag& tag : deleted) {
    if (contents.Tags.count(tag) != 0) return {"a record whose delete was posted is there", true};
  }
  if (!contents.BadRecord.empty()) return {"a record is not whole", true};
  std::set<std::string> kinds;
  for (const std::string& problem : contents.Verify.Problems) {
    if (appending_only && OfTheInterruptedAppend(problem, contents.Verify.LiveRecords)) {
      kinds.insert("the interrupted record is not in every index");
    } else {
      kinds.insert(ShortKind(problem));
    }
  }
  std::string kind;
  for (const std::string& k : kinds) kind += (kind.empty() ? "" : " + ") + k;
  return {kind, false};
}

class CursorCrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_FALSE(backup_.path().empty());
    ProgramEngine engine;
    test::CreateTaggedTable(dir_.path(), kTable, true);
  }
  void KillWritersAtRandom(bool deleting, int runs);
  platform::testing::ScratchDir dir_;
  platform::testing::ScratchDir backup_;
};

//! Starts a writer runs times (deleting as WriterProgram says) and kills it
//! at a random moment each time; after each kill the table must open, hold
//! every record whose append was posted and none whose delete was posted,
//! and its primary index must read whole; a run where one of these fails
//! fails the test. The whole-table check runs after every kill: structural
//! damage the interrupted change left behind (its record missing from some
//! indexes, counts off by one, blocks nothing names) is counted, not failed,
//! since no write order avoids it without a journal; the repair must then
//! make the table sound, keeping every posted record once and none whose
//! delete was posted, and the next run goes on from the repaired table.
//! Prints how many runs left the table clean, the kinds of damage of the
//! others and what the repairs gave.
void CursorCrashTest::KillWritersAtRandom(bool deleting, int runs) {
  const int max_delay_us = 40000;
  const int seed_setting = test::EnvCount("VEVURA_CRASH_SEED", 0);
  const unsigned seed =
      seed_setting != 0 ? static_cast<unsigned>(seed_setting) : std::random_device{}();
  SCOPED_TRACE("VEVURA_CRASH_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  const std::string dir = dir_.path();

  std::set<TTag> committed;  //!< records every later check must find
  std::map<std::string, int> tally;
  int64_t posts = 0;
  const int64_t start = NowMs();
  for (int run = 0; run < runs; ++run) {
    CopyTableFiles(dir, backup_.path());
    ChildProgram child([&](int report, int control) {
      return WriterProgram(dir, run % 2 == 0 ? lpPessimistic : lpOptimistic, run, 1 << 30, deleting,
                           report, control);
    });
    char ready = 0;
    ASSERT_TRUE(child.Receive(&ready, 1, NowMs() + 60000) && ready == kReady) << "run " << run;
    ASSERT_TRUE(child.Send(kGo));
    ::usleep(std::uniform_int_distribution<int>(0, max_delay_us)(random));
    child.Kill();
    EXPECT_EQ(child.Wait(NowMs() + 60000), -SIGKILL) << "run " << run << ": the writer ended";
    std::string reported = child.ReceiveAll();
    std::set<TTag> posted = committed, deleted;
    int32_t seq = -1;
    for (size_t i = 0; i + 4 <= reported.size(); i += 4, ++posts) {
      std::memcpy(&seq, reported.data() + i, 4);
      if (seq >= 0) posted.insert(TTag{run, seq});
      if (seq < 0) deleted.insert(TTag{run, -1 - seq});
    }
    for (const TTag& tag : deleted) posted.erase(tag);
    // After an odd append the writer was deleting the record before it:
    // that record may be gone too.
    if (deleting && seq > 0 && seq % 2 == 1) posted.erase(TTag{run, seq - 1});

    TTableContents contents = ReadTable(dir);
    TDamage damage = DamageKind(contents, posted, deleted, !deleting);
    ++tally[damage.Kind.empty() ? "clean" : damage.Kind];
    if (damage.Kind.empty()) {
      committed = contents.Tags;
      continue;
    }
    if (damage.Loss) {
      ADD_FAILURE() << "run " << run << ": " << damage.Kind << "\n"
                    << (contents.BadRecord.empty() ? "" : contents.BadRecord + "\n")
                    << contents.Verify.Describe();
      // The next run starts from the table as it was before this one.
      CopyTableFiles(backup_.path(), dir);
      continue;
    }
    // The repair mends what the interrupted change left: a sound table that
    // holds every posted record once and no record whose delete was posted.
    TTableRepairReport repair;
    {
      ProgramEngine engine;
      TRepairOptions options;
      options.BackupDirectory = std::string(backup_.path()) + "repair";
      repair = RepairTable(*engine.Session().OpenDataDirectory("", dir), kTable, options);
      std::filesystem::remove_all(options.BackupDirectory);
    }
    TTableContents mended = ReadTable(dir);
    const TDamage left = DamageKind(mended, posted, deleted, false);
    ++tally[!repair.Sound()                        ? "  repair left it unsound"
            : !left.Kind.empty()                   ? "  repaired, yet: " + left.Kind
            : mended.Records != mended.Tags.size() ? "  repaired, yet a record twice"
                                                   : "  repaired: sound, every posted record once"];
    if (!repair.Sound() || !left.Kind.empty() || mended.Records != mended.Tags.size()) {
      ADD_FAILURE() << "run " << run << ": after the repair: " << left.Kind << "\n"
                    << repair.After.Describe() << mended.Verify.Describe();
      CopyTableFiles(backup_.path(), dir);
      continue;
    }
    committed = mended.Tags;
  }
  std::printf("[ timing ] %d killed writers, %lld posts: %lld ms\n", runs,
              static_cast<long long>(posts), static_cast<long long>(NowMs() - start));
  std::printf("[ tally  ] after %d kills:\n", runs);
  for (const auto& [kind, count] : tally) std::printf("  %4d  %s\n", count, kind.c_str());
  EXPECT_GT(posts, 0) << "no writer ever posted before it was killed";
}

TEST_F(CursorCrashTest, KilledWriterLosesNoPostedRecordAndLeavesTheTableSound) {
  KillWritersAtRandom(false, test::EnvCount("VEVURA_CRASH_RUNS", 100));
}

TEST_F(CursorCrashTest, KilledWriterThatDeletesKeepsEveryPostedChange) {
  KillWritersAtRandom(true, test::EnvCount("VEVURA_CRASH_RUNS", 100) / 2);
}

}  // namespace
}  // namespace vevura
