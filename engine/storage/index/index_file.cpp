// The index file: opening, closing, the header image and index definitions.

#include "engine/storage/index/index_file.h"

#include <algorithm>

#include "engine/base/engine_error.h"
#include "engine/storage/common/byte_order.h"
#include "engine/storage/common/scramble.h"
#include "engine/storage/index/index_definitions.h"

namespace vevura {

TIndexFile::TIndexFile(TIndexFileHost& host)
    : host_(host), table_name_(host.TableName()), stack_(&table_name_) {
  for (auto& cache : caches_) cache = std::make_unique<TPageCache>(SoftCapacity());
}

TIndexFile::~TIndexFile() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot report; Close raises only when the memory file
    // cannot be discarded, which leaves nothing of this table behind.
  }
}

int TIndexFile::SoftCapacity() const {
  return std::max(1, host_.IndexBufferSize() / kIndexBufferBytesPerPage);
}

void TIndexFile::RaiseCorrupt() const {
  RaiseTableError(VEVURA_INDEXCORRUPT, table_name_);
}

TIndexDescriptor& TIndexFile::Descriptor(uint8_t index) {
  if (index >= kIndexCount) RaiseCorrupt();
  return header_.Descriptors[index];
}

const TIndexDescriptor& TIndexFile::Descriptor(uint8_t index) const {
  if (index >= kIndexCount) RaiseCorrupt();
  return header_.Descriptors[index];
}

bool TIndexFile::IsTemporary(uint8_t index) const {
  return Descriptor(index).Temporary != 0;
}

void TIndexFile::CreateFile() {
  table_name_ = host_.TableName();
  DropPageBuffers(true);
  DropPageBuffers(false);
  TFileHandler::CreateFile();
  header_ = NewIndexHeader();
  disk_next_page_ = header_.NextPage;
}

void TIndexFile::StartOver(TIndexHeader image) {
  DropPageBuffers(true);
  DropPageBuffers(false);
  DiscardMemoryFile();
  Cut(kIndexPageSize);
  for (TIndexDescriptor& d : image.Descriptors) {
    d.RootPage = 0;
    d.FreeListHead = 0;
    d.FirstDataPage = 0;
  }
  image.NextPage = 1;
  image.ActiveRecordCount = 0;
  image.Modified = 1;
  header_ = std::move(image);
  disk_next_page_ = header_.NextPage;
}

void TIndexFile::Open() {
  if (IsOpen()) return;
  table_name_ = host_.TableName();
  TFileHandler::Open();
  header_unreadable_ = false;
  try {
    ReadIndexHeader();
    if (header_.Version != kIndexFileVersion) RaiseTableError(VEVURA_OLDVERSION, table_name_);
    if (header_.SecondaryCount > kIndexCount - 1) {
      RaiseTableError(VEVURA_HEADERCORRUPT, table_name_);
    }
  } catch (...) {
    if (!ForRepair()) {
      TFileHandler::Close();
      throw;
    }
    // The repair builds the file anew; until then it has no indexes.
    header_ = NewIndexHeader();
    disk_next_page_ = header_.NextPage;
    header_unreadable_ = true;
  }
}

void TIndexFile::Close() {
  RemoveTemporaryIndexes();
  DropPageBuffers(true);
  DropPageBuffers(false);
  TFileHandler::Close();
}

TIndexHeader TIndexFile::ReadHeaderFromDisk() {
  std::array<uint8_t, kIndexPageSize> image{};
  ReadAt(0, image.data(), kIndexPageSize);
  if (host_.Encrypted()) UnscrambleRun(image.data(), image.size(), kTableDataSeeds);
  return DecodeIndexHeader(image.data());
}

void TIndexFile::AdoptHeader(TIndexHeader disk) {
  ForgetSize();  // another writer's header may count pages it appended
  // Temporary indexes live only in this image; the disk shows a zeroed
  // descriptor in their place.
  for (int n = 1; n <= kMaxSecondaryIndexes; ++n) {
    const TIndexDescriptor& mine = header_.Descriptors[n];
    if (!mine.Temporary || !(disk.Descriptors[n] == TIndexDescriptor{})) continue;
    disk.Descriptors[n] = mine;
    if (disk.SecondaryCount < kMaxSecondaryIndexes) ++disk.SecondaryCount;
  }
  disk.Modified = 0;
  // Pages beyond the header's count are what a writer killed before its
  // header write left behind, and a page of an interrupted split may be
  // named by its parent already: new pages go after them, never over them.
  const int64_t pages_in_file = (GetSize() + kIndexPageSize - 1) / kIndexPageSize;
  if (pages_in_file > disk.NextPage && pages_in_file <= kMaxIndexPageNumber) {
    disk.NextPage = static_cast<int32_t>(pages_in_file);
  }
  header_ = std::move(disk);
  disk_next_page_ = header_.NextPage;
}

void TIndexFile::ReadIndexHeader() {
  AdoptHeader(ReadHeaderFromDisk());
}

bool TIndexFile::IndexHeaderChanged() {
  if (!host_.Encrypted()) {
    // Most checks find nothing: the counter alone tells, without reading
    // and decoding the whole header.
    std::array<uint8_t, 4> counter{};
    ReadHeadAt(index_header_layout::kChangeCounter, counter.data(), counter.size());
    if (GetInt32(counter.data()) == header_.ChangeCounter) return false;
  }
  TIndexHeader disk = ReadHeaderFromDisk();
  if (disk.ChangeCounter == header_.ChangeCounter) return false;
  AdoptHeader(std::move(disk));
  return true;
}

bool TIndexFile::WriteIndexHeader(bool force) {
  if (!header_.Modified && !force) return false;
  header_.ChangeCounter = WrappingAdd(header_.ChangeCounter, 1);
  std::array<uint8_t, kIndexPageSize> image{};
  EncodeIndexHeaderForDisk(header_, image.data());
  if (host_.Encrypted()) ScrambleRun(image.data(), image.size(), kTableDataSeeds);
  WriteAt(0, image.data(), kIndexPageSize);
  disk_next_page_ = header_.NextPage;
  host_.SetHeaderWritten();
  header_.Modified = 0;
  return true;
}

void TIndexFile::RecordIndexChange() {
  header_.ChangeCounter = WrappingAdd(header_.ChangeCounter, 1);
  header_.Modified = 1;
  host_.SetHeaderWritten();
}

void TIndexFile::VerifyIndexHeader(const std::vector<TFieldDescriptor>& fields) const {
  vevura::VerifyIndexHeader(HeaderForDisk(header_), fields, table_name_);
}

void TIndexFile::DefinePrimaryIndex(const TIndexDescriptor& d,
                                    const std::vector<TFieldDescriptor>& fields) {
  vevura::DefinePrimaryIndex(header_, d, fields, table_name_);
}

uint8_t TIndexFile::AddSecondaryIndex(const TIndexDescriptor& d,
                                      const std::vector<TFieldDescriptor>& fields) {
  uint8_t n = vevura::AddSecondaryIndex(header_, d, fields, table_name_);
  DropCache(n);
  if (d.Temporary) EnsureMemoryFile();
  return n;
}

void TIndexFile::SetIndexDescriptor(uint8_t n, const TIndexDescriptor& d) {
  if (n >= kIndexCount) return;
  vevura::SetIndexDescriptor(header_, n, d);
  DropCache(n);
  if (d.Temporary) EnsureMemoryFile();
}

TIndexDescriptor TIndexFile::GetIndexDescriptor(uint8_t n) const {
  if (n >= kIndexCount) return TIndexDescriptor{};
  return header_.Descriptors[n];
}

void TIndexFile::EnsureMemoryFile() {
  if (memory_file_ != nullptr) return;
  auto file = std::make_unique<TFileHandler>();
  file->SetFileName(host_.TemporaryIndexFileName());
  file->SetInMemory(true);
  file->SetTemporary(true);
  file->CreateFile();
  memory_file_ = std::move(file);
  memory_next_page_ = 1;
}

void TIndexFile::DiscardMemoryFile() {
  if (memory_file_ == nullptr) return;
  std::unique_ptr<TFileHandler> file = std::move(memory_file_);
  memory_next_page_ = 1;
  file->Close();
  file->DeleteFile();
}

void TIndexFile::RemoveTemporaryIndexes() {
  if (header_.SecondaryCount > kIndexCount - 1) return;
  for (int n = header_.SecondaryCount; n >= 0; --n) {
    if (!header_.Descriptors[n].Temporary) continue;
    header_.Descriptors[n] = TIndexDescriptor{};
    if (header_.SecondaryCount > 0) --header_.SecondaryCount;
    DropCache(static_cast<uint8_t>(n));
  }
  DiscardMemoryFile();
}

void TIndexFile::IncrementRecordCount() {
  header_.ActiveRecordCount = WrappingAdd(header_.ActiveRecordCount, 1);
  header_.Modified = 1;
}

void TIndexFile::SetActiveRecordCount(int32_t count) {
  header_.ActiveRecordCount = count;
  header_.Modified = 1;
}

void TIndexFile::DecrementRecordCount() {
  header_.ActiveRecordCount = WrappingAdd(header_.ActiveRecordCount, -1);
  header_.Modified = 1;
}

void TIndexFile::SetNoPrimary(bool no_primary) {
  uint8_t value = no_primary ? 1 : 0;
  if (no_primary) header_.Descriptors[0] = TIndexDescriptor{};
  if (value != header_.NoPrimary || no_primary) header_.Modified = 1;
  header_.NoPrimary = value;
}

bool TIndexFile::LockWriteRegion(bool lock) {
  return LockRegion(lock, kIndexWriteRegionOffset, kIndexWriteRegionLength);
}

bool TIndexFile::LockReadSlot(bool lock, uint16_t slot) {
  return LockRegion(lock, kIndexReadSlotBase - slot, 1);
}

}  // namespace vevura
