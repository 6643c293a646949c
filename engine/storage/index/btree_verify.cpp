#include "engine/storage/index/btree_verify.h"

#include <cstring>
#include <map>
#include <unordered_map>

#include "engine/base/engine_error.h"
#include "engine/storage/index/btree_path.h"

namespace vevura {

std::string TIndexVerifyReport::Describe() const {
  std::string text;
  for (const TIndexProblem& p : Problems) {
    text += "index " + std::to_string(p.Index) + ", page " + std::to_string(p.Page) + ": " +
            p.Text + "\n";
  }
  return text;
}

namespace {

class TVerifier {
 public:
  TVerifier(TPageStore& store, const TComparerOf& comparer_of,
            const std::function<bool(uint8_t)>& temporary)
      : store_(store), comparer_of_(comparer_of), temporary_(temporary) {}

  void CheckIndex(uint8_t index);
  void CountUnreached();
  TIndexVerifyReport TakeReport() { return std::move(report_); }

 private:
  //! One page of a level, as the walk met it.
  struct TLevelPage {
    int32_t Page;
    int32_t Previous;
    int32_t Next;
  };
  //! The state of the walk of one tree.
  struct TTreeWalk {
    uint8_t Index = 0;
    TIndexShape Shape;
    const TKeyComparer* Comparer = nullptr;
    int LeafDepth = 0;
    std::map<int, std::vector<TLevelPage>> Levels;
    std::vector<uint8_t> LastLeafKey;
  };

  void Problem(uint8_t index, int32_t page, const std::string& text) {
    report_.Problems.push_back({index, page, text});
  }
  bool IsTemporary(uint8_t index) const { return temporary_ && temporary_(index); }
  bool Claim(uint8_t index, int32_t page, const std::string& role);
  TPageRef Read(uint8_t index, int32_t page);
  int64_t WalkPage(TTreeWalk& walk, int32_t n, int depth, const uint8_t* parent_key);
  void CheckPage(TTreeWalk& walk, const TPage& page, int depth, const uint8_t* parent_key);
  void CheckOrder(TTreeWalk& walk, const TPage& page);
  int64_t WalkChildren(TTreeWalk& walk, const TPage& page, int depth);
  void CheckLevels(const TTreeWalk& walk);
  void CheckFreeList(uint8_t index);
  void CheckDataChain(uint8_t index);

  TPageStore& store_;
  const TComparerOf& comparer_of_;
  const std::function<bool(uint8_t)>& temporary_;
  //! What each page was found to be, per page space (persistent, temporary).
  std::unordered_map<int32_t, std::string> owners_[2];
  TIndexVerifyReport report_;
};

bool TVerifier::Claim(uint8_t index, int32_t page, const std::string& role) {
  std::string what = role + " of index " + std::to_string(index);
  if (page <= 0 || page >= store_.PageLimit(index)) {
    Problem(index, page, what + " names a page outside the file");
    return false;
  }
  auto& owners = owners_[IsTemporary(index) ? 1 : 0];
  auto [it, fresh] = owners.emplace(page, what);
  if (!fresh) {
    Problem(index, page, "page is both " + it->second + " and " + what);
    return false;
  }
  return true;
}

TPageRef TVerifier::Read(uint8_t index, int32_t page) {
  try {
    TPage* p = store_.FetchPage(index, page, false);
    if (p == nullptr) {
      Problem(index, page, "the table changed while it was checked");
      return {};
    }
    return TPageRef(store_, p);
  } catch (const EVEVURAEngineError& e) {
    Problem(index, page, std::string("page cannot be read: ") + e.what());
    return {};
  }
}

void TVerifier::CheckIndex(uint8_t index) {
  TIndexShape shape = store_.Shape(index);
  int32_t root = store_.RootPage(index);
  if (root != 0) {
    if (!shape.Valid()) {
      Problem(index, root, "key length or compression cannot be held in pages");
    } else {
      TTreeWalk walk;
      walk.Index = index;
      walk.Shape = shape;
      walk.Comparer = comparer_of_ ? comparer_of_(index) : nullptr;
      report_.Keys[index] = WalkPage(walk, root, 1, nullptr);
      CheckLevels(walk);
    }
  }
  CheckFreeList(index);
  CheckDataChain(index);
}

int64_t TVerifier::WalkPage(TTreeWalk& walk, int32_t n, int depth, const uint8_t* parent_key) {
  const uint8_t index = walk.Index;
  if (depth > kMaxTreeDepth) {
    Problem(index, n, "tree deeper than 64 levels");
    return 0;
  }
  if (!Claim(index, n, "tree page")) return 0;
  TPageRef page = Read(index, n);
  if (!page) return 0;
  ++report_.TreePages;
  bool root_type = page->IsRoot();
  if ((depth == 1) != root_type || !(page->IsLeaf() || page->IsInner())) {
    Problem(index, n,
            "page type " + std::to_string(page->PageType()) + " at depth " + std::to_string(depth));
    if (!(page->IsLeaf() || page->IsInner())) return 0;
  }
  if (page->EntryCount() == 0) {
    Problem(index, n, "page without entries");
    return 0;
  }
  walk.Levels[depth].push_back({n, page->Previous(), page->Next()});
  CheckPage(walk, *page, depth, parent_key);
  if (page->IsInner()) return WalkChildren(walk, *page, depth);
  if (walk.LeafDepth == 0) walk.LeafDepth = depth;
  if (walk.LeafDepth != depth) Problem(index, n, "leaves at different depths");
  return page->EntryCount();
}

void TVerifier::CheckPage(TTreeWalk& walk, const TPage& page, int depth,
                          const uint8_t* parent_key) {
  const uint8_t index = walk.Index;
  const int32_t n = page.PageNumber;
  if (depth == 1 && page.IsInner() && page.EntryCount() == 1) {
    Problem(index, n, "inner root with a single entry");
  }
  if (page.Overflows()) Problem(index, n, "more entries than the page holds");
  if (parent_key != nullptr && std::memcmp(page.Key(1), parent_key, walk.Shape.KeyLength) != 0) {
    Problem(index, n, "first key differs from the key of its parent entry");
  }
  CheckOrder(walk, page);
}

void TVerifier::CheckOrder(TTreeWalk& walk, const TPage& page) {
  if (walk.Comparer == nullptr) return;
  const size_t k = walk.Shape.KeyLength;
  auto out_of_order = [&](const uint8_t* a, const uint8_t* b) {
    int c = walk.Comparer->CompareKeys(a, b, k);
    return c > 0 || (c == 0 && walk.Shape.Unique);
  };
  for (int e = 2; e <= page.EntryCount(); ++e) {
    if (out_of_order(page.Key(e - 1), page.Key(e))) {
      Problem(walk.Index, page.PageNumber, "keys out of order at entry " + std::to_string(e));
      break;
    }
  }
  if (!page.IsLeaf()) return;
  if (!walk.LastLeafKey.empty() && out_of_order(walk.LastLeafKey.data(), page.Key(1))) {
    Problem(walk.Index, page.PageNumber, "first key is below the last key of the leaf before");
  }
  const uint8_t* last = page.Key(page.EntryCount());
  walk.LastLeafKey.assign(last, last + k);
}

int64_t TVerifier::WalkChildren(TTreeWalk& walk, const TPage& page, int depth) {
  int64_t total = 0;
  for (int e = 1; e <= page.EntryCount(); ++e) {
    uint32_t child = page.Reference(e);
    int64_t below = WalkPage(walk, static_cast<int32_t>(child), depth + 1, page.Key(e));
    if (!walk.Shape.NoCounts && page.KeyCount(e) != static_cast<uint64_t>(below)) {
      Problem(walk.Index, page.PageNumber,
              "entry " + std::to_string(e) + " counts " + std::to_string(page.KeyCount(e)) +
                  " keys, " + std::to_string(below) + " found below");
    }
    total += below;
  }
  return total;
}

void TVerifier::CheckLevels(const TTreeWalk& walk) {
  for (const auto& [depth, pages] : walk.Levels) {
    for (size_t i = 0; i < pages.size(); ++i) {
      int32_t expected_previous = i == 0 ? 0 : pages[i - 1].Page;
      int32_t expected_next = i + 1 == pages.size() ? 0 : pages[i + 1].Page;
      if (pages[i].Previous != expected_previous) {
        Problem(walk.Index, pages[i].Page,
                "previous link " + std::to_string(pages[i].Previous) + ", expected " +
                    std::to_string(expected_previous));
      }
      if (pages[i].Next != expected_next) {
        Problem(walk.Index, pages[i].Page,
                "next link " + std::to_string(pages[i].Next) + ", expected " +
                    std::to_string(expected_next));
      }
    }
  }
}

void TVerifier::CheckFreeList(uint8_t index) {
  for (int32_t n = store_.FreeListHead(index); n != 0;) {
    if (!Claim(index, n, "free page")) return;
    TPageRef page = Read(index, n);
    if (!page) return;
    ++report_.FreePages;
    if (!page->Freed && page->EntryCount() != 0) Problem(index, n, "free page holds entries");
    n = page->Next();
  }
}

void TVerifier::CheckDataChain(uint8_t index) {
  for (int32_t n = store_.FirstDataPage(index); n != 0;) {
    if (!Claim(index, n, "data page")) return;
    TPageRef page = Read(index, n);
    if (!page) return;
    ++report_.DataPages;
    if (page->PageType() != ptData) Problem(index, n, "data chain page is not a data page");
    n = page->Next();
  }
}

void TVerifier::CountUnreached() {
  int64_t pages = store_.PageLimit(kSlotIndex) - 1;
  report_.UnreachedPages = pages - static_cast<int64_t>(owners_[0].size());
}

}  // namespace

TIndexVerifyReport VerifyIndexFile(TPageStore& store, const TComparerOf& comparer_of,
                                   const std::function<bool(uint8_t index)>& temporary,
                                   const std::vector<uint8_t>& indexes) {
  TVerifier verifier(store, comparer_of, temporary);
  if (indexes.empty()) {
    for (int i = 0; i < kIndexCount; ++i) verifier.CheckIndex(static_cast<uint8_t>(i));
    verifier.CountUnreached();
  } else {
    for (uint8_t i : indexes) verifier.CheckIndex(i);
  }
  return verifier.TakeReport();
}

}  // namespace vevura
