// RepairTable: the exclusive opening, the backup, the three steps (the
// record slots, the BLOB chains, the indexes) and the checks before and
// after.

#include "engine/core/table_repair.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <set>

#include "engine/base/engine_error.h"
#include "engine/base/first_error.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_table.h"
#include "engine/core/table_checker.h"
#include "engine/core/table_definition.h"
#include "engine/storage/blob/blob_verify.h"
#include "engine/storage/common/scramble.h"
#include "engine/storage/data/data_header_verify.h"
#include "engine/storage/data/record_storage.h"
#include "engine/storage/fields/record_layout.h"
#include "engine/storage/file/table_file_names.h"
#include "engine/storage/index/btree.h"
#include "engine/storage/index/index_data_pages.h"
#include "engine/storage/index/index_definitions.h"
#include "engine/storage/index/index_shape.h"
#include "engine/storage/keys/key_context.h"
#include "platform/date_time.h"
#include "platform/directory.h"

namespace vevura {
namespace {

//! Bytes of record slots read or written at a time.
constexpr int64_t kSlotRunBytes = 1 << 20;
//! Lines naming single slots, BLOBs or key clashes of one kind; a total follows.
constexpr int kDetailLines = 20;

//! "YYYYMMDD-HHMMSS" of the local time now.
std::string TimeStamp() {
  const double now = platform::Now();
  const platform::DateParts date = platform::DecodeDate(now);
  const platform::TimeParts time = platform::DecodeTime(now);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", date.year, date.month, date.day,
                time.hour, time.minute, time.second);
  return text;
}

//! A directory for the backup that does not exist yet: wanted, or the
//! default name beside the table with a number added until it is new.
std::string NewBackupDirectory(const TDataDirectory& directory, const std::string& table,
                               const std::string& wanted) {
  if (!wanted.empty()) return platform::IncludeTrailingSlash(wanted);
  const std::string base =
      directory.Path() + TableNameWithoutExtension(table) + ".repair-" + TimeStamp();
  std::string name = base;
  for (int n = 2; platform::DirectoryExists(name) || platform::FileExists(name); ++n) {
    name = base + "-" + std::to_string(n);
  }
  return platform::IncludeTrailingSlash(name);
}

//! A record slot that may be live or free as it stands.
bool Decodable(TConstRecordImage image, int32_t number) {
  const uint8_t status = RecordStatus(image);
  if (status == rsFree) return true;
  return status == rsLive && RecordLink(image) == number;
}

class TTableRepairer {
 public:
  TTableRepairer(TDataTable& table, const TRepairOptions& options, TTableRepairReport& report)
      : table_(table), options_(options), report_(report) {}

  //! False when the data file's header and descriptors do not allow a repair.
  bool Repairable();
  //! Copies the three files to the backup directory.
  void Backup(const std::string& directory);
  void Run();

 private:
  void Note(const std::string& line);
  void Progress(int percent) const {
    if (options_.Progress) options_.Progress(percent);
  }
  //! Appends bytes to the lost file, making it first.
  void MoveOut(const uint8_t* bytes, size_t length);

  void ReadIndexDefinitions();
  void RepairSlots();
  //! Reads (plain) or writes (scrambling a copy) count images from first on.
  void ReadSlots(int32_t first, int32_t count, uint8_t* images, uint8_t* raw);
  void WriteSlots(int32_t first, int32_t count, const uint8_t* images);
  void RepairBlobs();
  void ClearBlob(int32_t record, const TFieldDescriptor& field);
  void RebuildIndexes();
  //! Frees the live records that repeat a key of a unique index (all but
  //! the lowest record number of each key); true when it freed any.
  bool FreeUniqueClashes(TTableChecker& checker);
  void FreeSlot(int32_t number, const std::string& why);

  TDataTable& table_;
  const TRepairOptions& options_;
  TTableRepairReport& report_;
  std::string backup_;                  //!< backup directory, "/"-terminated
  std::unique_ptr<TFileHandler> lost_;  //!< the lost file, once something is moved out
  int64_t lost_size_ = 0;               //!< its bytes so far
  bool keep_definitions_ = false;       //!< the index header's definitions are usable
  TIndexHeader definitions_;            //!< the index header as it was
  std::optional<TTextIndexParameters> text_parameters_;  //!< the word index's, when stored
  //! Every live record's stored BLOBs, in record order, as the slot pass
  //! left the records.
  struct TStoredBlob {
    int32_t Record;
    TFieldDescriptor Field;
    TBlobReference Reference;
  };
  std::vector<TStoredBlob> blobs_;
};

void TTableRepairer::Note(const std::string& line) {
  report_.Changes.push_back(line);
  if (options_.Log) options_.Log(line);
}

void TTableRepairer::MoveOut(const uint8_t* bytes, size_t length) {
  if (lost_ == nullptr) {
    lost_ = std::make_unique<TFileHandler>();
    lost_->SetFileName(backup_ + TableNameWithoutExtension(table_.TableName()) + ".lost");
    lost_->SetInMemory(table_.InMemory());
    lost_->CreateFile();
    report_.LostFile = lost_->FileName();
  }
  lost_->WriteAt(lost_size_, bytes, static_cast<int64_t>(length));
  lost_size_ += static_cast<int64_t>(length);
}

bool TTableRepairer::Repairable() {
  TDataFile& data = table_.DataFile();
  TDataHeader header = data.Header();
  std::vector<TFieldDescriptor> fields = data.Fields();
  // The counts are what the repair sets; everything else must hold.
  const int64_t size = data.GetSize();
  const int64_t area = RecordAreaOffset(header.FieldCount);
  const int64_t whole =
      header.RecordSize == 0 ? 0 : std::max<int64_t>(size - area, 0) / header.RecordSize;
  header.NextRecordNumber =
      static_cast<int32_t>(std::clamp<int64_t>(header.NextRecordNumber - 1, 0, whole)) + 1;
  header.FirstFreeRecord = 0;
  try {
    VerifyDataHeader(header, fields, size, table_.TableName());
  } catch (...) {
    Note("data file: the header or the field definitions cannot be used (" + CurrentErrorText() +
         "): the table cannot be repaired from it");
    return false;
  }
  return true;
}

void TTableRepairer::Backup(const std::string& directory) {
  backup_ = directory;
  if (table_.InMemory()) {
    backup_.clear();
    return;
  }
  if (!platform::DirectoryExists(backup_) && !platform::CreateDirectory(backup_)) {
    RaiseTableError(VEVURA_OSEACCES, backup_);
  }
  for (TFileHandler* file : std::initializer_list<TFileHandler*>{
           &table_.DataFile(), &table_.IndexFile(), &table_.BlobFile()}) {
    if (!file->IsOpen()) continue;
    file->CopyTo(backup_ + platform::ExtractFileName(file->FileName()), false, {});
  }
  report_.BackupDirectory = backup_;
}

void TTableRepairer::Run() {
  ReadIndexDefinitions();
  Progress(30);
  RepairSlots();
  Progress(45);
  RepairBlobs();
  Progress(55);
  RebuildIndexes();
  table_.FlushBuffers(false, true, true, table_.HasBlobFields(), true);
  Progress(90);
}

void TTableRepairer::ReadIndexDefinitions() {
  TIndexFile& index = table_.IndexFile();
  if (table_.IndexFileRecreated()) {
    Note(
        "index file: it was missing, so the table's own index definitions are gone: the record "
        "slot index is built, the others must be defined again");
    return;
  }
  // The system indexes' definitions are the engine's own: damage to them
  // is mended here rather than costing the table's own indexes.
  definitions_ = HeaderForDisk(index.Header());
  for (TIndexDescriptor& d : definitions_.Descriptors) d.Temporary = 0;
  const TIndexDescriptor slots = NewIndexHeader().Descriptors[kSlotIndex];
  TIndexDescriptor& words = definitions_.Descriptors[kTextIndex];
  TIndexDescriptor& slot_index = definitions_.Descriptors[kSlotIndex];
  if (slot_index.Name != slots.Name || slot_index.KeyLength != slots.KeyLength ||
      !ShapeOf(kSlotIndex, slot_index).Valid() || slot_index.FieldCount != 0) {
    slot_index = slots;
    Note("index file: the record slot index's definition was damaged and is made anew");
  }
  if (words.FieldCount > 0 &&
      (!ShapeOf(kTextIndex, words).Valid() || words.KeyLength != kTextIndexKeyLength)) {
    words.KeyLength = kTextIndexKeyLength;
    if (words.Compression > lcFull) words.Compression = lcFull;
    Note("index file: the word index's definition was damaged and is mended");
  }
  try {
    if (index.HeaderUnreadable()) RaiseTableError(VEVURA_HEADERCORRUPT, table_.TableName());
    VerifyIndexHeader(definitions_, table_.DataFile().Fields(), table_.TableName());
    keep_definitions_ = true;
  } catch (...) {
    Note("index file: the header cannot be read (" + CurrentErrorText() +
         "): only the record slot index is built, the table's own indexes must be defined again");
    return;
  }
  // Each definition must give its key rules.
  const TDataFile& data = table_.DataFile();
  for (uint8_t n = 0; n < kIndexCount; ++n) {
    const TIndexDescriptor& d = definitions_.Descriptors[n];
    if (n != 0 && n <= kMaxSecondaryIndexes && d.FieldCount == 0) continue;
    if (n == 0 && definitions_.NoPrimary != 0) continue;
    try {
      MakeKeyContext(data.LanguageId(), data.SortId(), n, d, data.Fields(), table_.TableName());
    } catch (...) {
      keep_definitions_ = false;
      Note("index file: index " + std::to_string(n) + ": its definition cannot be used (" +
           CurrentErrorText() +
           "): only the record slot index is built, the table's own indexes must be defined "
           "again");
      return;
    }
  }
  if (definitions_.Descriptors[kTextIndex].FieldCount == 0) return;
  try {
    text_parameters_ = ReadTextIndexParameters(index);
  } catch (...) {
    Note("index file: the word index's parameters cannot be read (" + CurrentErrorText() +
         "): the default ones are used");
  }
}

void TTableRepairer::ReadSlots(int32_t first, int32_t count, uint8_t* images, uint8_t* raw) {
  TDataFile& data = table_.DataFile();
  const size_t size = data.RecordSize();
  const int64_t bytes = static_cast<int64_t>(count) * static_cast<int64_t>(size);
  data.ReadAt(RecordAreaOffset(data.FieldCount()) + int64_t{first - 1} * static_cast<int64_t>(size),
              images, bytes);
  if (raw != nullptr) std::memcpy(raw, images, static_cast<size_t>(bytes));
  if (!data.Encrypted()) return;
  for (int32_t i = 0; i < count; ++i) UnscrambleRun(images + i * size, size, kTableDataSeeds);
}

void TTableRepairer::WriteSlots(int32_t first, int32_t count, const uint8_t* images) {
  TDataFile& data = table_.DataFile();
  const size_t size = data.RecordSize();
  std::vector<uint8_t> out(images, images + count * size);
  if (data.Encrypted()) {
    for (int32_t i = 0; i < count; ++i) ScrambleRun(out.data() + i * size, size, kTableDataSeeds);
  }
  data.WriteAt(
      RecordAreaOffset(data.FieldCount()) + int64_t{first - 1} * static_cast<int64_t>(size),
      out.data(), static_cast<int64_t>(out.size()));
}

void TTableRepairer::RepairSlots() {
  TDataFile& data = table_.DataFile();
  data.Records().DropAllRecords();
  TDataHeader& header = data.MutableHeader();
  const int64_t record_size = header.RecordSize;
  const int64_t area = RecordAreaOffset(header.FieldCount);
  const int64_t size = data.GetSize();
  const int64_t whole = std::min<int64_t>(std::max<int64_t>(size - area, 0) / record_size,
                                          std::numeric_limits<int32_t>::max() - 1);
  const auto slots =
      static_cast<int32_t>(std::clamp<int64_t>(header.NextRecordNumber - 1, 0, whole));
  std::array<uint8_t, kDataHeaderSize> bytes{};
  data.ReadAt(0, bytes.data(), kDataHeaderSize);
  const int32_t counted = DecodeDataHeader(bytes.data()).NextRecordNumber - 1;
  if (counted > slots) {
    Note("data file: the header counts " + std::to_string(counted) +
         " record slots but the file holds " + std::to_string(slots) + " whole ones: slots " +
         std::to_string(slots + 1) + " to " + std::to_string(counted) + " are gone");
  }
  const int64_t end = area + slots * record_size;
  if (size > end) {
    std::vector<uint8_t> tail(static_cast<size_t>(std::min<int64_t>(size - end, kSlotRunBytes)));
    for (int64_t at = end; at < size;) {
      const int64_t n = std::min<int64_t>(size - at, static_cast<int64_t>(tail.size()));
      data.ReadAt(at, tail.data(), n);
      MoveOut(tail.data(), static_cast<size_t>(n));
      at += n;
    }
    data.Cut(end);
    Note("data file: the " + std::to_string(size - end) + " bytes after record slot " +
         std::to_string(slots) + " (an append that did not finish) were moved to " +
         report_.LostFile);
  }

  // First pass: which slots can be decoded, and their row ids.
  const int32_t run = static_cast<int32_t>(std::max<int64_t>(kSlotRunBytes / record_size, 1));
  std::vector<uint8_t> images(static_cast<size_t>(run * record_size));
  std::vector<uint8_t> raw(images.size());
  std::vector<uint8_t> bad(static_cast<size_t>(slots) + 1, 0);
  std::vector<std::pair<int32_t, int32_t>> row_ids;  // (row id, slot)
  int32_t last_row_id = std::max(header.LastAutoIncValue, 0);
  int bad_lines = 0;
  int32_t bad_count = 0;
  for (int32_t first = 1; first <= slots; first += run) {
    const int32_t count = std::min(run, slots - first + 1);
    ReadSlots(first, count, images.data(), raw.data());
    for (int32_t i = 0; i < count; ++i) {
      const int32_t number = first + i;
      TConstRecordImage image(images.data() + i * record_size, static_cast<size_t>(record_size));
      if (!Decodable(image, number)) {
        bad[static_cast<size_t>(number)] = 1;
        ++bad_count;
        MoveOut(raw.data() + i * record_size, static_cast<size_t>(record_size));
        if (++bad_lines <= kDetailLines) {
          Note("data file: record slot " + std::to_string(number) +
               " cannot be read as a record (status " + std::to_string(RecordStatus(image)) +
               "): its bytes were moved to " + report_.LostFile + " and the slot is free");
        }
        continue;
      }
      row_ids.emplace_back(RecordRowId(image), number);
      last_row_id = std::max(last_row_id, RecordRowId(image));
    }
  }
  if (bad_count > kDetailLines) {
    Note("data file: " + std::to_string(bad_count) + " record slots in all were moved out");
  }

  // Row ids: every slot needs its own, and a new one for each slot moved out.
  std::vector<int32_t> new_row_id(static_cast<size_t>(slots) + 1, 0);
  std::sort(row_ids.begin(), row_ids.end());
  int clash_lines = 0;
  for (size_t i = 1; i < row_ids.size(); ++i) {
    if (row_ids[i].first != row_ids[i - 1].first) continue;
    const int32_t number = row_ids[i].second;
    new_row_id[static_cast<size_t>(number)] = ++last_row_id;
    if (++clash_lines <= kDetailLines) {
      Note("data file: record slot " + std::to_string(number) + " had row id " +
           std::to_string(row_ids[i].first) + " as slot " + std::to_string(row_ids[i - 1].second) +
           " has: it was given row id " + std::to_string(last_row_id));
    }
  }
  for (int32_t number = 1; number <= slots; ++number) {
    if (bad[static_cast<size_t>(number)] != 0)
      new_row_id[static_cast<size_t>(number)] = ++last_row_id;
  }

  // Second pass: the changes, the free chain and the BLOBs of live records.
  const bool reuses = keep_definitions_ && definitions_.NoPrimary == 0;
  int32_t free_head = 0;
  int32_t free_count = 0;
  int32_t relinked = 0;
  int32_t previous_free = 0;  // the chain is built in ascending order
  for (int32_t first = 1; first <= slots; first += run) {
    const int32_t count = std::min(run, slots - first + 1);
    ReadSlots(first, count, images.data(), nullptr);
    bool changed = false;
    for (int32_t i = 0; i < count; ++i) {
      const int32_t number = first + i;
      std::span<uint8_t> image(images.data() + i * record_size, static_cast<size_t>(record_size));
      const std::vector<uint8_t> was(image.begin(), image.end());
      if (bad[static_cast<size_t>(number)] != 0) {
        ClearRecordImage(image);
        SetRecordStatus(image, rsFree);
      }
      if (new_row_id[static_cast<size_t>(number)] != 0) {
        SetRecordRowId(image, new_row_id[static_cast<size_t>(number)]);
      }
      if (RecordStatus(image) == rsFree) {
        ++free_count;
        SetRecordLink(image, 0);
        if (reuses) {
          if (previous_free == 0) {
            free_head = number;
          } else if (previous_free >= first) {
            SetRecordLink(std::span<uint8_t>(images.data() + (previous_free - first) * record_size,
                                             static_cast<size_t>(record_size)),
                          number);
          } else {
            // The previous free slot lies in the run already written.
            std::vector<uint8_t> prior(static_cast<size_t>(record_size));
            ReadSlots(previous_free, 1, prior.data(), nullptr);
            SetRecordLink(prior, number);
            WriteSlots(previous_free, 1, prior.data());
          }
          previous_free = number;
        }
      } else {
        for (const TFieldDescriptor& field : data.Fields()) {
          if (!field.IsBlob()) continue;
          const TBlobReference reference = GetBlobField(image, field);
          if (reference.FirstBlock != 0) blobs_.push_back({number, field, reference});
        }
      }
      if (!std::equal(was.begin(), was.end(), image.begin())) {
        changed = true;
        if (RecordStatus(image) == rsFree && bad[static_cast<size_t>(number)] == 0 &&
            new_row_id[static_cast<size_t>(number)] == 0) {
          ++relinked;
        }
      }
    }
    if (changed || (reuses && previous_free >= first)) WriteSlots(first, count, images.data());
  }
  if (!reuses && header.FirstFreeRecord != 0) relinked += 1;
  if (reuses && header.FirstFreeRecord != free_head) relinked += 1;
  if (relinked > 0) {
    Note("data file: the free-record chain was rebuilt through " + std::to_string(free_count) +
         " free slots");
  }
  header.FirstFreeRecord = free_head;
  header.NextRecordNumber = slots + 1;
  if (header.LastAutoIncValue != last_row_id) {
    Note("data file: the last auto-increment value was " + std::to_string(header.LastAutoIncValue) +
         ", now " + std::to_string(last_row_id));
    header.LastAutoIncValue = last_row_id;
  }
  data.WriteHeader(true);
  data.Records().DropAllRecords();
}

void TTableRepairer::ClearBlob(int32_t record, const TFieldDescriptor& field) {
  std::vector<uint8_t> image(table_.DataFile().RecordSize());
  ReadSlots(record, 1, image.data(), nullptr);
  SetFieldNull(image, field);
  WriteSlots(record, 1, image.data());
}

void TTableRepairer::RepairBlobs() {
  if (!table_.HasBlobFields()) return;
  TBlobFile& file = table_.BlobFile();
  file.DropAllBlocks();
  TBlobHeader& header = file.MutableHeader();
  const int64_t size = file.GetSize();
  const int64_t in_file = std::clamp<int64_t>(
      (size - static_cast<int64_t>(kBlobHeaderSize)) / file.BlockSize(), 0, kMaxBlockNumber - 1);
  try {
    file.VerifyBlobHeader();
  } catch (...) {
    Note("BLOB file: the header cannot be used (" + CurrentErrorText() +
         "): it is made anew for the " + std::to_string(in_file) + " blocks the file holds");
    header.Version = kBlobFileVersion;
    header.NextBlockNumber = static_cast<int32_t>(in_file) + 1;
  }
  if (header.NextBlockNumber - 1 > in_file) {
    Note("BLOB file: the header counts " + std::to_string(header.NextBlockNumber - 1) +
         " blocks but the file holds " + std::to_string(in_file) + " whole ones");
    header.NextBlockNumber = static_cast<int32_t>(in_file) + 1;
  }
  header.FirstFreeBlock = 0;

  std::vector<TBlobReference> references;
  for (const TStoredBlob& blob : blobs_) references.push_back(blob.Reference);
  std::vector<uint8_t> used;
  const std::vector<std::string> faults = CheckBlobChains(file, references, &used);
  int lines = 0;
  int32_t cleared = 0;
  for (size_t i = 0; i < blobs_.size(); ++i) {
    if (faults[i].empty()) continue;
    const TStoredBlob& blob = blobs_[i];
    ClearBlob(blob.Record, blob.Field);
    ++cleared;
    if (++lines <= kDetailLines) {
      Note("record " + std::to_string(blob.Record) + ", field " + blob.Field.Name +
           ": its BLOB is damaged (" + faults[i] + "): the field is now empty" +
           (backup_.empty() ? std::string() : "; the blocks are kept in the backup"));
    }
  }
  if (cleared > kDetailLines) {
    Note("BLOB file: " + std::to_string(cleared) + " damaged BLOBs in all were emptied");
  }
  // Every block no record names goes on the free list, lowest first.
  int32_t freed = 0;
  for (int32_t n = header.NextBlockNumber - 1; n >= 1; --n) {
    if (used[static_cast<size_t>(n)] != 0) continue;
    {
      TBlockRef block(file, file.GetBlock(nullptr, n, 1, false));
      file.FreeBlock(block.get());
    }
    if (++freed % 256 == 0) file.FlushBlocks();
  }
  file.FlushBlocks();
  file.WriteBlobHeader(true);
  Note("BLOB file: the free list was rebuilt from the " + std::to_string(freed) +
       " blocks no record names");
}

void TTableRepairer::FreeSlot(int32_t number, const std::string& why) {
  std::vector<uint8_t> image(table_.DataFile().RecordSize());
  ReadSlots(number, 1, image.data(), nullptr);
  std::vector<uint8_t> raw(image.size());
  table_.DataFile().ReadAt(RecordAreaOffset(table_.DataFile().FieldCount()) +
                               int64_t{number - 1} * static_cast<int64_t>(image.size()),
                           raw.data(), static_cast<int64_t>(raw.size()));
  MoveOut(raw.data(), raw.size());
  if (table_.HasBlobFields()) {
    TBlobFile& blobs = table_.BlobFile();
    for (const TFieldDescriptor& field : table_.DataFile().Fields()) {
      if (!field.IsBlob()) continue;
      const TBlobReference blob = GetBlobField(image, field);
      int32_t first = blob.FirstBlock;
      if (first > 0) blobs.FreeChain(nullptr, first, blob.BlobId, true);
    }
    blobs.FlushBlocks();
    blobs.WriteBlobHeader(true);
  }
  SetRecordStatus(image, rsFree);
  // A table that reuses free slots finds this one first.
  TDataHeader& header = table_.DataFile().MutableHeader();
  const bool reuses = keep_definitions_ && definitions_.NoPrimary == 0;
  SetRecordLink(image, reuses ? header.FirstFreeRecord : 0);
  if (reuses) header.FirstFreeRecord = number;
  WriteSlots(number, 1, image.data());
  table_.DataFile().WriteHeader(true);
  table_.DataFile().Records().DropAllRecords();
  Note("record " + std::to_string(number) + ": " + why + ": its bytes were moved to " +
       report_.LostFile + " and the slot is free");
}

bool TTableRepairer::FreeUniqueClashes(TTableChecker& checker) {
  std::set<int32_t> clashing;
  for (uint8_t n = 0; n < kSlotIndex; ++n) {
    TCheckedIndex* index = checker.Index(n);
    if (index == nullptr || definitions_.Descriptors[n].Unique == 0) continue;
    index->Expected.Sort();
    const TEntryList& entries = index->Expected;
    for (size_t i = 1; i < entries.Size(); ++i) {
      if (index->Comparer.CompareKeys(entries.At(i - 1), entries.At(i), index->Context.KeyLength) ==
          0) {
        clashing.insert(
            static_cast<int32_t>(std::max(entries.ReferenceAt(i - 1), entries.ReferenceAt(i))));
      }
    }
  }
  for (int32_t number : clashing) {
    FreeSlot(number, "it repeats a key of a unique index that a lower record holds");
  }
  return !clashing.empty();
}

void TTableRepairer::RebuildIndexes() {
  TIndexFile& index = table_.IndexFile();
  TIndexHeader image = keep_definitions_ ? definitions_ : NewIndexHeader();
  if (!keep_definitions_) image.NoPrimary = 1;
  index.StartOver(image);
  if (image.Descriptors[kTextIndex].FieldCount > 0 && text_parameters_) {
    WriteTextIndexParameters(index, *text_parameters_);
  }
  table_.IndexFileRebuilt();
  TTableVerifyReport scratch;
  auto checker = std::make_unique<TTableChecker>(table_, scratch);
  checker->CollectEntries();
  if (keep_definitions_ && FreeUniqueClashes(*checker)) {
    scratch = {};
    checker = std::make_unique<TTableChecker>(table_, scratch);
    checker->CollectEntries();
  }
  int built = 0;
  int64_t keys = 0;
  for (int n = 0; n < kIndexCount; ++n) {
    TCheckedIndex* entries = checker->Index(static_cast<uint8_t>(n));
    if (entries == nullptr) continue;
    entries->Expected.Sort();
    TBTreePath path;
    TBTree tree(index, static_cast<uint8_t>(n), entries->Comparer, path);
    try {
      for (size_t i = 0; i < entries->Expected.Size(); ++i) {
        tree.InsertKey(entries->Expected.At(i), entries->Expected.ReferenceAt(i));
      }
    } catch (...) {
      Note("index file: " + entries->Name + ": building it: " + CurrentErrorText());
      throw;
    }
    ++built;
    keys += static_cast<int64_t>(entries->Expected.Size());
    Progress(55 + 35 * (n + 1) / kIndexCount);
  }
  index.SetActiveRecordCount(static_cast<int32_t>(scratch.LiveRecords));
  Note("index file: " + std::to_string(built) + " indexes built anew with " + std::to_string(keys) +
       " keys; " + std::to_string(scratch.LiveRecords) + " live records");
}

}  // namespace

TTableRepairReport RepairTable(TDataDirectory& directory, const std::string& table_name,
                               const TRepairOptions& options) {
  TTableRepairReport report;
  if (!directory.TableExists(table_name, options.InMemory)) {
    RaiseTableError(VEVURA_OSENOENT, table_name);
  }
  TTableOpenRequest request;
  request.InMemory = options.InMemory;
  request.Exclusive = true;
  request.Repair = true;
  TDataTable* table = nullptr;
  const int32_t result = directory.OpenTableObject(table_name, request, &table);
  if (result < 0) RaiseTableError(static_cast<uint16_t>(-result), table_name);
  auto progress = [&options](int from, int to) {
    return [&options, from, to](int percent) {
      if (options.Progress) options.Progress(from + (to - from) * percent / 100);
    };
  };
  report.Before = VerifyTable(*table, progress(0, 20));
  if (report.Before.Clean()) {
    directory.CloseTableObject(table, false);
    report.After = report.Before;
    if (options.Progress) options.Progress(100);
    return report;
  }
  TTableRepairer repairer(*table, options, report);
  try {
    if (!repairer.Repairable()) {
      directory.CloseTableObject(table, false);
      report.After = report.Before;
      return report;
    }
    repairer.Backup(NewBackupDirectory(directory, table_name, options.BackupDirectory));
  } catch (...) {
    directory.CloseTableObject(table, false);
    throw;
  }
  report.Changed = true;
  try {
    repairer.Run();
  } catch (...) {
    report.Changes.push_back("the repair stopped: " + CurrentErrorText());
    if (options.Log) options.Log(report.Changes.back());
  }
  try {
    directory.CloseTableObject(table, false);
  } catch (...) {
    report.Changes.push_back("closing the table: " + CurrentErrorText());
  }
  report.After = VerifyTable(directory, table_name, options.InMemory, progress(90, 100));
  return report;
}

}  // namespace vevura
