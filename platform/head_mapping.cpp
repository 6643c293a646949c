#include "platform/head_mapping.h"

#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <atomic>
#include <cerrno>
#include <mutex>

namespace vevura::platform {

namespace {

// File systems whose shared mappings show the one page cache that every
// read and write of the machine goes through. Anything else (NFS, SMB/CIFS,
// FUSE, cluster file systems, ones we do not know) is read with system calls.
constexpr uint32_t kLocalFileSystems[] = {
    0xEF53,      // ext2, ext3, ext4
    0x58465342,  // xfs
    0x9123683E,  // btrfs
    0xF2F52010,  // f2fs
    0x01021994,  // tmpfs
    0x858458F6,  // ramfs
    0x794C7630,  // overlayfs (maps the file beneath, as it reads it)
    0x4D44,      // vfat
    0x2011BAB0,  // exfat
};

// The read in progress on this thread: the faults it may take and where to
// go back to.
struct GuardedRead {
  const uint8_t* first;
  const uint8_t* end;
  sigjmp_buf resume;
};

thread_local GuardedRead* tls_guarded = nullptr;

struct sigaction previous_bus_action;
std::once_flag install_once;
std::atomic<bool> installed{false};

void OnBus(int sig, siginfo_t* info, void* context) {
  GuardedRead* guarded = tls_guarded;
  const auto* at = static_cast<const uint8_t*>(info->si_addr);
  if (guarded != nullptr && at >= guarded->first && at < guarded->end) {
    siglongjmp(guarded->resume, 1);
  }
  // Not a fault of a guarded read: as if we had never installed a handler.
  const struct sigaction& before = previous_bus_action;
  if ((before.sa_flags & SA_SIGINFO) != 0 && before.sa_sigaction != nullptr) {
    before.sa_sigaction(sig, info, context);
    return;
  }
  if ((before.sa_flags & SA_SIGINFO) == 0 && before.sa_handler != SIG_DFL &&
      before.sa_handler != SIG_IGN) {
    before.sa_handler(sig);
    return;
  }
  if (before.sa_handler == SIG_IGN && info->si_code <= 0) return;  // sent, and ignored
  // The default action: a fault repeats when the handler returns and then
  // ends the process; a signal that was sent is raised again.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(SIGBUS, &fallback, nullptr);
  if (info->si_code <= 0) raise(SIGBUS);
}

// SA_NODEFER keeps SIGBUS unblocked while the handler runs, so that jumping
// out of it leaves the signal mask as it was without sigsetjmp saving it (a
// system call on every read).
bool InstallBusHandler() {
  std::call_once(install_once, [] {
    struct sigaction action {};
    action.sa_sigaction = OnBus;
    action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    installed = sigaction(SIGBUS, &action, &previous_bus_action) == 0;
  });
  return installed;
}

// Copies len bytes while this thread's guard holds; false when the copy
// faulted. Volatile reads: the bytes must be read here, inside the guard,
// and again on every call.
bool GuardedCopy(const uint8_t* from, uint8_t* to, int64_t len) {
  GuardedRead guarded;
  guarded.first = from;
  guarded.end = from + len;
  if (sigsetjmp(guarded.resume, 0) != 0) {
    tls_guarded = nullptr;
    return false;
  }
  tls_guarded = &guarded;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  const volatile uint8_t* source = from;
  for (int64_t i = 0; i < len; ++i) to[i] = source[i];
  std::atomic_signal_fence(std::memory_order_seq_cst);
  tls_guarded = nullptr;
  return true;
}

}  // namespace

bool OnLocalFileSystem(int fd) {
  struct statfs fs {};
  if (::fstatfs(fd, &fs) != 0) return false;
  const auto type = static_cast<uint32_t>(fs.f_type);
  for (uint32_t local : kLocalFileSystems) {
    if (type == local) return true;
  }
  return false;
}

std::unique_ptr<HeadMapping> HeadMapping::Map(int fd, int64_t length) {
  if (length <= 0) {
    errno = EINVAL;
    return nullptr;
  }
  if (!OnLocalFileSystem(fd)) {
    errno = ENOTSUP;
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) return nullptr;
  if (st.st_size < length) {
    errno = ERANGE;
    return nullptr;
  }
  if (!InstallBusHandler()) {
    errno = ENOTSUP;
    return nullptr;
  }
  void* base = ::mmap(nullptr, static_cast<size_t>(length), PROT_READ, MAP_SHARED, fd, 0);
  if (base == MAP_FAILED) return nullptr;
  return std::unique_ptr<HeadMapping>(new HeadMapping(static_cast<const uint8_t*>(base), length));
}

HeadMapping::~HeadMapping() {
  ::munmap(const_cast<uint8_t*>(base_), static_cast<size_t>(length_));
}

bool HeadMapping::Read(int64_t offset, void* out, int64_t len) {
  if (broken_ || offset < 0 || len < 0 || offset > length_ - len) return false;
  if (!GuardedCopy(base_ + offset, static_cast<uint8_t*>(out), len)) broken_ = true;
  return !broken_;
}

}  // namespace vevura::platform
