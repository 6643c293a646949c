#include "engine/storage/file/file_handler.h"

#include <algorithm>
#include <cerrno>

#include "engine/base/engine_error.h"
#include "platform/os_error.h"

namespace vevura {
namespace {

//! Before-images whose room a journal keeps for the next change, and the
//! largest room kept.
constexpr size_t kKeptJournalImages = 16;
constexpr size_t kKeptJournalImageBytes = 64 * 1024;

}  // namespace

TFileHandler::TFileHandler() = default;

TFileHandler::~TFileHandler() {
  TFileHandler::Close();
}

void TFileHandler::RaiseFileError(uint16_t code) const {
  RaiseTableError(code, file_name_);
}

void TFileHandler::CheckResult(int32_t result) const {
  if (result < 0) RaiseFileError(static_cast<uint16_t>(-result));
}

TFileList& TFileHandler::List() const {
  TFileList* list = FileList();
  if (list == nullptr) RaiseFileError(VEVURA_NOTINITIALIZED);
  return *list;
}

void TFileHandler::Attach(const TFileOpening& opening) {
  file_ = opening.File;
  handle_id_ = opening.HandleId;
  read_only_ = opening.ReadOnly;
  read_only_attribute_ = opening.ReadOnlyAttribute;
  open_ = true;
}

void TFileHandler::Detach() {
  head_.clear();
  known_size_ = -1;
  file_ = nullptr;
  handle_id_ = 0;
  open_ = false;
}

void TFileHandler::Open() {
  if (open_) return;
  TFileList& list = List();
  if (!list.FileExists(file_name_, in_memory_)) {
    platform::SetLastOsError(ENOENT);
    RaiseFileError(VEVURA_OSENOENT);
  }
  TFileOpening opening;
  CheckResult(list.OpenFile(file_name_, in_memory_, temporary_, exclusive_, &opening));
  Attach(opening);
}

void TFileHandler::Close() {
  if (!open_) return;
  TFileList* list = FileList();
  if (list != nullptr && file_ != nullptr) list->CloseFile(file_, in_memory_, handle_id_);
  Detach();
}

void TFileHandler::CreateFile() {
  if (open_) {
    platform::SetLastOsError(EACCES);
    RaiseFileError(VEVURA_OSEACCES);
  }
  TFileOpening opening;
  CheckResult(List().CreateFile(file_name_, in_memory_, temporary_, &opening));
  Attach(opening);
}

void TFileHandler::DeleteFile() {
  CheckResult(List().DeleteFile(file_name_, in_memory_));
}

void TFileHandler::RenameFile(const std::string& new_name) {
  CheckResult(List().RenameFile(file_name_, in_memory_, new_name));
  file_name_ = new_name;
}

void TFileHandler::CopyTo(const std::string& destination, bool compress,
                          const TCopyProgress& progress) {
  if (file_ == nullptr) RaiseFileError(VEVURA_READERR);
  CheckResult(List().CopyOut(file_, handle_id_, progress, compress, destination, in_memory_));
}

void TFileHandler::CopyFrom(const std::string& source, bool compress,
                            const TCopyProgress& progress) {
  if (file_ == nullptr) RaiseFileError(VEVURA_WRITEERR);
  known_size_ = -1;
  CheckResult(List().CopyIn(file_, handle_id_, progress, compress, source, in_memory_));
}

int64_t TFileHandler::Read(void* buffer, int64_t length, bool allow_short) {
  if (file_ == nullptr || length < 0) RaiseFileError(VEVURA_READERR);
  int64_t count = file_->Read(handle_id_, buffer, length);
  if (count < 0) RaiseFileError(VEVURA_READERR);
  if (count != length && !allow_short) {
    platform::SetLastOsError(0);  // the file is shorter: no system error
    RaiseFileError(VEVURA_READERR);
  }
  return count;
}

void TFileHandler::Write(const void* buffer, int64_t length) {
  known_size_ = -1;  // WriteAt, which knows the position, keeps it again
  if (file_ == nullptr || length < 0) RaiseFileError(VEVURA_WRITEERR);
  if (file_->Write(handle_id_, buffer, length) != length) RaiseFileError(VEVURA_WRITEERR);
}

void TFileHandler::Flush() {
  if (file_ == nullptr || !file_->Flush(handle_id_)) RaiseFileError(VEVURA_WRITEERR);
}

bool TFileHandler::LockRegion(bool lock, int64_t offset, int64_t length) {
  if (file_ == nullptr) return false;
  return lock ? file_->LockRegion(offset, length) : file_->UnlockRegion(offset, length);
}

int64_t TFileHandler::Seek(int32_t origin, int64_t offset) {
  if (file_ == nullptr) return 0;
  return file_->Seek(handle_id_, origin, offset);
}

int64_t TFileHandler::GetSize() {
  if (file_ == nullptr) return 0;
  int64_t size = file_->GetSize();
  if (size < 0) RaiseFileError(VEVURA_READERR);
  return size;
}

bool TFileHandler::Exists() {
  return List().FileExists(file_name_, in_memory_);
}

void TFileHandler::BeginAccess() {
  if (file_ != nullptr) file_->BeginAccess();
}

void TFileHandler::EndAccess() {
  if (file_ != nullptr) file_->EndAccess();
}

int64_t TFileHandler::ReadAt(int64_t position, void* buffer, int64_t length, bool allow_short) {
  TFileAccess access(*this);
  if (file_ == nullptr || position < 0 || Seek(soFromBeginning, position) != position) {
    RaiseFileError(VEVURA_READERR);
  }
  const int64_t got = Read(buffer, length, allow_short);
  if (position == 0) NoteHeadRead(buffer, got);
  return got;
}

void TFileHandler::NoteHeadRead(const void* buffer, int64_t count) {
  if (count <= 0) return;
  // A shorter read that agrees with the bytes kept (a change counter that
  // did not move) leaves the rest of them valid.
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  const auto n = static_cast<size_t>(count);
  if (n > head_.size() || !std::equal(bytes, bytes + n, head_.begin())) {
    head_.assign(bytes, bytes + n);
  }
}

void TFileHandler::ReadHeadAt(int64_t position, void* buffer, int64_t length) {
  if (file_ == nullptr || position < 0 || length < 0 ||
      !file_->ReadHead(position, buffer, length)) {
    ReadAt(position, buffer, length);
    return;
  }
  if (position == 0) NoteHeadRead(buffer, length);
}

int64_t TFileHandler::KnownSize() {
  if (known_size_ < 0) known_size_ = GetSize();
  return known_size_;
}

void TFileHandler::Cut(int64_t size) {
  TFileAccess access(*this);
  // A write of no bytes cuts the file where it is positioned.
  if (file_ == nullptr || size < 0 || Seek(soFromBeginning, size) != size) {
    RaiseFileError(VEVURA_WRITEERR);
  }
  Write(nullptr, 0);
}

void TFileHandler::WriteAt(int64_t position, const void* buffer, int64_t length,
                           const TKnownBytes* known) {
  TFileAccess access(*this);
  if (file_ == nullptr || position < 0) RaiseFileError(VEVURA_WRITEERR);
  if (journaling_ && length > 0) {
    if (journal_size_ < 0) journal_size_ = KnownSize();
    // Only what lies inside the old size needs keeping: the cut gives the
    // rest back.
    const int64_t kept = std::min(length, journal_size_ - position);
    if (kept > 0) {
      // An image left by an earlier change lends its room.
      if (journal_used_ == journal_.size()) journal_.emplace_back();
      TBeforeImage& image = journal_[journal_used_];
      image.Position = position;
      if (position == 0 && kept <= static_cast<int64_t>(head_.size())) {
        // The header as this handler last read or wrote it, which the
        // table's write lock and its change counters keep current.
        image.Bytes.assign(head_.begin(), head_.begin() + kept);
      } else {
        image.Bytes.resize(static_cast<size_t>(kept));
        if (known == nullptr || !known->CopyKnown(position, kept, image.Bytes.data())) {
          if (Seek(soFromBeginning, position) != position) RaiseFileError(VEVURA_READERR);
          Read(image.Bytes.data(), kept, true);
        }
      }
      ++journal_used_;
    }
  }
  if (position < static_cast<int64_t>(head_.size())) head_.clear();
  if (Seek(soFromBeginning, position) != position) RaiseFileError(VEVURA_WRITEERR);
  const int64_t size_before = known_size_;
  Write(buffer, length);
  if (size_before >= 0) {
    // A write of no bytes cut the file there.
    known_size_ = length == 0 ? position : std::max(size_before, position + length);
  }
  if (position == 0 && length > 0) {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    head_.assign(bytes, bytes + length);
  }
}

void TFileHandler::BeginJournal() {
  journaling_ = true;
  journal_size_ = -1;
  journal_used_ = 0;
}

void TFileHandler::EndJournal() {
  journaling_ = false;
  journal_size_ = -1;
  journal_used_ = 0;
  // The room of a few small images stays for the next change.
  if (journal_.size() > kKeptJournalImages) journal_.resize(kKeptJournalImages);
  for (TBeforeImage& image : journal_) {
    if (image.Bytes.capacity() > kKeptJournalImageBytes) std::vector<uint8_t>().swap(image.Bytes);
  }
}

bool TFileHandler::RollBackJournal() {
  journaling_ = false;
  bool restored = true;
  try {
    for (size_t i = journal_used_; i-- > 0;) {
      const TBeforeImage& image = journal_[i];
      WriteAt(image.Position, image.Bytes.data(), static_cast<int64_t>(image.Bytes.size()));
    }
    if (journal_size_ >= 0 && GetSize() > journal_size_) WriteAt(journal_size_, nullptr, 0);
  } catch (const EVEVURAEngineError&) {
    restored = false;
  }
  EndJournal();
  return restored;
}

}  // namespace vevura
