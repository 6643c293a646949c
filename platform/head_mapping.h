#pragma once
// HeadMapping: a read-only shared mapping of the first bytes of a file, so
// that the few bytes a program checks before every operation (a header's
// change counter) are read without a system call.
//
// A shared mapping of a file on a local file system shows the page cache
// itself, so it follows every write to the file at once, whoever makes it.
// On network and user-space file systems it need not follow another
// machine's writes, so no mapping is made there (the caller reads instead).
//
// Another program may cut the file. Bytes past a new end inside the mapped
// page read as zeros; a cut below the page makes reading it raise SIGBUS. Read guards against it:
// while it copies, a SIGBUS handler (installed once per process) that sees a fault inside the range
// being copied jumps back into Read, which reports the failure; the mapping
// is then of no further use. Any other SIGBUS goes on to the handler
// installed before ours, or takes the default action.

#include <cstdint>
#include <memory>

namespace vevura::platform {

class HeadMapping {
 public:
  //! Maps the first length bytes of fd read-only and shared. nullptr, with
  //! errno ENOTSUP when the file system is not one known to be local, or
  //! ERANGE when the file is shorter than length; else mmap's errno.
  static std::unique_ptr<HeadMapping> Map(int fd, int64_t length);
  ~HeadMapping();
  HeadMapping(const HeadMapping&) = delete;
  HeadMapping& operator=(const HeadMapping&) = delete;

  //! Copies len bytes at offset into out. False when the range lies outside
  //! the mapping, or when the file was cut below it (the mapping is broken
  //! from then on).
  bool Read(int64_t offset, void* out, int64_t len);
  int64_t Length() const { return length_; }
  bool Broken() const { return broken_; }

 private:
  HeadMapping(const uint8_t* base, int64_t length) : base_(base), length_(length) {}

  const uint8_t* const base_;  //!< the mapped bytes
  const int64_t length_;       //!< bytes mapped
  bool broken_ = false;        //!< a read faulted: the file was cut
};

//! True when fd's file lies on a file system known to be local (disk and
//! memory file systems), false for network, user-space and unknown ones.
bool OnLocalFileSystem(int fd);

}  // namespace vevura::platform
