#pragma once
// TIndexFileHost: what the index file needs from the table that owns it.
//
// The shared table object implements this; tests give a small stand-in. The
// index file calls it on the table's thread only.

#include <cstdint>
#include <string>

namespace vevura {

class TIndexFileHost {
 public:
  virtual ~TIndexFileHost() = default;

  //! The table's name, for error messages.
  virtual const std::string& TableName() const = 0;
  //! The table is encrypted: the header and pages are scrambled on disk.
  virtual bool Encrypted() const = 0;
  //! The session's index buffer size in bytes; each index caches this / 8192
  //! pages before it reuses them.
  virtual int32_t IndexBufferSize() const = 0;
  //! Dirty pages must wait for the table's own flush: under the transaction
  //! lock, and while a change of a shared table is in progress (so that a
  //! program killed in the middle of it has written none of its pages yet).
  //! A full cache then grows instead of writing dirty pages.
  virtual bool DefersPageWrites() const = 0;
  //! Notes that the index file's header or pages were written.
  virtual void SetHeaderWritten() = 0;
  //! Called before a page of the shared file is read from disk (never for
  //! the memory file of temporary indexes). Returns false when the check
  //! for changes found that another program changed the table (every cached
  //! page has then been dropped): the caller starts its descent again.
  virtual bool BeforePageRead() = 0;
  //! A name for the in-memory file that keeps the table's temporary indexes,
  //! unique among the files open in the process and on disk.
  virtual std::string TemporaryIndexFileName() = 0;
};

}  // namespace vevura
