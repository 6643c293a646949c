// The data page chain of the word index: items that never span two pages,
// parameters that survive the file, and damaged chains.

#include "engine/storage/index/index_data_pages.h"

#include <gtest/gtest.h>

#include "engine/storage/common/byte_order.h"
#include "tests/engine/storage/index/btree_test_support.h"

namespace vevura::test {
namespace {

class IndexDataPagesTest : public IndexFileTest {
 protected:
  void SetUp() override {
    IndexFileTest::SetUp();
    host_.BufferSize = 1 << 20;
  }
  static TTextIndexParameters Parameters(std::vector<std::string> words) {
    TTextIndexParameters p;
    p.StopWords = std::move(words);
    for (int c = 'a'; c <= 'z'; ++c) p.FirstSet[c / 8] |= static_cast<uint8_t>(1 << (c % 8));
    for (int c = '0'; c <= '9'; ++c) p.SecondSet[c / 8] |= static_cast<uint8_t>(1 << (c % 8));
    return p;
  }
  TPage& Page(TIndexFile& file, int32_t n) {
    TPage* page = file.FetchPage(kTextIndex, n, false);
    file.ReleasePage(page);
    return *page;
  }
};

TEST_F(IndexDataPagesTest, ParametersSurviveTheFileAcrossSeveralPages) {
  auto file = NewIndexFile(false);
  EXPECT_FALSE(ReadTextIndexParameters(*file).has_value()) << "defaults apply";
  std::vector<std::string> words = {"the", "and", "of"};
  for (int i = 0; i < 400; ++i)
    words.push_back("word" + std::to_string(i) + std::string(i % 40, 'x'));
  words.push_back(std::string(4083, 'L'));
  words.push_back("");
  TTextIndexParameters written = Parameters(words);
  WriteTextIndexParameters(*file, written);
  int32_t first = file->FirstDataPage(kTextIndex);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(*ReadTextIndexParameters(*file), written);
  FlushAndClose(*file);

  file = OpenIndexFile(false);
  EXPECT_EQ(*ReadTextIndexParameters(*file), written);
  int pages = 0;
  for (int32_t n = first; n != 0; n = Page(*file, n).Next(), ++pages) {
    EXPECT_EQ(Page(*file, n).PageType(), ptData);
  }
  EXPECT_GE(pages, 4);
  TIndexVerifyReport report = Verify(*file);
  EXPECT_TRUE(report.Ok()) << report.Describe();
  EXPECT_EQ(report.DataPages, pages);

  // Writing again reuses the chain.
  int32_t next_page = file->Header().NextPage;
  WriteTextIndexParameters(*file, Parameters({"only"}));
  EXPECT_EQ(file->Header().NextPage, next_page);
  EXPECT_EQ(ReadTextIndexParameters(*file)->StopWords, std::vector<std::string>{"only"});
}

TEST_F(IndexDataPagesTest, AnItemThatWouldCrossThePageEndStartsTheNextPage) {
  auto file = NewIndexFile();
  // Count, length and a word of 4075 bytes fill the first page exactly; the
  // length of the first character set then opens the second page.
  WriteTextIndexParameters(*file, Parameters({std::string(4075, 'w')}));
  TPage& first = Page(*file, file->FirstDataPage(kTextIndex));
  EXPECT_EQ(GetInt32(first.Data()), 1);
  EXPECT_EQ(GetInt32(first.Data() + 4), 4075);
  EXPECT_EQ(first.Data()[4082], 'w');
  TPage& second = Page(*file, first.Next());
  EXPECT_EQ(GetInt32(second.Data()), 32);
  EXPECT_EQ(second.Data()[4 + 'a' / 8], 0xFE);

  TDataPageWriter writer(*file, 5);
  EXPECT_EQ(CodeRaisedBy([&] {
              std::vector<uint8_t> big(4084);
              writer.WriteBytes(big.data(), big.size());
            }),
            VEVURA_INDEXCORRUPT);
}

TEST_F(IndexDataPagesTest, DamagedChainsAreCorrupt) {
  auto damaged = [&](const std::function<void(TIndexFile&, TPage&)>& damage) {
    auto file = NewIndexFile();
    WriteTextIndexParameters(*file, Parameters({std::string(4075, 'w'), "and"}));
    TPage* first = file->FetchPage(kTextIndex, file->FirstDataPage(kTextIndex), false);
    damage(*file, *first);
    file->ReleasePage(first);
    uint16_t code = CodeRaisedBy([&] { ReadTextIndexParameters(*file); });
    file->Close();
    FileList()->DeleteFile("T.IDX", true);
    return code;
  };
  EXPECT_EQ(damaged([](TIndexFile&, TPage&) {}), 0);
  EXPECT_EQ(damaged([](TIndexFile&, TPage& p) { p.SetPageType(ptLeaf); }), VEVURA_INDEXCORRUPT);
  EXPECT_EQ(damaged([](TIndexFile&, TPage& p) { PutInt32(p.Data(), -1); }), VEVURA_INDEXCORRUPT);
  EXPECT_EQ(damaged([](TIndexFile&, TPage& p) { PutInt32(p.Data() + 4, 4084); }),
            VEVURA_INDEXCORRUPT);
  EXPECT_EQ(damaged([](TIndexFile&, TPage& p) { p.SetNext(0); }), VEVURA_INDEXCORRUPT)
      << "the chain ends early";
  EXPECT_EQ(damaged([](TIndexFile&, TPage& p) {
              PutInt32(p.Data(), 1000000);
              p.SetNext(p.PageNumber);
            }),
            VEVURA_INDEXCORRUPT)
      << "a chain that loops";
}

}  // namespace
}  // namespace vevura::test
