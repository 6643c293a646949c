#pragma once
// TVEVURABlobStream: the stream over one BLOB field of a VEVURA dataset's
// current record (the record buffer of the dataset's state when the stream
// is made).
//
// Making the stream opens the BLOB through the cursor, unless the field
// already holds an open, changed BLOB of this record. Write modes need a
// field that is not read-only ("Field %s cannot be modified.") and a
// dataset in dsEdit or dsInsert ("Table is not in edit or insert mode.");
// bmWrite empties the BLOB first. A read open that finds the record changed
// by another program (VEVURA_KEYORRECDELETED) refreshes the cursor, reads
// the record again and tries once more. Without a record buffer every
// operation does nothing and answers 0.
//
// Destroying a stream that wrote marks the field changed and announces the
// change (a failure there goes to the application's error handler); one
// that only read releases its BLOB and leaves the record's field as it
// found it.

#include <cstdint>

#include "components/framework/dataset.h"
#include "engine/storage/fields/field_codec.h"

namespace vevura {

class TVEVURADataSet;

class TVEVURABlobStream : public TStream {
 public:
  TVEVURABlobStream(TVEVURADataSet& dataset, TField& field, TBlobStreamMode mode);
  ~TVEVURABlobStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TStreamOrigin origin) override;
  int64_t Size() override;
  void Truncate() override;

 private:
  std::span<uint8_t> Record() const;
  [[noreturn]] void RaiseFieldError(int code) const;

  TVEVURADataSet& dataset_;
  TField& field_;
  TBlobStreamMode mode_;
  uint8_t* buffer_ = nullptr;  //!< the record buffer, or nullptr: no record
  uint16_t field_no_ = 0;
  int64_t position_ = 0;
  bool opened_ = false;   //!< this stream opened the BLOB
  bool written_ = false;  //!< Write or Truncate ran
  //! The field's reference in the record before this stream opened it.
  TBlobReference found_reference_;
  bool found_with_data_ = false;
};

}  // namespace vevura
