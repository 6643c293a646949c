// Whole-file copies: round trips plain and compressed, for disk and
// in-memory files, their progress reports and their failures.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>

#include "engine/storage/common/byte_order.h"
#include "platform/directory.h"
#include "tests/engine/storage/file_layer_support.h"

namespace vevura {
namespace {

using test::Bytes;
using test::CodeRaisedBy;
using test::ContentsOf;
using test::Handler;
using test::MakeFile;

class FileCopyTest : public test::FileLayerTest {};

// Half random, half repetitive bytes: compressible, but not trivially.
std::vector<uint8_t> SampleContents(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> contents(size);
  for (size_t i = 0; i < size; ++i) {
    contents[i] = (i / 512) % 2 == 0 ? static_cast<uint8_t>(random()) : static_cast<uint8_t>(i);
  }
  return contents;
}

struct ProgressLog {
  std::vector<int32_t> percents;
  void* user_values_seen = nullptr;
};

TCopyProgress LoggingProgress(ProgressLog& log, int32_t step) {
  TCopyProgress progress;
  progress.Step = step;
  progress.UserValue = &log;
  progress.Callback = [](void* user_value, int32_t percent) {
    auto* log = static_cast<ProgressLog*>(user_value);
    log->percents.push_back(percent);
    log->user_values_seen = user_value;
  };
  return progress;
}

TEST_F(FileCopyTest, CopiesRoundTripPlainAndCompressedForBothKinds) {
  const size_t sizes[] = {0, 1, 65535, 65536, 3 * 65536 + 17};
  for (bool in_memory : {false, true}) {
    for (bool compress : {false, true}) {
      for (size_t size : sizes) {
        SCOPED_TRACE(testing::Message()
                     << "memory " << in_memory << " compress " << compress << " size " << size);
        std::vector<uint8_t> contents = SampleContents(size, static_cast<uint32_t>(size));
        std::string original = in_memory ? "ORIGINAL" : PathOf("ORIGINAL.DAT");
        std::string copy = in_memory ? "COPY" : PathOf("COPY.DAT");
        MakeFile(original, contents, in_memory);
        auto source = Handler(original, in_memory);
        source->Open();
        source->CopyTo(copy, compress, {});
        auto stored = Handler(copy, in_memory);
        stored->Open();
        if (!compress) {
          EXPECT_EQ(ContentsOf(*stored), contents);
        }
        if (compress && size > 65536) {
          EXPECT_LT(stored->GetSize(), static_cast<int64_t>(size));
        }
        stored->Close();

        // Back into a file that holds more than the copy: the rest goes.
        auto target = Handler(in_memory ? "TARGET" : PathOf("TARGET.DAT"), in_memory);
        target->CreateFile();
        std::vector<uint8_t> longer(size + 70000, 0xEE);
        target->Write(longer.data(), static_cast<int64_t>(longer.size()));
        target->CopyFrom(copy, compress, {});
        EXPECT_EQ(ContentsOf(*target), contents);
        EXPECT_EQ(FileList()->Count(), in_memory ? 3 : 2);  // the copy was released
        target->Close();
        source->Close();
        Handler(copy, in_memory)->DeleteFile();
      }
    }
  }
}

TEST_F(FileCopyTest, ProgressIsReportedInStepsUpToAHundred) {
  std::string original = PathOf("BIG.DAT");
  MakeFile(original, SampleContents(20 * 65536 + 100, 7));  // 21 chunks
  auto source = Handler(original);
  source->Open();
  for (int32_t step : {0, 10, 30}) {
    ProgressLog log;
    source->CopyTo(PathOf("STEP.DAT"), step == 10, LoggingProgress(log, step));
    ASSERT_FALSE(log.percents.empty());
    EXPECT_EQ(log.user_values_seen, &log);
    EXPECT_EQ(log.percents.back(), step == 30 ? 90 : 100);
    for (size_t i = 1; i < log.percents.size(); ++i) {
      EXPECT_GE(log.percents[i] - log.percents[i - 1], std::max(step, 0));
    }
    if (step == 0) {
      EXPECT_EQ(log.percents.size(), 21u);  // once per chunk
    }
    EXPECT_GE(log.percents.front(), step);
    Handler(PathOf("STEP.DAT"))->DeleteFile();
  }

  // An empty file reports its one (empty) chunk as complete.
  MakeFile(PathOf("EMPTY.DAT"), {});
  auto empty = Handler(PathOf("EMPTY.DAT"));
  empty->Open();
  ProgressLog log;
  empty->CopyTo(PathOf("EMPTY2.DAT"), false, LoggingProgress(log, 5));
  EXPECT_EQ(log.percents, std::vector<int32_t>{100});
}

TEST_F(FileCopyTest, RefusedAndDamagedCopiesFailCleanly) {
  std::string original = PathOf("SRC.DAT");
  std::vector<uint8_t> contents = SampleContents(2 * 65536 + 5, 3);
  MakeFile(original, contents);
  auto source = Handler(original);
  EXPECT_EQ(CodeRaisedBy([&] { source->CopyTo(PathOf("X.DAT"), false, {}); }), VEVURA_READERR);
  EXPECT_EQ(CodeRaisedBy([&] { source->CopyFrom(PathOf("X.DAT"), false, {}); }), VEVURA_WRITEERR);
  source->Open();
  // Onto itself, from itself, from a missing file.
  EXPECT_EQ(CodeRaisedBy([&] { source->CopyTo(original, false, {}); }), VEVURA_OSEACCES);
  EXPECT_EQ(CodeRaisedBy([&] { source->CopyFrom(original, false, {}); }), VEVURA_OSEACCES);
  EXPECT_EQ(CodeRaisedBy([&] { source->CopyFrom(PathOf("MISSING.DAT"), false, {}); }),
            VEVURA_OSENOENT);
  EXPECT_EQ(ContentsOf(*source), contents);

  // A compressed copy cut short or with a damaged chunk length is an
  // uncompress error, whatever the damage.
  std::string packed_name = PathOf("PACKED.DAT");
  source->CopyTo(packed_name, true, {});
  std::vector<uint8_t> packed = ContentsOf(packed_name);
  std::vector<size_t> chunk_ends;  // cutting the copy there leaves a valid shorter copy
  for (size_t at = 0; at + 4 <= packed.size(); at = chunk_ends.back()) {
    chunk_ends.push_back(at + 4 + GetUInt32(&packed[at]));
  }
  ASSERT_EQ(chunk_ends.size(), 3u);
  std::mt19937 random(11);
  for (int trial = 0; trial < 40; ++trial) {
    std::vector<uint8_t> damaged = packed;
    if (trial % 2 == 0) {
      damaged.resize(1 + random() % (damaged.size() - 1));
      if (std::count(chunk_ends.begin(), chunk_ends.end(), damaged.size()) > 0) continue;
    } else {
      damaged[random() % 8] ^= static_cast<uint8_t>(1 + random() % 255);
    }
    MakeFile(PathOf("DAMAGED.DAT"), damaged);
    auto target = Handler(PathOf("TARGET.DAT"));
    target->CreateFile();
    uint16_t code = CodeRaisedBy([&] { target->CopyFrom(PathOf("DAMAGED.DAT"), true, {}); });
    EXPECT_EQ(code, VEVURA_UNCOMPRESS) << "trial " << trial;
  }
  // Reading a plain file as a compressed copy fails the same way.
  MakeFile(PathOf("PLAIN.DAT"), contents);
  auto target = Handler(PathOf("TARGET.DAT"));
  target->Open();
  EXPECT_EQ(CodeRaisedBy([&] { target->CopyFrom(PathOf("PLAIN.DAT"), true, {}); }),
            VEVURA_UNCOMPRESS);
  EXPECT_EQ(FileList()->Count(), 2);
}

TEST_F(FileCopyTest, AFailedCopyLeavesNoHalfWrittenDestination) {
  std::string original = PathOf("SRC.DAT");
  MakeFile(original, SampleContents(5 * 65536, 9));
  auto source = Handler(original);
  source->Open();
  TCopyProgress giving_up;
  giving_up.Step = 0;
  giving_up.Callback = [](void*, int32_t percent) {
    if (percent > 30) throw std::runtime_error("cancelled");
  };
  EXPECT_THROW(source->CopyTo(PathOf("HALF.DAT"), false, giving_up), std::runtime_error);
  EXPECT_FALSE(platform::FileExists(PathOf("HALF.DAT")));
  EXPECT_EQ(FileList()->Count(), 1);
  source->CopyTo(PathOf("WHOLE.DAT"), false, {});  // the source is still usable
  EXPECT_EQ(ContentsOf(PathOf("WHOLE.DAT")), ContentsOf(*source));
}

}  // namespace
}  // namespace vevura
