#include "engine/storage/common/scramble.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <vector>

#include "tests/engine/storage/table_definition_support.h"

namespace vevura {
namespace {

using test::CodeRaisedBy;

std::vector<uint8_t> Sequence(size_t n) {
  std::vector<uint8_t> bytes(n);
  std::iota(bytes.begin(), bytes.end(), 0);
  return bytes;
}

TEST(Scramble, CountersMoveInOppositeDirectionsFromTheSeeds) {
  std::vector<uint8_t> run(4, 0);
  ScrambleBytes(run.data(), run.size(), 0x10, 0x01);
  // Zero bytes show r ^ f: (0x10,0x01) (0x11,0x00) (0x12,0xFF) (0x13,0xFE).
  EXPECT_EQ(run, (std::vector<uint8_t>{0x11, 0x11, 0xED, 0xED}));

  std::vector<uint8_t> wraps(3, 0);
  ScrambleBytes(wraps.data(), wraps.size(), 0xFF, 0x00);
  EXPECT_EQ(wraps, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF}));  // 0xFF^0, 0^0xFF, 1^0xFE
}

TEST(Scramble, RunsUnscrambleToTheOriginalAndEqualRunsLookAlike) {
  std::mt19937 rng(11);
  for (size_t length : {size_t{1}, size_t{9}, size_t{768}, size_t{879}, size_t{4096}}) {
    std::vector<uint8_t> plain(length);
    for (auto& b : plain) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> a = plain;
    ScrambleRun(a.data(), a.size(), kTableDataSeeds);
    EXPECT_NE(a, plain) << length;
    std::vector<uint8_t> b = plain;
    ScrambleRun(b.data(), b.size(), kTableDataSeeds);
    EXPECT_EQ(a, b) << "every run starts again from its seeds";
    UnscrambleRun(a.data(), a.size(), kTableDataSeeds);
    EXPECT_EQ(a, plain) << length;
  }
}

TEST(Scramble, RunsWhoseLengthIsAMultipleOf65536StayPlain) {
  std::vector<uint8_t> exact = Sequence(65536);
  std::vector<uint8_t> copy = exact;
  ScrambleBytes(copy.data(), copy.size(), 0x5B, 0xC6);
  EXPECT_EQ(copy, exact);

  std::vector<uint8_t> longer = Sequence(65537);
  copy = longer;
  ScrambleBytes(copy.data(), copy.size(), 0x5B, 0xC6);
  EXPECT_NE(copy[0], longer[0]);
  EXPECT_NE(copy[65536], longer[65536]) << "the last byte is scrambled too";
  UnscrambleBytes(copy.data(), copy.size(), 0x5B, 0xC6);
  EXPECT_EQ(copy, longer);

  ScrambleBytes(nullptr, 0, 1, 2);  // empty run: nothing to touch
}

TEST(Scramble, HeaderTextUsesThePasswordSeedsAndIsItsOwnInverse) {
  std::string text = "Secret1";
  std::string scrambled = ScrambleHeaderText(text);
  EXPECT_NE(scrambled, text);
  EXPECT_EQ(scrambled.size(), text.size());
  EXPECT_EQ(ScrambleHeaderText(scrambled), text);
  std::string with_data_seeds = text;
  ScrambleRun(reinterpret_cast<uint8_t*>(with_data_seeds.data()), text.size(), kTableDataSeeds);
  EXPECT_NE(scrambled, with_data_seeds);
}

TEST(Scramble, NewTablePasswordsMustBeOneToFifteenCharactersAfterTrimming) {
  EXPECT_EQ(CodeRaisedBy([] { CheckNewTablePassword("a", "T"); }), 0);
  EXPECT_EQ(CodeRaisedBy([] { CheckNewTablePassword(std::string(15, 'x'), "T"); }), 0);
  EXPECT_EQ(CodeRaisedBy([] { CheckNewTablePassword("  " + std::string(15, 'x') + " ", "T"); }), 0);
  EXPECT_EQ(CodeRaisedBy([] { CheckNewTablePassword(std::string(16, 'x'), "T"); }),
            VEVURA_INVALIDPASSWORD);
  EXPECT_EQ(CodeRaisedBy([] { CheckNewTablePassword("   ", "T"); }), VEVURA_INVALIDPASSWORD);
  EXPECT_EQ(CodeRaisedBy([] { CheckNewTablePassword("", "T"); }), VEVURA_INVALIDPASSWORD);

  EXPECT_EQ(PasswordToStore(" pw "), " pw ");
  EXPECT_EQ(PasswordToStore("  " + std::string(15, 'x') + " "), std::string(15, 'x'));
}

TEST(Scramble, PasswordCheckAsksUntilTheExactPasswordIsKnown) {
  std::vector<std::string> known;
  auto has = [&](const std::string& p) {
    for (const auto& k : known) {
      if (k == p) return true;
    }
    return false;
  };
  int requests = 0;
  std::vector<std::string> offers = {"SECRET", "secret"};
  auto request = [&] {
    if (requests == static_cast<int>(offers.size())) return false;
    known.push_back(offers[requests++]);
    return true;
  };
  EXPECT_EQ(CodeRaisedBy([&] { CheckTablePassword("secret", has, request, "T"); }), 0);
  EXPECT_EQ(requests, 2) << "a password differing in case does not match";

  known.clear();
  requests = 0;
  offers = {"Secret"};
  EXPECT_EQ(CodeRaisedBy([&] { CheckTablePassword("secret", has, request, "T"); }),
            VEVURA_NOTSUFFTABLERIGHTS);
  EXPECT_EQ(CodeRaisedBy([&] { CheckTablePassword("secret", has, nullptr, "T"); }),
            VEVURA_NOTSUFFTABLERIGHTS);
  known = {"secret"};
  EXPECT_EQ(CodeRaisedBy([&] { CheckTablePassword("secret", has, nullptr, "T"); }), 0);
}

}  // namespace
}  // namespace vevura
