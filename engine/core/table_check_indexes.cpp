// The table check's indexes: the key rules of each index in use, the
// structure of every B-tree, and each sound index's entries against those
// its records call for.

#include <algorithm>
#include <cstring>
#include <exception>

#include "engine/base/first_error.h"
#include "engine/core/data_table.h"
#include "engine/core/table_checker.h"
#include "engine/storage/index/btree.h"
#include "engine/storage/index/btree_verify.h"

namespace vevura {
namespace {

//! Problem lines per kind of wrong entry and index; a total follows.
constexpr int64_t kEntryLines = 5;

}  // namespace

void TEntryList::Add(const uint8_t* key, uint32_t reference) {
  order_.push_back(order_.size());
  bytes_.insert(bytes_.end(), key, key + key_length_);
  for (int shift = 24; shift >= 0; shift -= 8) {
    bytes_.push_back(static_cast<uint8_t>(reference >> shift));
  }
}

void TEntryList::Sort() {
  const size_t stride = Stride();
  const uint8_t* bytes = bytes_.data();
  std::sort(order_.begin(), order_.end(), [bytes, stride](size_t a, size_t b) {
    return std::memcmp(bytes + a * stride, bytes + b * stride, stride) < 0;
  });
}

uint32_t TEntryList::ReferenceAt(size_t i) const {
  const uint8_t* r = At(i) + key_length_;
  return static_cast<uint32_t>(r[0]) << 24 | static_cast<uint32_t>(r[1]) << 16 |
         static_cast<uint32_t>(r[2]) << 8 | r[3];
}

bool TTableChecker::LoadIndexes() {
  TIndexFile& file = table_.IndexFile();
  if (!file.GetNoPrimary()) {
    AddIndex(0, "primary index");
  } else if (file.RootPage(0) != 0) {
    Add("index file: the table has no primary index, yet index 0 has pages");
  }
  for (uint8_t n = 1; n <= file.Header().SecondaryCount; ++n) {
    AddIndex(n, "index \"" + file.GetIndexDescriptor(n).Name + "\"");
  }
  AddIndex(kSlotIndex, "record slot index");
  AddIndex(kTextIndex, "word index");
  if (TCheckedIndex* words = Index(kTextIndex)) {
    try {
      const TDataFile& data = table_.DataFile();
      text_rules_ = std::make_unique<TTextIndexRules>(
          ReadTextIndexRules(file, data.LanguageId(), data.SortId()));
    } catch (...) {
      Add("index file: word index parameters: " + CurrentErrorText());
      words->Sound = false;
    }
  }
  return true;
}

void TTableChecker::AddIndex(uint8_t number, const std::string& name) {
  const TDataFile& data = table_.DataFile();
  try {
    indexes_[number] = std::make_unique<TCheckedIndex>(
        number, name,
        MakeKeyContext(data.LanguageId(), data.SortId(), number,
                       table_.IndexFile().GetIndexDescriptor(number), data.Fields(),
                       table_.TableName()));
  } catch (...) {
    Add("index file: " + name + ": definition: " + CurrentErrorText());
  }
}

void TTableChecker::CheckIndexStructure() {
  TIndexFile& file = table_.IndexFile();
  TIndexVerifyReport tree = VerifyIndexFile(
      file,
      [this](uint8_t n) -> const TKeyComparer* {
        const TCheckedIndex* index = Index(n);
        return index == nullptr ? nullptr : &index->Comparer;
      },
      [&file](uint8_t n) { return file.GetIndexDescriptor(n).Temporary != 0; });
  for (const TIndexProblem& problem : tree.Problems) {
    TCheckedIndex* index = problem.Index < kIndexCount ? Index(problem.Index) : nullptr;
    std::string where = index != nullptr ? index->Name : "index " + std::to_string(problem.Index);
    if (problem.Page != 0) where += ", page " + std::to_string(problem.Page);
    Add("index file: " + where + ": " + problem.Text);
    if (index != nullptr) index->Sound = false;
  }
  tree_keys_ = tree.Keys;
}

void TTableChecker::CheckIndexContents() {
  int looked_at = 0;
  for (auto& index : indexes_) {
    if (progress_) progress_(80 + looked_at++ * 20 / kIndexCount);
    if (index == nullptr || !index->Sound) continue;
    TEntryList actual(index->Context.KeyLength);
    const int64_t limit = tree_keys_[index->Number];
    try {
      TBTreePath path;
      TBTree tree(table_.IndexFile(), index->Number, index->Comparer, path);
      TIndexPosition position;
      bool more = tree.First(&position);
      while (more && static_cast<int64_t>(actual.Size()) <= limit) {
        actual.Add(position.Key.data(), position.Reference);
        more = tree.Next(&position);
      }
    } catch (...) {
      Add("index file: " + index->Name + ": walking the entries: " + CurrentErrorText());
      continue;
    }
    if (static_cast<int64_t>(actual.Size()) > limit) {
      Add("index file: " + index->Name + ": its leaves hold more entries than its tree");
      continue;
    }
    CompareEntries(*index, actual);
  }
}

void TTableChecker::CompareEntries(TCheckedIndex& index, TEntryList& actual) {
  TEntryList& expected = index.Expected;
  expected.Sort();
  actual.Sort();
  const size_t stride = actual.Stride();
  int64_t missing = 0;
  int64_t extra = 0;
  auto note = [&](int64_t& count, const std::string& what) {
    if (++count <= kEntryLines) Add("index file: " + index.Name + ": " + what);
  };
  size_t i = 0;
  size_t j = 0;
  while (i < expected.Size() || j < actual.Size()) {
    int order = i == expected.Size() ? 1
                : j == actual.Size() ? -1
                                     : std::memcmp(expected.At(i), actual.At(j), stride);
    if (order == 0) {
      ++i;
      ++j;
    } else if (order < 0) {
      note(missing, "no entry for record " + std::to_string(expected.ReferenceAt(i++)));
    } else {
      note(extra, "an entry for record " + std::to_string(actual.ReferenceAt(j++)) +
                      " that the record does not call for");
    }
  }
  if (missing > kEntryLines || extra > kEntryLines) {
    Add("index file: " + index.Name + ": " + std::to_string(missing) + " entries missing, " +
        std::to_string(extra) + " entries not called for");
  }
}

}  // namespace vevura
