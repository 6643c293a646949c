#include "engine/storage/common/compression.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/engine/storage/table_definition_support.h"

namespace vevura {
namespace {

using test::CodeRaisedBy;

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed, int alphabet) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(n);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng() % alphabet);
  return bytes;
}

TEST(Compression, RoundTripsEmptySmallRepetitiveAndIncompressibleData) {
  std::vector<std::vector<uint8_t>> inputs = {
      {},
      {42},
      std::vector<uint8_t>(65536, 'A'),  // compresses to far below the start size
      RandomBytes(65536, 1, 256),        // grows: the output must be enlarged
      RandomBytes(100000, 2, 4),
  };
  for (const auto& input : inputs) {
    std::vector<uint8_t> packed = CompressBuffer(input.data(), input.size());
    ASSERT_FALSE(packed.empty());
    std::vector<uint8_t> unpacked = DecompressBuffer(packed.data(), packed.size());
    EXPECT_EQ(unpacked, input) << "input of " << input.size() << " bytes";
  }
  std::vector<uint8_t> runs(65536, 'A');
  EXPECT_LT(CompressBuffer(runs.data(), runs.size()).size(), 1024u);
}

TEST(Compression, HighlyCompressedDataInflatesPastManyGrowthSteps) {
  std::vector<uint8_t> zeros(4 << 20, 0);
  std::vector<uint8_t> packed = CompressBuffer(zeros.data(), zeros.size());
  EXPECT_EQ(DecompressBuffer(packed.data(), packed.size()), zeros);
}

TEST(Compression, DamagedOrTruncatedStreamsAreRefusedWithTheUncompressCode) {
  std::vector<uint8_t> input = RandomBytes(5000, 3, 16);
  std::vector<uint8_t> packed = CompressBuffer(input.data(), input.size());

  EXPECT_EQ(CodeRaisedBy([&] { DecompressBuffer(packed.data(), 0); }), VEVURA_UNCOMPRESS);
  for (size_t cut : {size_t{1}, size_t{2}, packed.size() / 2, packed.size() - 1}) {
    EXPECT_EQ(CodeRaisedBy([&] { DecompressBuffer(packed.data(), cut); }), VEVURA_UNCOMPRESS)
        << "cut at " << cut;
  }
  const uint8_t not_zlib[] = "this is plain text, not a zlib stream";
  EXPECT_EQ(CodeRaisedBy([&] { DecompressBuffer(not_zlib, sizeof not_zlib); }), VEVURA_UNCOMPRESS);

  // Random damage: either a clean error or some output, never a crash or hang.
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> damaged = packed;
    damaged[rng() % damaged.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
    uint16_t code = CodeRaisedBy([&] { DecompressBuffer(damaged.data(), damaged.size()); });
    EXPECT_TRUE(code == 0 || code == VEVURA_UNCOMPRESS);
  }
}

}  // namespace
}  // namespace vevura
