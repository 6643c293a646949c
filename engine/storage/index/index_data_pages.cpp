#include "engine/storage/index/index_data_pages.h"

#include <cstring>

#include "engine/base/engine_error.h"
#include "engine/storage/common/byte_order.h"
#include "engine/storage/index/index_header.h"

namespace vevura {

namespace {

constexpr size_t kCharacterSetSize = 32;

//! Fetches page n, repeating the fetch while the store reports a restart.
TPage* FetchRepeating(TPageStore& store, uint8_t index, int32_t n) {
  for (;;) {
    if (TPage* page = store.FetchPage(index, n, false)) return page;
  }
}

TPage* AllocateRepeating(TPageStore& store, uint8_t index) {
  for (;;) {
    if (TPage* page = store.AllocatePage(index)) return page;
  }
}

}  // namespace

TDataPageWriter::TDataPageWriter(TPageStore& store, uint8_t index) : store_(store), index_(index) {
  int32_t first = store_.FirstDataPage(index_);
  if (first == 0) {
    page_ = NewDataPage();
    store_.SetFirstDataPage(index_, page_->PageNumber);
  } else {
    page_ = TPageRef(store_, FetchRepeating(store_, index_, first));
    if (page_->PageType() != ptData) RaiseTableError(VEVURA_INDEXCORRUPT, store_.TableName());
  }
}

TPageRef TDataPageWriter::NewDataPage() {
  TPageRef page(store_, AllocateRepeating(store_, index_));
  page->SetPageType(ptData);
  return page;
}

void TDataPageWriter::Room(size_t length) {
  if (length > static_cast<size_t>(kPageDataSize)) {
    RaiseTableError(VEVURA_INDEXCORRUPT, store_.TableName());
  }
  if (offset_ + length <= static_cast<size_t>(kPageDataSize)) return;
  int32_t next = page_->Next();
  TPageRef following;
  if (next == 0) {
    following = NewDataPage();
    page_->SetNext(following->PageNumber);
  } else {
    following = TPageRef(store_, FetchRepeating(store_, index_, next));
    if (following->PageType() != ptData) RaiseTableError(VEVURA_INDEXCORRUPT, store_.TableName());
  }
  page_ = std::move(following);
  offset_ = 0;
}

void TDataPageWriter::WriteInt32(int32_t value) {
  Room(4);
  PutInt32(page_->Data() + offset_, value);
  page_->Touch();
  offset_ += 4;
}

void TDataPageWriter::WriteBytes(const uint8_t* data, size_t length) {
  Room(length);
  if (length > 0) std::memcpy(page_->Data() + offset_, data, length);
  page_->Touch();
  offset_ += length;
}

TDataPageReader::TDataPageReader(TPageStore& store, uint8_t index) : store_(store), index_(index) {
  page_ = FetchDataPage(store_.FirstDataPage(index_));
}

void TDataPageReader::RaiseCorrupt() const {
  RaiseTableError(VEVURA_INDEXCORRUPT, store_.TableName());
}

TPageRef TDataPageReader::FetchDataPage(int32_t n) {
  if (n <= 0 || ++pages_read_ > store_.PageLimit(index_)) RaiseCorrupt();
  TPageRef page(store_, FetchRepeating(store_, index_, n));
  if (page->PageType() != ptData) RaiseCorrupt();
  return page;
}

void TDataPageReader::Room(size_t length) {
  if (length > static_cast<size_t>(kPageDataSize)) RaiseCorrupt();
  if (offset_ + length <= static_cast<size_t>(kPageDataSize)) return;
  int32_t next = page_->Next();
  page_ = FetchDataPage(next);
  offset_ = 0;
}

int32_t TDataPageReader::ReadInt32() {
  Room(4);
  int32_t value = GetInt32(page_->Data() + offset_);
  offset_ += 4;
  return value;
}

std::vector<uint8_t> TDataPageReader::ReadBytes(size_t length) {
  Room(length);
  const uint8_t* at = page_->Data() + offset_;
  offset_ += length;
  return std::vector<uint8_t>(at, at + length);
}

void WriteTextIndexParameters(TPageStore& store, const TTextIndexParameters& parameters) {
  TDataPageWriter writer(store, kTextIndex);
  writer.WriteInt32(static_cast<int32_t>(parameters.StopWords.size()));
  for (const std::string& word : parameters.StopWords) {
    writer.WriteInt32(static_cast<int32_t>(word.size()));
    writer.WriteBytes(reinterpret_cast<const uint8_t*>(word.data()), word.size());
  }
  for (const auto* set : {&parameters.FirstSet, &parameters.SecondSet}) {
    writer.WriteInt32(static_cast<int32_t>(kCharacterSetSize));
    writer.WriteBytes(set->data(), set->size());
  }
}

namespace {

size_t CheckedLength(int32_t length, const std::string& table) {
  if (length < 0 || length > kPageDataSize) RaiseTableError(VEVURA_INDEXCORRUPT, table);
  return static_cast<size_t>(length);
}

}  // namespace

std::optional<TTextIndexParameters> ReadTextIndexParameters(TPageStore& store) {
  if (store.FirstDataPage(kTextIndex) == 0) return std::nullopt;
  const std::string& table = store.TableName();
  TDataPageReader reader(store, kTextIndex);
  TTextIndexParameters parameters;
  int32_t count = reader.ReadInt32();
  if (count < 0) RaiseTableError(VEVURA_INDEXCORRUPT, table);
  for (int32_t i = 0; i < count; ++i) {
    std::vector<uint8_t> word = reader.ReadBytes(CheckedLength(reader.ReadInt32(), table));
    parameters.StopWords.emplace_back(word.begin(), word.end());
  }
  for (auto* set : {&parameters.FirstSet, &parameters.SecondSet}) {
    if (CheckedLength(reader.ReadInt32(), table) != kCharacterSetSize) {
      RaiseTableError(VEVURA_INDEXCORRUPT, table);
    }
    std::vector<uint8_t> bytes = reader.ReadBytes(kCharacterSetSize);
    std::memcpy(set->data(), bytes.data(), kCharacterSetSize);
  }
  return parameters;
}

}  // namespace vevura
