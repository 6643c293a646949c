#include "engine/storage/data/record.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/common/byte_order.h"
#include "engine/storage/common/scramble.h"
#include "engine/storage/fields/record_layout.h"

namespace vevura {
namespace {

//! The data block size for a record size: a multiple of 64, never below the
//! record header.
uint32_t BlockSizeFor(uint32_t record_size) {
  uint32_t size = std::max(record_size, kRecordHeaderSize);
  return (size + kRecordBlockGranule - 1) / kRecordBlockGranule * kRecordBlockGranule;
}

}  // namespace

void PrepareDiskImage(uint8_t* disk, uint32_t size, int32_t number, bool encrypted) {
  if (encrypted) UnscrambleRun(disk, size, kTableDataSeeds);
  if (disk[kStatusOffset] == rsLive) PutInt32(disk + kRecordLinkOffset, number);
}

TRecord::TRecord(TRecordOwner& owner) : owner_(&owner) {
  SetRecordSize(owner.RecordSize());
}

void TRecord::SetRecordSize(uint32_t size) {
  if (size == record_size_ && data_ != nullptr && !Borrowed()) return;
  record_size_ = std::max(size, kRecordHeaderSize);
  own_.assign(BlockSizeFor(record_size_), 0);
  data_ = own_.data();
  capacity_ = static_cast<uint32_t>(own_.size());
}

void TRecord::Borrow(uint8_t* block) {
  std::vector<uint8_t>().swap(own_);
  data_ = block;
  capacity_ = record_size_;
}

void TRecord::KeepOwnCopy() {
  if (!Borrowed()) return;
  own_.assign(BlockSizeFor(record_size_), 0);
  std::memcpy(own_.data(), data_, record_size_);
  data_ = own_.data();
  capacity_ = static_cast<uint32_t>(own_.size());
}

void TRecord::InitNew(bool assign_auto_inc) {
  std::fill_n(data_, capacity_, uint8_t{0});
  if (assign_auto_inc) PutInt32(&data_[kRowIdOffset], owner_->NextAutoIncValue());
  PutInt32(&data_[kRecordLinkOffset], record_number_);
  dirty_ = false;
  read_ahead_ = false;
}

void TRecord::LoadFrom(uint8_t* disk) {
  PrepareDiskImage(disk, record_size_, record_number_, owner_->Encrypted());
  std::memcpy(data_, disk, record_size_);
  dirty_ = false;
}

void TRecord::StoreTo(uint8_t* disk) {
  std::memcpy(disk, data_, record_size_);
  if (owner_->Encrypted()) ScrambleRun(disk, record_size_, kTableDataSeeds);
  dirty_ = false;
}

void TRecord::SetStatus(uint8_t status) {
  data_[kStatusOffset] = status;
  MarkDirty();
}

int32_t TRecord::NextFree() const {
  return IsFree() != rsLive ? GetInt32(&data_[kRecordLinkOffset]) : 0;
}

void TRecord::SetNextFree(int32_t number) {
  PutInt32(&data_[kRecordLinkOffset], number);
  MarkDirty();
}

int32_t TRecord::AutoIncValue() const {
  return GetInt32(&data_[kRowIdOffset]);
}

void TRecord::SetAutoIncValue(int32_t value) {
  PutInt32(&data_[kRowIdOffset], value);
  MarkDirty();
}

void TRecord::SetRecordNumber(int32_t number) {
  if (number == record_number_) return;
  record_number_ = number;
  if (IsFree() == rsLive) PutInt32(&data_[kRecordLinkOffset], number);
  if (dirty_) owner_->RecordDirtied(number);
}

void TRecord::SetFieldsFrom(const uint8_t* other) {
  std::memcpy(&data_[kRecordHeaderSize], other + kRecordHeaderSize,
              record_size_ - kRecordHeaderSize);
  MarkDirty();
}

void TRecord::Assign(const TRecord& other) {
  owner_ = other.owner_;
  record_number_ = other.record_number_;
  dirty_ = false;
  if (other.dirty_) MarkDirty();
  std::memcpy(data_, other.data_, std::min(record_size_, other.record_size_));
}

bool TRecord::SameAs(const uint8_t* image) const {
  return std::memcmp(data_, image, record_size_) == 0;
}

std::span<uint8_t> TRecord::MutableData() {
  MarkDirty();
  return {data_, record_size_};
}

}  // namespace vevura
