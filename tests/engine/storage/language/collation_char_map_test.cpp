// Character maps: their order against single-character comparison, the
// language tailorings they reflect, and the process-wide list under
// concurrent use.

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "engine/storage/language/char_map.h"
#include "platform/locale.h"

namespace vevura {
namespace {

size_t PlaceOf(const TCharMap& map, char ch) {
  return static_cast<size_t>(std::find(map.begin(), map.end(), static_cast<uint8_t>(ch)) -
                             map.begin());
}

void ExpectSortedPermutation(const TCharMap& map, uint32_t lcid) {
  TCharMap sorted = map;
  std::sort(sorted.begin(), sorted.end());
  for (int i = 0; i < 256; ++i) ASSERT_EQ(sorted[i], i) << "not a permutation";
  for (int k = 0; k + 1 < 256; ++k) {
    const int order = platform::CompareLocaleChar(lcid, map[k], map[k + 1]);
    ASSERT_LE(order, 0) << "at " << k << ": " << int{map[k]} << " above " << int{map[k + 1]};
    // Characters the language holds equal keep the order of their codes.
    if (order == 0) {
      ASSERT_LT(map[k], map[k + 1]) << "at " << k;
    }
  }
}

TEST(CharMap, LanguageZeroIsTheIdentity) {
  TCharMap map = GetCharMap(0, 0);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(map[i], i);
}

TEST(CharMap, MapsFollowSingleCharacterComparison) {
  for (uint16_t language : {1031, 1053, 1049, 1055}) {
    SCOPED_TRACE(language);
    ASSERT_TRUE(platform::LocaleInstalled(language));
    ExpectSortedPermutation(GetCharMap(language, 0), language);
  }
  ExpectSortedPermutation(GetCharMap(1031, 1), platform::MakeLcid(1031, 1));
}

TEST(CharMap, MapsShowTheLanguagesAlphabet) {
  TCharMap german = GetCharMap(1031, 0);
  TCharMap swedish = GetCharMap(1053, 0);
  // German sorts a-umlaut with a; Swedish puts it after z, behind a-ring.
  EXPECT_LT(PlaceOf(german, '\xE4'), PlaceOf(german, 'b'));
  EXPECT_LT(PlaceOf(swedish, 'z'), PlaceOf(swedish, '\xE5'));
  EXPECT_LT(PlaceOf(swedish, '\xE5'), PlaceOf(swedish, '\xE4'));
  EXPECT_LT(PlaceOf(swedish, '\xE4'), PlaceOf(swedish, '\xF6'));
  // Digits before letters, lower case before upper case of a letter.
  EXPECT_LT(PlaceOf(german, '9'), PlaceOf(german, 'a'));
  EXPECT_LT(PlaceOf(german, 'a'), PlaceOf(german, 'A'));
  // The ends of the map compare below and above every character.
  for (int ch = 0; ch < 256; ++ch) {
    ASSERT_LE(platform::CompareLocaleChar(1031, german[0], static_cast<uint8_t>(ch)), 0);
    ASSERT_GE(platform::CompareLocaleChar(1031, german[255], static_cast<uint8_t>(ch)), 0);
  }
}

TEST(CharMap, ListBuildsEachPairOnceAcrossThreads) {
  TLanguageCharMapsList list;
  const std::vector<std::pair<uint16_t, uint16_t>> pairs = {
      {0, 0}, {1031, 0}, {1031, 1}, {1053, 0}, {1036, 0}};
  std::vector<std::vector<TCharMap>> seen(6);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) {
        for (size_t i = 0; i < pairs.size(); ++i) {
          const auto& [language, sort] = pairs[(i + t) % pairs.size()];
          seen[t].push_back(list.Get(language, sort));
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(list.Count(), pairs.size());
  for (size_t t = 0; t < seen.size(); ++t) {
    for (size_t k = 0; k < seen[t].size(); ++k) {
      const auto& [language, sort] = pairs[(k % pairs.size() + t) % pairs.size()];
      ASSERT_EQ(seen[t][k], BuildCharMap(language, sort)) << language << "/" << sort;
    }
  }
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.Get(1053, 0), BuildCharMap(1053, 0));
  EXPECT_EQ(list.Count(), 1u);
}

}  // namespace
}  // namespace vevura
