#include "engine/storage/file/file_list.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>

#include "engine/base/error_codes.h"
#include "engine/base/os_error_code.h"
#include "engine/storage/common/trim.h"
#include "engine/storage/file/memory_file.h"
#include "engine/storage/file/physical_file.h"
#include "platform/directory.h"
#include "platform/locale.h"
#include "platform/os_error.h"

namespace vevura {

namespace {

int32_t InUse() {
  return FailWithCode(EACCES, VEVURA_OSEACCES);
}

int32_t NotFound() {
  return FailWithCode(ENOENT, VEVURA_OSENOENT);
}

std::unique_ptr<TAbstractFile> NewFileObject(const std::string& list_name, bool in_memory) {
  if (in_memory) return std::make_unique<TMemoryFile>(list_name);
  return std::make_unique<TPhysicalFile>(list_name);
}

}  // namespace

TFileList::TFileList() = default;

TFileList::~TFileList() {
  std::lock_guard guard(lock_);
  files_.clear();
}

std::string TFileList::ListName(const std::string& name, bool in_memory) {
  std::string trimmed = TrimText(name);
  if (in_memory || trimmed.empty()) return trimmed;
  std::string absolute = platform::ExpandFileName(trimmed);
  std::string existing = platform::FindExistingName(absolute);
  return existing.empty() ? absolute : existing;
}

TAbstractFile* TFileList::Find(const std::string& list_name, bool in_memory) {
  for (const auto& file : files_) {
    if (file->IsInMemory() != in_memory) continue;
    bool same =
        in_memory ? platform::SameTextSystem(file->Name(), list_name) : file->Name() == list_name;
    if (same) return file.get();
  }
  return nullptr;
}

int32_t TFileList::IndexOf(const TAbstractFile* file) {
  for (size_t i = 0; i < files_.size(); ++i) {
    if (files_[i].get() == file) return static_cast<int32_t>(i);
  }
  return -1;
}

void TFileList::Remove(const TAbstractFile* file) {
  int32_t index = IndexOf(file);
  if (index >= 0) files_.erase(files_.begin() + index);
}

int32_t TFileList::Count() {
  std::lock_guard guard(lock_);
  return static_cast<int32_t>(files_.size());
}

void TFileList::Opened(TAbstractFile* file, int32_t handle_id, TFileOpening* opening) {
  opening->File = file;
  opening->HandleId = handle_id;
  opening->ReadOnly = file->ReadOnly();
  opening->ReadOnlyAttribute = file->ReadOnlyAttribute();
}

int32_t TFileList::CreateFile(const std::string& name, bool in_memory, bool temporary,
                              TFileOpening* opening) {
  std::lock_guard guard(lock_);
  std::string list_name = ListName(name, in_memory);
  if (list_name.empty()) return NotFound();
  TAbstractFile* file = Find(list_name, in_memory);
  if (file != nullptr && file->OpenCount() > 0) return InUse();
  std::unique_ptr<TAbstractFile> created;
  if (file == nullptr) {
    created = NewFileObject(list_name, in_memory);
    file = created.get();
  }
  file->SetExclusive(true);
  file->SetTemporary(temporary);
  int32_t handle_id = file->CreateNew();
  if (handle_id < 0) return handle_id;  // a new object is freed here
  if (created != nullptr) files_.push_back(std::move(created));
  Opened(file, handle_id, opening);
  return handle_id;
}

int32_t TFileList::OpenFile(const std::string& name, bool in_memory, bool temporary, bool exclusive,
                            TFileOpening* opening) {
  std::lock_guard guard(lock_);
  std::string list_name = ListName(name, in_memory);
  if (list_name.empty()) return NotFound();
  TAbstractFile* file = Find(list_name, in_memory);
  if (file == nullptr) {
    if (in_memory) return NotFound();  // in-memory files are created before they are opened
    return OpenNewDiskFile(list_name, temporary, exclusive, opening);
  }
  if (file->OpenCount() > 0) {
    if (file->Exclusive() || exclusive) return InUse();
  } else {
    file->SetExclusive(exclusive);
    file->SetTemporary(temporary);
  }
  int32_t handle_id = file->OpenHandle();
  if (handle_id < 0) return handle_id;
  Opened(file, handle_id, opening);
  return handle_id;
}

int32_t TFileList::OpenNewDiskFile(const std::string& list_name, bool temporary, bool exclusive,
                                   TFileOpening* opening) {
  auto file = std::make_unique<TPhysicalFile>(list_name);
  file->SetExclusive(exclusive);
  file->SetTemporary(temporary);
  int32_t handle_id = file->OpenHandle();
  if (handle_id < 0) return handle_id;
  Opened(file.get(), handle_id, opening);
  files_.push_back(std::move(file));
  return handle_id;
}

int32_t TFileList::CloseFile(TAbstractFile* file, bool in_memory, int32_t handle_id) {
  std::lock_guard guard(lock_);
  if (IndexOf(file) < 0 || file->IsInMemory() != in_memory || file->OpenCount() == 0) {
    return NotFound();
  }
  if (!file->ReleaseHandle(handle_id)) return FailWithCode(EBADF, VEVURA_OSEBADF);
  // A disk file leaves with its last handle; an in-memory one keeps its data.
  if (!in_memory && file->OpenCount() == 0) Remove(file);
  return 0;
}

int32_t TFileList::RenameFile(const std::string& name, bool in_memory,
                              const std::string& new_name) {
  std::lock_guard guard(lock_);
  std::string list_name = ListName(name, in_memory);
  if (list_name.empty()) return NotFound();
  TAbstractFile* file = Find(list_name, in_memory);
  if (file == nullptr) {
    if (in_memory) return NotFound();
    return RenameDiskFile(list_name, new_name);
  }
  if (file->OpenCount() > 0) return InUse();
  std::string new_list_name = ListName(new_name, in_memory);
  if (new_list_name.empty()) return NotFound();
  TAbstractFile* existing = Find(new_list_name, in_memory);
  if (existing != nullptr && existing != file) return FailWithCode(EEXIST, VEVURA_OSUNKNOWN);
  return file->Rename(new_list_name);
}

int32_t TFileList::RenameDiskFile(const std::string& list_name, const std::string& new_name) {
  std::string target = TrimText(new_name);
  if (target.empty()) return NotFound();
  target = platform::ExpandFileName(target);
  // Another file that differs from the target only in letter case is the
  // target already; only this file itself may be renamed onto its own name.
  std::string existing = platform::FindExistingName(target);
  if (!existing.empty() && existing != list_name) {
    return FailWithCode(EEXIST, EngineCodeOfOsError(EEXIST));
  }
  TPhysicalFile file(list_name);
  return file.Rename(target);
}

int32_t TFileList::DeleteFile(const std::string& name, bool in_memory) {
  std::lock_guard guard(lock_);
  std::string list_name = ListName(name, in_memory);
  if (list_name.empty()) return NotFound();
  TAbstractFile* file = Find(list_name, in_memory);
  if (file == nullptr) {
    if (in_memory) return NotFound();
    TPhysicalFile disk_file(list_name);
    return disk_file.Delete();
  }
  if (file->OpenCount() > 0) return InUse();
  int32_t result = file->Delete();
  if (result == 0) Remove(file);
  return result;
}

bool TFileList::FileExists(const std::string& name, bool in_memory) {
  std::lock_guard guard(lock_);
  std::string list_name = ListName(name, in_memory);
  if (list_name.empty()) return false;
  if (Find(list_name, in_memory) != nullptr) return true;
  return !in_memory && platform::FileExists(list_name);
}

namespace {

std::mutex process_file_list_guard;                  // serialises creation and destruction
std::unique_ptr<TFileList> owned_file_list;          // owner of the process-wide list
std::atomic<TFileList*> process_file_list{nullptr};  // read without the guard

}  // namespace

void CreateFileList() {
  std::lock_guard guard(process_file_list_guard);
  if (owned_file_list != nullptr) return;
  owned_file_list = std::make_unique<TFileList>();
  process_file_list.store(owned_file_list.get(), std::memory_order_release);
}

void DestroyFileList() {
  std::lock_guard guard(process_file_list_guard);
  process_file_list.store(nullptr, std::memory_order_release);
  owned_file_list.reset();
}

TFileList* FileList() {
  return process_file_list.load(std::memory_order_acquire);
}

}  // namespace vevura
