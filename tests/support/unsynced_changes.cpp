#include "tests/support/unsynced_changes.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace vevura::platform {

void UnsyncedChanges::Begin(int64_t disk_size) {
  if (held_) return;
  held_ = true;
  size_ = disk_size;
  cut_ = std::numeric_limits<int64_t>::max();
}

void UnsyncedChanges::Clear() {
  held_ = false;
  size_ = 0;
  cut_ = std::numeric_limits<int64_t>::max();
  extents_.clear();
}

void UnsyncedChanges::Clip(int64_t size) {
  auto it = extents_.lower_bound(size);
  extents_.erase(it, extents_.end());
  if (extents_.empty()) return;
  auto last = std::prev(extents_.end());
  int64_t end = last->first + static_cast<int64_t>(last->second.size());
  if (end > size) last->second.resize(static_cast<size_t>(size - last->first));
}

void UnsyncedChanges::Write(int64_t pos, const void* buf, int64_t len) {
  if (len <= 0) return;
  const int64_t end = pos + len;
  // Keep what lies beyond the new bytes, then cut everything from pos on.
  std::map<int64_t, std::string> tail;
  for (auto it = extents_.lower_bound(pos); it != extents_.end() && it->first < end; ++it) {
    int64_t it_end = it->first + static_cast<int64_t>(it->second.size());
    if (it_end > end) tail[end] = it->second.substr(static_cast<size_t>(end - it->first));
  }
  if (auto it = extents_.lower_bound(pos); it != extents_.begin()) {
    auto prev = std::prev(it);
    int64_t prev_end = prev->first + static_cast<int64_t>(prev->second.size());
    if (prev_end > end) tail[end] = prev->second.substr(static_cast<size_t>(end - prev->first));
    if (prev_end > pos) prev->second.resize(static_cast<size_t>(pos - prev->first));
  }
  extents_.erase(extents_.lower_bound(pos), extents_.lower_bound(end));
  extents_[pos].assign(static_cast<const char*>(buf), static_cast<size_t>(len));
  extents_.merge(tail);
  size_ = std::max(size_, end);
}

void UnsyncedChanges::Truncate(int64_t size) {
  Clip(size);
  cut_ = std::min(cut_, size);
  size_ = size;
}

int64_t UnsyncedChanges::Read(OsFile& disk, int64_t pos, void* buf, int64_t len) const {
  if (pos >= size_ || len <= 0) return 0;
  const int64_t n = std::min(len, size_ - pos);
  char* out = static_cast<char*>(buf);
  std::memset(out, 0, static_cast<size_t>(n));
  const int64_t disk_size = disk.Size();
  if (disk_size < 0) return -1;
  const int64_t disk_end = std::min(cut_, disk_size);
  if (pos < disk_end && disk.ReadAt(pos, out, std::min(n, disk_end - pos)) < 0) return -1;
  // Overlay every held extent that meets [pos, pos + n).
  auto it = extents_.upper_bound(pos);
  if (it != extents_.begin()) --it;
  for (; it != extents_.end() && it->first < pos + n; ++it) {
    int64_t from = std::max(pos, it->first);
    int64_t to = std::min(pos + n, it->first + static_cast<int64_t>(it->second.size()));
    if (from < to) {
      std::memcpy(out + (from - pos), it->second.data() + (from - it->first),
                  static_cast<size_t>(to - from));
    }
  }
  return n;
}

bool UnsyncedChanges::Apply(OsFile& disk) const {
  if (cut_ != std::numeric_limits<int64_t>::max() && !disk.Truncate(cut_)) return false;
  for (const auto& [pos, bytes] : extents_) {
    int64_t len = static_cast<int64_t>(bytes.size());
    if (disk.WriteAt(pos, bytes.data(), len) != len) return false;
  }
  return disk.Size() == size_ || disk.Truncate(size_);
}

}  // namespace vevura::platform
