// The table check's pass over the record slots: the record area checks over
// the images the buffers and the file hold together, the index entries each
// slot calls for, and the BLOBs and memo texts of the live records.

#include <algorithm>
#include <cstring>
#include <exception>

#include "engine/core/data_table.h"
#include "engine/core/table_checker.h"
#include "engine/storage/blob/blob_buffer.h"
#include "engine/storage/blob/blob_verify.h"
#include "engine/storage/common/scramble.h"
#include "engine/storage/data/data_verify.h"
#include "engine/storage/fields/record_layout.h"
#include "engine/storage/keys/key_builder.h"

namespace vevura {

bool TTableChecker::RecordsPending() const {
  const TDataFile& data = table_.DataFile();
  if (data.HeaderChanged()) return true;
  return data.Records().HasDirtyRecords();
}

const TRecord* TTableChecker::CachedRecord(int32_t number) const {
  return table_.DataFile().Records().Peek(number);
}

void TTableChecker::ReadImages(int32_t first, int32_t count, uint8_t* images) {
  TDataFile& data = table_.DataFile();
  const size_t size = data.RecordSize();
  if (progress_ && slots_ > 0) progress_(static_cast<int>(int64_t{first - 1} * 80 / slots_));
  const int32_t on_disk = std::clamp(file_slots_ - first + 1, 0, count);
  if (on_disk > 0) {
    data.ReadAt(RecordAreaOffset(data.FieldCount()) + static_cast<int64_t>(first - 1) * size,
                images, static_cast<int64_t>(on_disk) * size);
  }
  for (int32_t i = 0; i < count; ++i) {
    uint8_t* image = images + i * size;
    if (const TRecord* cached = CachedRecord(first + i)) {
      std::memcpy(image, cached->Data().data(), size);
    } else if (i >= on_disk) {
      // An unknown status keeps the slot out of every other check.
      std::memset(image, 0, size);
      image[kStatusOffset] = 0xFF;
      missing_.push_back(first + i);
    } else if (data.Encrypted()) {
      UnscrambleRun(image, size, kTableDataSeeds);
    }
  }
}

void TTableChecker::ScanRecords() {
  const TDataFile& data = table_.DataFile();
  TRecordAreaReport area = VerifyRecordImages(
      slots_,
      [this](int32_t first, int32_t count, uint8_t* images) { ReadImages(first, count, images); },
      data.Header(), table_.HasPrimaryIndex(),
      [this](int32_t number, const uint8_t* image) { CollectSlot(number, image); });
  for (int32_t number : missing_) {
    Add("data file: record " + std::to_string(number) +
        " is neither in the file nor in the table's buffers");
  }
  for (const std::string& problem : area.Problems) Add("data file: " + problem);
  if (area.ProblemCount > static_cast<int64_t>(area.Problems.size())) {
    Add("data file: " + std::to_string(area.ProblemCount - area.Problems.size()) +
        " more record problems");
  }
}

void TTableChecker::CollectSlot(int32_t number, const uint8_t* image) {
  TConstRecordImage record(image, table_.DataFile().RecordSize());
  const uint8_t status = RecordStatus(record);
  if (status != rsLive && status != rsFree) return;  // reported by the record area check
  row_ids_.emplace_back(RecordRowId(record), number);
  if (TCheckedIndex* slots = Index(kSlotIndex)) {
    uint8_t key[kSlotKeyLength];
    BuildSlotKey(record, key);
    slots->Expected.Add(key, static_cast<uint32_t>(number));
  }
  if (status == rsFree) {
    ++report_.FreeSlots;
    return;
  }
  ++report_.LiveRecords;
  CollectLiveRecord(number, record);
}

void TTableChecker::CollectLiveRecord(int32_t number, TConstRecordImage record) {
  std::vector<uint8_t> key(kMaxKeyLength);
  for (uint8_t n = 0; n < kSlotIndex; ++n) {
    if (TCheckedIndex* index = Index(n)) {
      BuildKey(index->Context, record, key.data());
      index->Expected.Add(key.data(), static_cast<uint32_t>(number));
    }
  }
  const int32_t row_id = RecordRowId(record);
  TCheckedIndex* words = Index(kTextIndex);
  const TIndexDescriptor text = table_.IndexFile().GetIndexDescriptor(kTextIndex);
  auto indexed = [&](uint16_t field_number) {
    return words != nullptr && text_rules_ != nullptr &&
           std::find(text.FieldNumbers.begin(), text.FieldNumbers.begin() + text.FieldCount,
                     field_number) != text.FieldNumbers.begin() + text.FieldCount;
  };
  for (const TFieldDescriptor& field : table_.DataFile().Fields()) {
    if (field.IsBlob()) {
      const TBlobReference blob = GetBlobField(record, field);
      if (blob.FirstBlock < 0) {
        Add("data file: record " + std::to_string(number) + ", field " + field.Name +
            ": BLOB reference " + std::to_string(blob.FirstBlock) + " is not a stored one");
        continue;
      }
      if (blob.FirstBlock > 0) blobs_.push_back(blob);
      if (indexed(field.FieldNumber)) memos_.push_back({number, row_id, field.FieldNumber, blob});
    } else if (field.Type == fcString && indexed(field.FieldNumber)) {
      for (const auto& word_key : BuildWordKeys(words->Context, *text_rules_, field.FieldNumber,
                                                GetStringField(record, field), row_id)) {
        words->Expected.Add(word_key.data(), static_cast<uint32_t>(number));
      }
    }
  }
}

void TTableChecker::CheckBlobs() {
  if (!table_.HasBlobFields()) return;
  if (!table_.BlobFile().IsOpen()) {
    Add("BLOB file: not open");
    return;
  }
  TBlobFileCheck check = VerifyBlobFile(table_.BlobFile(), blobs_);
  for (const std::string& problem : check.Problems) Add("BLOB file: " + problem);
}

void TTableChecker::CollectMemoWords() {
  TCheckedIndex* words = Index(kTextIndex);
  if (words == nullptr || text_rules_ == nullptr) return;
  for (const TMemoText& memo : memos_) {
    std::string text;
    if (memo.Blob.FirstBlock > 0) {
      try {
        TBlobBuffer buffer(table_.BlobFile(), nullptr);
        buffer.SetFirstBlock(memo.Blob.FirstBlock);
        buffer.SetBlobId(memo.Blob.BlobId);
        buffer.LoadBlob();
        text.assign(reinterpret_cast<const char*>(buffer.Data()),
                    static_cast<size_t>(buffer.Length()));
      } catch (...) {
        // The BLOB check has named the damage; the word index cannot be
        // compared without this text.
        words->Sound = false;
        return;
      }
    }
    for (const auto& word_key :
         BuildWordKeys(words->Context, *text_rules_, memo.FieldNumber, text, memo.RowId)) {
      words->Expected.Add(word_key.data(), static_cast<uint32_t>(memo.Record));
    }
  }
}

}  // namespace vevura
