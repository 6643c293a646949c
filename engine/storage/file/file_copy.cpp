// Whole-file copies of the file list: CopyOut and CopyIn, plain or with each
// chunk compressed, reporting their progress.

#include <cerrno>
#include <cmath>
#include <mutex>
#include <vector>

#include "engine/base/engine_error.h"
#include "engine/storage/common/byte_order.h"
#include "engine/storage/common/compression.h"
#include "engine/storage/file/file_list.h"
#include "platform/os_error.h"

namespace vevura {

namespace {

// Each compressed chunk is stored behind its length, so that a reader knows
// where one zlib stream ends and the next begins.
constexpr int64_t kChunkLengthSize = 4;
// Deflate adds a few bytes per stored block and a header and trailer; a
// chunk that claims more than this is damaged.
constexpr int64_t kMaxPackedChunkSize = kCopyChunkSize + 1024;

enum class TransferMode { Plain, Compress, Decompress };

class ProgressReporter {
 public:
  ProgressReporter(const TCopyProgress& progress, int64_t total)
      : progress_(progress), total_(total) {}

  //! Counts bytes read from the source and tells the callback when the
  //! percentage rose by the step since it last did.
  void Advance(int64_t bytes_read) {
    done_ += bytes_read;
    if (!progress_.Callback) return;
    int64_t percent =
        total_ > 0 ? std::llround(static_cast<double>(done_) * 100.0 / static_cast<double>(total_))
                   : 100;
    if (percent < last_reported_ + progress_.Step) return;
    last_reported_ = percent;
    progress_.Callback(progress_.UserValue, static_cast<int32_t>(percent));
  }

 private:
  const TCopyProgress& progress_;
  const int64_t total_;
  int64_t done_ = 0;
  int64_t last_reported_ = 0;
};

//! One side of a copy: a file object and the handle the copy uses on it.
struct CopyEnd {
  TAbstractFile& file;
  int32_t handle;
};

int32_t ReadFailed() {
  return -static_cast<int32_t>(VEVURA_READERR);
}
int32_t WriteFailed() {
  return -static_cast<int32_t>(VEVURA_WRITEERR);
}
int32_t BadPackedChunk() {
  return FailWithCode(EIO, VEVURA_UNCOMPRESS);
}

bool WriteAll(CopyEnd& to, const uint8_t* data, int64_t length) {
  return length == 0 || to.file.Write(to.handle, data, length) == length;
}

int32_t TransferPlain(CopyEnd& from, CopyEnd& to, ProgressReporter& progress) {
  std::vector<uint8_t> chunk(kCopyChunkSize);
  for (;;) {
    int64_t count = from.file.Read(from.handle, chunk.data(), kCopyChunkSize);
    if (count < 0) return ReadFailed();
    if (!WriteAll(to, chunk.data(), count)) return WriteFailed();
    progress.Advance(count);
    if (count < kCopyChunkSize) return 0;
  }
}

int32_t TransferCompressing(CopyEnd& from, CopyEnd& to, ProgressReporter& progress) {
  std::vector<uint8_t> chunk(kCopyChunkSize);
  for (;;) {
    int64_t count = from.file.Read(from.handle, chunk.data(), kCopyChunkSize);
    if (count < 0) return ReadFailed();
    if (count > 0) {
      std::vector<uint8_t> packed = CompressBuffer(chunk.data(), static_cast<size_t>(count));
      uint8_t length[kChunkLengthSize];
      PutUInt32(length, static_cast<uint32_t>(packed.size()));
      if (!WriteAll(to, length, kChunkLengthSize) ||
          !WriteAll(to, packed.data(), static_cast<int64_t>(packed.size()))) {
        return WriteFailed();
      }
    }
    progress.Advance(count);
    if (count < kCopyChunkSize) return 0;
  }
}

int32_t TransferDecompressing(CopyEnd& from, CopyEnd& to, ProgressReporter& progress) {
  std::vector<uint8_t> packed(kMaxPackedChunkSize);
  for (;;) {
    uint8_t length_bytes[kChunkLengthSize];
    int64_t count = from.file.Read(from.handle, length_bytes, kChunkLengthSize);
    if (count < 0) return ReadFailed();
    if (count == 0) return 0;
    if (count < kChunkLengthSize) return BadPackedChunk();
    int64_t length = GetUInt32(length_bytes);
    if (length == 0 || length > kMaxPackedChunkSize) return BadPackedChunk();
    count = from.file.Read(from.handle, packed.data(), length);
    if (count < 0) return ReadFailed();
    if (count < length) return BadPackedChunk();
    std::vector<uint8_t> plain = DecompressBuffer(packed.data(), static_cast<size_t>(length));
    if (static_cast<int64_t>(plain.size()) > kCopyChunkSize) return BadPackedChunk();
    if (!WriteAll(to, plain.data(), static_cast<int64_t>(plain.size()))) return WriteFailed();
    progress.Advance(kChunkLengthSize + length);
  }
}

//! Moves the whole of from into to, both from position 0.
int32_t Transfer(CopyEnd from, CopyEnd to, TransferMode mode, const TCopyProgress& progress) {
  int64_t total = from.file.GetSize();
  if (total < 0 || from.file.Seek(from.handle, soFromBeginning, 0) != 0) return ReadFailed();
  if (to.file.Seek(to.handle, soFromBeginning, 0) != 0) return WriteFailed();
  ProgressReporter reporter(progress, total);
  try {
    switch (mode) {
      case TransferMode::Plain:
        return TransferPlain(from, to, reporter);
      case TransferMode::Compress:
        return TransferCompressing(from, to, reporter);
      case TransferMode::Decompress:
        return TransferDecompressing(from, to, reporter);
    }
  } catch (const EVEVURAEngineError& error) {
    return -static_cast<int32_t>(error.ErrorCode);  // a compression failure
  }
  return ReadFailed();
}

}  // namespace

int32_t TFileList::CopyOut(TAbstractFile* file, int32_t handle_id, const TCopyProgress& progress,
                           bool compress, const std::string& destination,
                           bool destination_in_memory) {
  std::lock_guard guard(lock_);
  if (IndexOf(file) < 0 || file->FindHandle(handle_id) < 0) {
    return FailWithCode(EBADF, VEVURA_OSEBADF);
  }
  std::lock_guard source_guard(file->FileLock());
  TFileOpening target;
  int32_t target_handle = CreateFile(destination, destination_in_memory, false, &target);
  if (target_handle < 0) return target_handle;
  int32_t result = 0;
  try {
    result = Transfer(CopyEnd{*file, handle_id}, CopyEnd{*target.File, target_handle},
                      compress ? TransferMode::Compress : TransferMode::Plain, progress);
  } catch (...) {  // the progress callback gave up
    CloseFile(target.File, destination_in_memory, target_handle);
    DeleteFile(destination, destination_in_memory);
    throw;
  }
  CloseFile(target.File, destination_in_memory, target_handle);
  if (result < 0) {
    int os_error = platform::LastOsError();
    DeleteFile(destination, destination_in_memory);  // never leave half a copy behind
    platform::SetLastOsError(os_error);
  }
  return result;
}

int32_t TFileList::CopyIn(TAbstractFile* file, int32_t handle_id, const TCopyProgress& progress,
                          bool compress, const std::string& source, bool source_in_memory) {
  std::lock_guard guard(lock_);
  if (IndexOf(file) < 0 || file->FindHandle(handle_id) < 0) {
    return FailWithCode(EBADF, VEVURA_OSEBADF);
  }
  std::lock_guard target_guard(file->FileLock());
  TFileOpening origin;
  int32_t origin_handle = OpenFile(source, source_in_memory, false, true, &origin);
  if (origin_handle < 0) return origin_handle;
  int32_t result = 0;
  try {
    result = Transfer(CopyEnd{*origin.File, origin_handle}, CopyEnd{*file, handle_id},
                      compress ? TransferMode::Decompress : TransferMode::Plain, progress);
    // Whatever the file held beyond the copied data is not part of the copy.
    if (result == 0 && file->Write(handle_id, nullptr, 0) != 0) result = WriteFailed();
  } catch (...) {
    CloseFile(origin.File, source_in_memory, origin_handle);
    throw;
  }
  CloseFile(origin.File, source_in_memory, origin_handle);
  return result;
}

}  // namespace vevura
