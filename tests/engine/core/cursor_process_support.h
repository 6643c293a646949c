#pragma once
// Shared pieces of the tests that run cursors in several programs at once: a
// table whose records check themselves, child programs started with fork
// that talk to the test through two pipes and end with an exit status, and
// the engine state a child program starts afresh.
//
// Every record of the tagged table names who wrote it (WRITER) and its place
// in that writer's sequence (SEQ); TAG, PAYLOAD and NOTES follow from those
// two, and CHECK is a checksum of all of them, so a reader can tell a whole
// record from a half-written or stale one without knowing anything else.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <compare>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "engine/base/engine_error.h"
#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/core/engine.h"
#include "engine/core/table_create.h"
#include "engine/core/table_definition.h"
#include "platform/file_system.h"

namespace vevura::test {

// ----- The tagged table -----

//! Field numbers of the tagged table.
inline constexpr uint16_t kIdField = 1;  //!< auto-increment, the primary index
inline constexpr uint16_t kWriterField = 2;
inline constexpr uint16_t kSeqField = 3;
inline constexpr uint16_t kTagField = 4;  //!< 12 upper-case hex digits, index "TAG"
inline constexpr uint16_t kPayloadField = 5;
inline constexpr uint16_t kCheckField = 6;
inline constexpr uint16_t kNotesField = 7;  //!< memo, in tables made with notes
//! The non-unique index over TAG and the unique one over WRITER and SEQ.
inline constexpr const char* kTagIndex = "TAG";
inline constexpr const char* kWriterSeqIndex = "WRITERSEQ";
//! Longest payload text.
inline constexpr size_t kPayloadSize = 120;

//! Who wrote a record and its place in that writer's sequence.
struct TTag {
  int32_t Writer = 0;
  int32_t Seq = 0;
  auto operator<=>(const TTag&) const = default;
};

inline uint64_t MixBits(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  return x ^ (x >> 33);
}

inline uint64_t TagHash(TTag tag, uint64_t salt) {
  return MixBits((static_cast<uint64_t>(tag.Writer) << 32 | static_cast<uint32_t>(tag.Seq)) ^
                 salt * 0x9e3779b97f4a7c15ULL);
}

//! TAG: scattered over the index, so inserts land everywhere in it.
inline std::string TagText(TTag tag) {
  static const char kHex[] = "0123456789ABCDEF";
  uint64_t h = TagHash(tag, 1);
  std::string text(12, '0');
  for (char& c : text) {
    c = kHex[h & 15];
    h >>= 4;
  }
  return text;
}

//! PAYLOAD: 10 to 120 letters and digits.
inline std::string PayloadText(TTag tag) {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  uint64_t h = TagHash(tag, 2);
  std::string text(10 + h % (kPayloadSize - 9), 'x');
  for (size_t i = 0; i < text.size(); ++i) text[i] = kChars[TagHash(tag, 3 + i) % 62];
  return text;
}

//! NOTES: every third record has a memo of 1 to about 2,000 bytes.
inline std::string NotesText(TTag tag) {
  if (tag.Seq % 3 != 0) return "";
  uint64_t h = TagHash(tag, 4);
  std::string text;
  size_t length = 1 + h % 2000;
  while (text.size() < length) text += std::to_string(TagHash(tag, 5 + text.size())) + ' ';
  text.resize(length);
  return text;
}

inline uint32_t Fnv(uint32_t h, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
  return h;
}

//! CHECK: a checksum of every other value of the record.
inline int32_t Checksum(TTag tag, const std::string& tag_text, const std::string& payload,
                        const std::string& notes) {
  uint32_t h = 2166136261u;
  h = Fnv(h, &tag.Writer, 4);
  h = Fnv(h, &tag.Seq, 4);
  h = Fnv(h, tag_text.data(), tag_text.size());
  h = Fnv(h, payload.data(), payload.size());
  h = Fnv(h, notes.data(), notes.size());
  return static_cast<int32_t>(h);
}

inline TFieldDescriptor TaggedField(uint16_t number, const std::string& name, uint8_t type,
                                    uint8_t subtype = fsNone, uint8_t size = 0) {
  TFieldDescriptor d;
  d.FieldNumber = number;
  d.Name = name;
  d.Type = type;
  d.Subtype = subtype;
  d.Size = size;
  return d;
}

//! The tagged table: the fields above, the primary index over ID, "TAG"
//! (non-unique) and "WRITERSEQ" (unique).
inline TTableDefinition TaggedTableDefinition(bool with_notes) {
  TTableDefinition d;
  d.Fields = {
      TaggedField(kIdField, "ID", fcInteger, fsAutoInc),
      TaggedField(kWriterField, "WRITER", fcInteger),
      TaggedField(kSeqField, "SEQ", fcInteger),
      TaggedField(kTagField, "TAG", fcString, fsNone, 12),
      TaggedField(kPayloadField, "PAYLOAD", fcString, fsNone, kPayloadSize),
      TaggedField(kCheckField, "CHECK", fcInteger),
  };
  if (with_notes) d.Fields.push_back(TaggedField(kNotesField, "NOTES", fcBlob, fsMemo));
  d.Indexes[0].FieldNumbers[0] = kIdField;
  d.Indexes[0].Unique = 1;
  d.Indexes[1].Name = kTagIndex;
  d.Indexes[1].FieldNumbers[0] = kTagField;
  d.Indexes[2].Name = kWriterSeqIndex;
  d.Indexes[2].Unique = 1;
  d.Indexes[2].FieldNumbers[0] = kWriterField;
  d.Indexes[2].FieldNumbers[1] = kSeqField;
  d.SecondaryIndexCount = 2;
  return d;
}

//! Creates the tagged table in dir through the started engine's session.
inline void CreateTaggedTable(const std::string& dir, const std::string& name, bool with_notes) {
  TDataDirectory* directory = DefaultEngineSession().OpenDataDirectory("", dir);
  TTableTarget target;
  target.TableName = name;
  target.Exclusive = true;
  CreateTable(*directory, target, TaggedTableDefinition(with_notes));
  DefaultEngineSession().CloseDataDirectory(directory);
}

//! Writes the memo text into the field of buffer through cursor; "" or what
//! failed.
inline std::string WriteNotes(TDataCursor& cursor, TRecordImage buffer, const std::string& notes) {
  int32_t length = 0;
  int code = cursor.OpenBlob(kNotesField, buffer, boWrite, &length);
  if (code == 0) code = cursor.TruncateBlob(kNotesField, buffer, 0);
  if (code == 0 && !notes.empty()) {
    code = cursor.WriteBlob(kNotesField, buffer, 0, static_cast<int32_t>(notes.size()),
                            reinterpret_cast<const uint8_t*>(notes.data()));
  }
  return code == 0 ? "" : "writing the memo gave " + std::to_string(code);
}

//! Reads the memo of record through cursor into *notes; "" or what failed.
inline std::string ReadNotes(TDataCursor& cursor, TRecordImage record, std::string* notes) {
  int32_t length = 0;
  int code = cursor.OpenBlob(kNotesField, record, boRead, &length);
  if (code != 0) return "opening the memo gave " + std::to_string(code);
  notes->assign(static_cast<size_t>(length), '\0');
  int32_t read = 0;
  if (length > 0) {
    code = cursor.ReadBlob(kNotesField, record, 0, length,
                           reinterpret_cast<uint8_t*>(notes->data()), &read);
  }
  int closed = cursor.CloseBlob(kNotesField, record);
  if (code != 0 || read != length) return "reading the memo gave " + std::to_string(code);
  if (closed != 0) return "closing the memo gave " + std::to_string(closed);
  return "";
}

//! A new record of tag in buffer, ready for InsertRecord (its memo is held
//! open by the cursor until CloseNotes). "" or what failed.
inline std::string FillTagged(TDataCursor& cursor, TRecordImage buffer, TTag tag) {
  const auto& fields = cursor.Fields();
  bool with_notes = fields.size() >= kNotesField;
  std::string tag_text = TagText(tag), payload = PayloadText(tag);
  std::string notes = with_notes ? NotesText(tag) : "";
  cursor.InitRecord(buffer);
  SetIntegerField(buffer, fields[kWriterField - 1], tag.Writer);
  SetIntegerField(buffer, fields[kSeqField - 1], tag.Seq);
  SetStringField(buffer, fields[kTagField - 1], tag_text, 0);
  SetStringField(buffer, fields[kPayloadField - 1], payload, 0);
  SetIntegerField(buffer, fields[kCheckField - 1], Checksum(tag, tag_text, payload, notes));
  return with_notes && !notes.empty() ? WriteNotes(cursor, buffer, notes) : "";
}

//! Gives back the memo buffer FillTagged left open once the record is
//! posted; unposted is the record as it was before the post (the post puts
//! the stored reference in place of the buffer's).
inline void CloseNotes(TDataCursor& cursor, TRecordImage unposted) {
  if (cursor.OpenBlobCount() > 0) cursor.CloseBlob(kNotesField, unposted);
}

//! Finds the record of tag through the unique index over WRITER and SEQ and
//! deletes it; false when it is not there. The cursor stays on the primary
//! index.
inline bool DeleteTagged(TDataCursor& cursor, TTag tag) {
  std::vector<uint8_t> probe(cursor.RecordSize()), record(cursor.RecordSize());
  cursor.InitRecord(probe);
  SetIntegerField(probe, cursor.Fields()[kWriterField - 1], tag.Writer);
  SetIntegerField(probe, cursor.Fields()[kSeqField - 1], tag.Seq);
  cursor.SwitchToIndex(kWriterSeqIndex);
  bool found = cursor.FindKey(probe, false, 2, 0, false, record);
  if (found) cursor.DeleteRecord(record, false);
  cursor.SwitchToIndex("");
  return found;
}

//! "" when record (read through cursor) is a whole tagged record, its tag in
//! *tag; otherwise what is wrong with it.
inline std::string CheckTagged(TDataCursor& cursor, TRecordImage record, TTag* tag) {
  const auto& fields = cursor.Fields();
  tag->Writer = GetIntegerField(record, fields[kWriterField - 1]);
  tag->Seq = GetIntegerField(record, fields[kSeqField - 1]);
  int32_t id = GetIntegerField(record, fields[kIdField - 1]);
  std::string tag_text = GetStringField(record, fields[kTagField - 1]);
  std::string payload = GetStringField(record, fields[kPayloadField - 1]);
  const bool with_notes = fields.size() >= kNotesField;
  std::string notes;
  if (with_notes) {
    std::string failed = ReadNotes(cursor, record, &notes);
    if (!failed.empty()) return "record " + std::to_string(id) + ": " + failed;
  }
  std::string where = "record " + std::to_string(id) + " (writer " + std::to_string(tag->Writer) +
                      ", seq " + std::to_string(tag->Seq) + ")";
  if (id <= 0) return where + ": no row id";
  if (tag_text != TagText(*tag)) return where + ": TAG " + tag_text;
  if (payload != PayloadText(*tag)) return where + ": PAYLOAD " + payload;
  if (notes != (with_notes ? NotesText(*tag) : ""))
    return where + ": NOTES of " + std::to_string(notes.size());
  if (GetIntegerField(record, fields[kCheckField - 1]) !=
      Checksum(*tag, tag_text, payload, notes)) {
    return where + ": CHECK does not match";
  }
  return "";
}

// ----- Child programs -----

//! Exit statuses of the child programs.
enum TChildStatus : int {
  csOk = 0,
  csEngineError = 2,   //!< an engine error ended the program
  csBadRecord = 3,     //!< a record read was not whole
  csBadOrder = 4,      //!< an index walk was out of order or saw a record twice
  csWrongCount = 5,    //!< the last walk did not see every record
  csLostControl = 6,   //!< the test's pipe closed early
  csOtherError = 100,  //!< any other exception
};

//! Reads the integer environment variable name, or fallback when unset.
inline int EnvCount(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}

//! Milliseconds on a steady clock.
inline int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

//! A program of its own: a forked child that runs body and exits with its
//! result (csOtherError when body throws). body receives the write end of
//! the report pipe (child to test) and the read end of the control pipe
//! (test to child). The child closes every pipe end the test holds for
//! other children, so that it shares nothing with them. Destroying the
//! object kills a child still running and reaps it.
class ChildProgram {
 public:
  using Body = std::function<int(int report_fd, int control_fd)>;
  //! Wait result when the child did not end in time (it was killed).
  static constexpr int kTimedOut = -1000;

  explicit ChildProgram(const Body& body) {
    // A command to a child that has ended must fail, not end the test.
    ::signal(SIGPIPE, SIG_IGN);
    int report[2], control[2];
    if (::pipe(report) != 0) return;
    if (::pipe(control) != 0) {
      ::close(report[0]);
      ::close(report[1]);
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      for (int fd : ParentEnds()) ::close(fd);
      ::close(report[0]);
      ::close(control[1]);
      int status = csOtherError;
      try {
        status = body(report[1], control[0]);
      } catch (const EVEVURAEngineError& e) {
        std::fprintf(stderr, "child %d: engine error %u\n", static_cast<int>(::getpid()),
                     e.ErrorCode);
        status = csEngineError;
      } catch (const std::exception& e) {
        std::fprintf(stderr, "child %d: %s\n", static_cast<int>(::getpid()), e.what());
      }
      ::_exit(status);
    }
    ::close(report[1]);
    ::close(control[0]);
    report_ = report[0];
    control_ = control[1];
    ParentEnds().insert(report_);
    ParentEnds().insert(control_);
  }
  ~ChildProgram() {
    if (running()) {
      Kill();
      Wait(10000);
    }
    for (int fd : {report_, control_}) {
      if (fd < 0) continue;
      ParentEnds().erase(fd);
      ::close(fd);
    }
  }
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  bool started() const { return pid_ > 0; }
  bool running() const { return pid_ > 0 && !reaped_; }

  //! Sends one command byte; false when the child cannot get it.
  bool Send(char command) { return control_ >= 0 && ::write(control_, &command, 1) == 1; }

  //! Reads exactly n report bytes, waiting until deadline_ms (NowMs); false
  //! at the end of the pipe or at the deadline.
  bool Receive(void* data, size_t n, int64_t deadline_ms) {
    auto* p = static_cast<char*>(data);
    while (n > 0) {
      if (!Readable(deadline_ms)) return false;
      ssize_t got = ::read(report_, p, n);
      if (got <= 0) return false;
      p += got;
      n -= static_cast<size_t>(got);
    }
    return true;
  }
  //! Every report byte up to the end of the pipe (the child has ended).
  std::string ReceiveAll() {
    std::string bytes;
    char chunk[4096];
    ssize_t got;
    while ((got = ::read(report_, chunk, sizeof chunk)) > 0) bytes.append(chunk, got);
    return bytes;
  }

  void Kill() {
    if (running()) ::kill(pid_, SIGKILL);
  }
  //! Waits for the child to end, until deadline_ms (NowMs); a child still
  //! running then is killed. Its exit status, -signal when a signal ended
  //! it, or kTimedOut.
  int Wait(int64_t deadline_ms) {
    if (!started()) return csOtherError;
    if (reaped_) return result_;
    int status = 0;
    for (;;) {
      pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) break;
      if (done < 0) return csOtherError;
      if (NowMs() >= deadline_ms) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        reaped_ = true;
        return result_ = kTimedOut;
      }
      ::usleep(2000);
    }
    reaped_ = true;
    result_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return result_;
  }

 private:
  //! The pipe ends the test holds for its children.
  static std::set<int>& ParentEnds() {
    static std::set<int> ends;
    return ends;
  }
  bool Readable(int64_t deadline_ms) {
    for (;;) {
      int64_t left = deadline_ms - NowMs();
      if (left < 0) return false;
      pollfd p{report_, POLLIN, 0};
      int ready = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 1000)));
      if (ready > 0) return true;
    }
  }

  pid_t pid_ = -1;
  int report_ = -1;   //!< read end of the report pipe
  int control_ = -1;  //!< write end of the control pipe
  bool reaped_ = false;
  int result_ = 0;
};

//! In a child program: the engine state of a program started afresh (the
//! test process has stopped its engine before forking, so nothing of it is
//! shared), with the plain file system.
class ProgramEngine {
 public:
  ProgramEngine() {
    platform::SetFileSystem(nullptr);
    StopEngine();
    StartEngine();
  }
  ~ProgramEngine() { StopEngine(); }
  ProgramEngine(const ProgramEngine&) = delete;
  ProgramEngine& operator=(const ProgramEngine&) = delete;
  TDataSession& Session() { return DefaultEngineSession(); }
};

//! Blocks until a command byte arrives on fd; 0 when the pipe closed.
inline char AwaitCommand(int fd) {
  char command = 0;
  return ::read(fd, &command, 1) == 1 ? command : 0;
}

//! A command byte if one is waiting on fd (0 when none); 'q' when the pipe
//! closed.
inline char PendingCommand(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return 0;
  char command = 0;
  return ::read(fd, &command, 1) == 1 ? command : 'q';
}

}  // namespace vevura::test
