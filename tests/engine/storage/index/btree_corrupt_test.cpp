// Damaged index files: every operation on them ends with an engine error or
// a sound answer, never a crash, and the structural check names the damage.
//
// Scale: VEVURA_BTREE_CORRUPT_ROUNDS damaged files (default 150).

#include <gtest/gtest.h>

#include "engine/storage/common/byte_order.h"
#include "tests/engine/storage/index/btree_test_support.h"

namespace vevura::test {
namespace {

struct TIndexUnderTest {
  uint8_t Number;
  uint16_t KeyLength;
  bool Unique;
  uint8_t Compression;
  bool NoCounts;
};

const TIndexUnderTest kIndexes[] = {
    {1, 60, true, lcNone, false},
    {2, 68, false, lcFull, false},
    {3, 40, true, lcDuplicateByte, true},
};

class BTreeCorruptTest : public IndexFileTest {
 protected:
  //! An index file with three indexes of 400 keys each, written and closed.
  std::vector<uint8_t> BuildFile() {
    auto file = NewIndexFile(true, "BASE.IDX");
    for (const TIndexUnderTest& t : kIndexes) {
      file->AddSecondaryIndex(IndexDescriptor("I" + std::to_string(t.Number), t.KeyLength, t.Unique,
                                              t.Compression, false, t.NoCounts),
                              {});
      TKeyMaker maker(t.Number, t.KeyLength, t.Unique);
      for (int i = 0; i < 400; ++i) {
        TKey key = maker.Next();
        TBTree tree(*file, t.Number, comparer_, path_);
        if (!tree.LocateKey(key.data())) tree.InsertKey(key.data(), static_cast<uint32_t>(i + 1));
        keys_[t.Number].push_back(key);
      }
    }
    FlushAndClose(*file);
    return ContentsOf("BASE.IDX", true);
  }

  //! Runs op; an engine error is an acceptable answer to damage.
  static void Tolerating(const std::function<void()>& op) {
    try {
      op();
    } catch (const EVEVURAEngineError&) {
    }
  }

  //! Every kind of operation on every index of a damaged file.
  void Exercise(TIndexFile& file, std::mt19937& rng) {
    Tolerating([&] { Verify(file); });
    for (const TIndexUnderTest& t : kIndexes) {
      TBTree tree(file, t.Number, comparer_, path_);
      const std::vector<TKey>& keys = keys_[t.Number];
      const TKey& key = keys[rng() % keys.size()];
      Tolerating([&] { tree.LocateKey(key.data()); });
      Tolerating([&] {
        TIndexPosition pos;
        // A damaged leaf chain may loop; a walk stops after more steps than
        // the file has keys.
        for (bool on = tree.First(&pos); on && pos.Ordinal < 5000; on = tree.Next(&pos)) {
          tree.OrdinalOf(&pos);
        }
      });
      Tolerating([&] {
        TIndexPosition pos;
        for (int steps = 0; steps < 5000 && tree.Prior(&pos); ++steps) {
        }
      });
      Tolerating([&] {
        TIndexPosition pos;
        tree.SeekNotBelow(key.data(), rng() % t.KeyLength + 1, &pos);
        tree.SeekNotAbove(key.data(), t.KeyLength, &pos);
        tree.SeekOrdinal(rng() % 500, &pos);
        tree.KeyTotal();
      });
      Tolerating([&] {
        const TKey& other = keys[rng() % keys.size()];
        tree.CountRange(key.data(), other.data(), t.KeyLength);
        tree.CollectReferences(key.data(), other.data(), t.KeyLength, [](uint32_t) {});
      });
      Tolerating([&] { tree.DeleteKey(key.data()); });
      Tolerating([&] {
        TKeyMaker maker(rng(), t.KeyLength, t.Unique);
        for (int i = 0; i < 30; ++i) tree.InsertKey(maker.Next().data(), 9);
      });
      Tolerating([&] {
        for (int i = 0; i < 30; ++i) tree.DeleteKey(keys[rng() % keys.size()].data());
      });
    }
    Tolerating([&] { file.WriteDirtyPages(false); });
    Tolerating([&] { Verify(file); });
  }

  TByteKeyComparer comparer_;
  TBTreePath path_;
  std::map<uint8_t, std::vector<TKey>> keys_;
};

//! Damages image: random bytes of pages, page header fields, or header fields.
void Damage(std::vector<uint8_t>& image, std::mt19937& rng) {
  const size_t pages = image.size() / kIndexPageSize - 1;
  size_t page = 1 + rng() % pages;
  uint8_t* at = image.data() + page * kIndexPageSize;
  switch (rng() % 4) {
    case 0:
      for (int i = rng() % 8 + 1; i > 0; --i) at[rng() % kIndexPageSize] ^= 1 << (rng() % 8);
      break;
    case 1: {
      static const int kFields[] = {0, 1, 3, 7, 11};
      int field = kFields[rng() % 5];
      uint32_t value = rng() % 3 == 0 ? rng() : rng() % (pages + 3);
      if (field == 0) {
        at[0] = static_cast<uint8_t>(value % 6);
      } else if (field == 1 || field == 11) {
        PutUInt16(at + field, static_cast<uint16_t>(value));
      } else {
        PutUInt32(at + field, value);
      }
      break;
    }
    case 2: {
      // A child or record reference inside the entries.
      int offset = kPageHeaderSize + static_cast<int>(rng() % 400);
      PutUInt32(at + offset, rng() % (pages + 3));
      break;
    }
    default: {
      // Root, free list, data page, key length or flags of a descriptor.
      static const int kDescriptorFields[] = {86, 90, 96, 31, 36, 100, 35};
      int n = 1 + static_cast<int>(rng() % 3);
      int field = kDescriptorFields[rng() % 7];
      uint8_t* d = image.data() + 14 + n * kIndexDescriptorSize + field;
      if (field == 31) {
        PutUInt16(d, static_cast<uint16_t>(rng()));
      } else if (field >= 86 && field <= 96) {
        PutInt32(d, static_cast<int32_t>(rng() % (pages + 3)) - 1);
      } else {
        *d = static_cast<uint8_t>(rng() % 5);
      }
      break;
    }
  }
}

TEST_F(BTreeCorruptTest, DamagedFilesGiveErrorsNeverCrashes) {
  const std::vector<uint8_t> base = BuildFile();
  const long rounds = EnvNumber("VEVURA_BTREE_CORRUPT_ROUNDS", 150);
  std::mt19937 rng(99);
  int reported = 0;
  for (long round = 0; round < rounds; ++round) {
    std::vector<uint8_t> image = base;
    for (int hits = rng() % 3 + 1; hits > 0; --hits) Damage(image, rng);
    MakeFile("DAMAGED.IDX", image, true);
    {
      std::unique_ptr<TIndexFile> file;
      try {
        file = OpenIndexFile(true, "DAMAGED.IDX");
      } catch (const EVEVURAEngineError&) {
        continue;
      }
      try {
        if (!Verify(*file).Ok()) ++reported;
      } catch (...) {
        ADD_FAILURE() << "the structural check raised in round " << round;
      }
      ASSERT_NO_FATAL_FAILURE(Exercise(*file, rng)) << "round " << round;
    }
  }
  EXPECT_GT(reported, rounds / 3) << "the check should see most of the damage";
}

TEST_F(BTreeCorruptTest, DamagedLinksAreReportedByTheCheckAndRefusedByTheTree) {
  const std::vector<uint8_t> base = BuildFile();
  const uint8_t index = 1;
  const int root_offset = 14 + index * kIndexDescriptorSize + 86;
  const int free_offset = 14 + index * kIndexDescriptorSize + 90;
  auto with = [&](const std::function<void(std::vector<uint8_t>&)>& damage) {
    std::vector<uint8_t> image = base;
    damage(image);
    MakeFile("LINKS.IDX", image, true);
    return OpenIndexFile(true, "LINKS.IDX");
  };
  auto first = [&](TIndexFile& f) {
    return CodeRaisedBy([&] {
      TIndexPosition pos;
      TBTree(f, index, comparer_, path_).First(&pos);
    });
  };
  // Entry 1 of the root page, whose first child reference sits after its key.
  auto root_child = [&](std::vector<uint8_t>& image, uint32_t child) {
    int32_t root = GetInt32(image.data() + root_offset);
    PutUInt32(image.data() + root * kIndexPageSize + kPageHeaderSize + 60, child);
  };

  auto file = with([&](std::vector<uint8_t>& image) { root_child(image, 999999); });
  EXPECT_EQ(first(*file), VEVURA_INDEXCORRUPT) << "a child beyond the end of the file";
  EXPECT_FALSE(Verify(*file).Ok());
  file.reset();

  file = with([&](std::vector<uint8_t>& image) {
    root_child(image, static_cast<uint32_t>(GetInt32(image.data() + root_offset)));
  });
  EXPECT_EQ(first(*file), VEVURA_INDEXCORRUPT) << "a child that is the root itself";
  const TKey lowest(60, 0);  // goes down the first child
  EXPECT_EQ(
      CodeRaisedBy([&] { TBTree(*file, index, comparer_, path_).InsertKey(lowest.data(), 1); }),
      VEVURA_INDEXCORRUPT);
  EXPECT_FALSE(Verify(*file).Ok());
  file.reset();

  // Leaf links that lead back (to the first leaf, to the page itself, from
  // the first leaf to the last): range walks and steps stop with an error
  // instead of going round for ever.
  auto relink = [&](TIndexFile& f, uint8_t n, bool from_last, bool next, bool to_self) {
    TIndexPosition last;
    TIndexPosition head;
    TBTree(f, n, comparer_, path_).Last(&last);
    TBTree(f, n, comparer_, path_).First(&head);
    const int32_t from = from_last ? last.Page : head.Page;
    const int32_t to = to_self ? from : from_last ? head.Page : last.Page;
    TPage* leaf = f.FetchPage(n, from, false);
    if (next) {
      leaf->SetNext(to);
    } else {
      leaf->SetPrevious(to);
    }
    f.ReleasePage(leaf);
  };
  auto walk = [&](TIndexFile& f, uint8_t n, bool forward) {
    return CodeRaisedBy([&] {
      TBTree tree(f, n, comparer_, path_);
      TIndexPosition pos;
      for (int steps = 0; steps < 5000 && (forward ? tree.Next(&pos) : tree.Prior(&pos)); ++steps) {
      }
    });
  };
  file = with([](std::vector<uint8_t>&) {});
  relink(*file, index, true, true, false);
  TKey low(60, 0);
  TKey high(60, 0xFF);
  EXPECT_EQ(CodeRaisedBy([&] {
              TBTree(*file, index, comparer_, path_)
                  .CollectReferences(low.data(), high.data(), 60, [](uint32_t) {});
            }),
            VEVURA_INDEXCORRUPT);
  EXPECT_EQ(walk(*file, index, true), VEVURA_INDEXCORRUPT) << "the last leaf leads to the first";
  EXPECT_EQ(walk(*file, index, false), 0) << "the prior links are sound";
  TIndexVerifyReport report = Verify(*file);
  EXPECT_NE(report.Describe().find("next link"), std::string::npos) << report.Describe();
  relink(*file, 2, false, true, true);
  EXPECT_EQ(walk(*file, 2, true), VEVURA_INDEXCORRUPT) << "a leaf that leads to itself";
  relink(*file, 3, false, false, false);
  EXPECT_EQ(walk(*file, 3, false), VEVURA_INDEXCORRUPT) << "the first leaf leads back to the last";
  file.reset();

  // A free list that names the root: reported, and refused when reused.
  file = with([&](std::vector<uint8_t>& image) {
    PutInt32(image.data() + free_offset, GetInt32(image.data() + root_offset));
  });
  report = Verify(*file);
  EXPECT_NE(report.Describe().find("is both tree page of index 1 and free page"), std::string::npos)
      << report.Describe();
  EXPECT_EQ(CodeRaisedBy([&] { file->AllocatePage(index); }), VEVURA_INDEXCORRUPT);
}

}  // namespace
}  // namespace vevura::test
