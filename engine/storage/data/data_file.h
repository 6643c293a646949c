#pragma once
// TDataFile: the data file of an open table, as far as its header and field
// descriptors go.
//
// The data file begins with the 127-byte header (data_header.h) and the
// table's 768-byte field descriptors (field_descriptor.h); the records follow
// them. This class keeps the header and the descriptors in memory, reads them
// at open, writes them when asked, re-reads the header when another user's
// change counter moved, and verifies them. The record area is handled by the
// record storage the data file owns (Records(), record_storage.h): its cache
// is sized at open and dropped at close, without writing (the shared table
// flushes before it closes).
//
// Header-changed flag: set by every change of the in-memory header (counters,
// MarkHeaderChanged), written as byte 111 by WriteHeader, cleared by a write
// or a read. Descriptors change only at creation.
//
// Encrypted tables keep their descriptors scrambled on disk as one run; in
// memory they are always plain.
//
// Errors name the table and its database (SetTableName, SetDatabaseName);
// file-layer errors name the file.
//
// Thread-safety: used by one thread at a time (the open table's); every
// seek-and-transfer holds the file's access lock.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/storage/data/data_header.h"
#include "engine/storage/data/record_storage.h"
#include "engine/storage/fields/field_descriptor.h"
#include "engine/storage/file/file_handler.h"

namespace vevura {

class TDataFile : public TFileHandler {
 public:
  TDataFile();
  ~TDataFile() override;

  //! Opens the file unless open: reads the header (VEVURA_OLDVERSION unless
  //! version 5; VEVURA_HEADERCORRUPT for more than 1024 fields or a record
  //! size below 9) and the descriptors, then OnOpened. Any failure closes the
  //! file again and passes the error on.
  void Open() override;
  //! OnClosing, then releases the file; the header and descriptors stay
  //! readable in memory.
  void Close() override;

  //! Makes the header of a new table from params and the descriptors (already
  //! validated and laid out, field_validation.h), marks header and
  //! descriptors changed, creates the file empty and sizes the record cache.
  //! Header and descriptors reach the file at the next WriteHeader and
  //! WriteFieldDescriptors. VEVURA_FLDLIMIT, VEVURA_BLOBLIMIT and
  //! VEVURA_RECTOOBIG as MakeNewDataHeader.
  void CreateHeader(const TNewTableHeader& params, const std::vector<TFieldDescriptor>& fields);

  //! Reads the 127 header bytes into memory; header-changed := 0.
  //! VEVURA_OLDVERSION for a version other than 5, VEVURA_HEADERCORRUPT for
  //! record counts the file's size cannot hold (SlotCountsFit); the
  //! in-memory header stays as it was then.
  void ReadHeader();
  //! Reads the 127 header bytes; when their change counter differs from the
  //! in-memory one they replace the in-memory header (with their byte 111 as
  //! the header-changed flag) and true is returned. Raises as ReadHeader.
  bool ReloadHeaderIfChanged();
  //! Unless forced, only when the header changed: change counter + 1, the
  //! marks at 116 and 120, last update := now, writes the 127 bytes, notes
  //! the write (SetHeaderWrittenHook); header-changed := 0. True if written.
  bool WriteHeader(bool force);
  //! For deferred writes: change counter + 1, header-changed := 1, and the
  //! table's header-written flag noted.
  void MarkHeaderChanged();
  //! Reads field count × 768 bytes at offset 127 (unscrambled when
  //! encrypted) into the descriptors; descriptors-changed := 0.
  void ReadFieldDescriptors();
  //! Only when the descriptors changed: writes them at offset 127 (scrambled
  //! when encrypted), flushing when force flush is on. True if written.
  bool WriteFieldDescriptors();

  //! VEVURA_OLDVERSION unless the version byte is 5.
  void CheckVersion() const;
  //! Verifies header and descriptors against each other and the file size
  //! (data_header_verify.h): VEVURA_OLDVERSION, VEVURA_CANNOTLOADLDDRV or
  //! VEVURA_HEADERCORRUPT naming the table.
  void VerifyHeader();

  //! Copy of the descriptor at position (1 to FieldCount()).
  //! REQUIRES: a valid position.
  TFieldDescriptor GetFieldDescriptor(int position) const;
  //! Copy of the descriptor with that field number, its position recorded in
  //! the copy (CopyPosition); false when there is none.
  bool FindFieldByNumber(uint16_t field_number, TFieldDescriptor* field) const;
  //! The same by name, without regard to case under the user's locale.
  bool FindFieldByName(const std::string& name, TFieldDescriptor* field) const;
  //! Position of the named field, 0 when there is none.
  int FieldPosition(const std::string& name) const;
  //! The descriptors in field order.
  const std::vector<TFieldDescriptor>& Fields() const { return fields_; }

  //! The password in plain text; empty when the table is not encrypted.
  std::string GetPassword() const { return header_.PlainPassword(); }
  //! Last auto-increment value + 1 (2147483647 is followed by 1), stored and
  //! returned; header changed.
  int32_t NextAutoIncValue();
  //! Stores the value when it differs; header changed.
  void SetLastAutoIncValue(int32_t value);
  //! Last BLOB identifier + 1 (2147483647 is followed by 1), stored and
  //! returned; header changed.
  int32_t NextBlobId();
  //! The BLOB block size, 512 when the header says 0.
  uint32_t GetBlobBlockSize() const { return header_.EffectiveBlobBlockSize(); }

  int32_t ChangeCounter() const { return header_.ChangeCounter; }
  uint16_t FieldCount() const { return header_.FieldCount; }
  int16_t BlobFieldCount() const { return header_.BlobFieldCount; }
  uint16_t RecordSize() const { return header_.RecordSize; }
  int32_t LastAutoIncValue() const { return header_.LastAutoIncValue; }
  uint16_t LanguageId() const { return header_.LanguageId; }
  uint16_t SortId() const { return header_.SortId; }
  bool Encrypted() const { return header_.Encrypted != 0; }
  //! The in-memory header.
  const TDataHeader& Header() const { return header_; }
  //! The in-memory header for the record storage's counters; a caller that
  //! changes it calls SetHeaderChanged.
  TDataHeader& MutableHeader() { return header_; }
  //! The whole header as its 127 bytes, for table information.
  std::array<uint8_t, kDataHeaderSize> HeaderBytes() const;
  bool HeaderChanged() const { return header_.HeaderChanged != 0; }
  void SetHeaderChanged() { header_.HeaderChanged = 1; }
  bool DescriptorsChanged() const { return descriptors_changed_; }
  //! Opened for a repair, the header counted slots the file does not hold
  //! whole: the counts in memory are those the file holds.
  bool CountsClamped() const { return counts_clamped_; }

  //! Table and database named by this file's errors.
  void SetTableName(const std::string& name) { table_name_ = name; }
  void SetDatabaseName(const std::string& name) { database_name_ = name; }
  const std::string& TableName() const { return table_name_; }
  //! Flush the file after writing descriptors (the session's setting).
  void SetForceFlush(bool force) { force_flush_ = force; }
  //! Called whenever a header write is made or deferred, so that the table
  //! notes that its header was written.
  void SetHeaderWrittenHook(std::function<void()> hook) { header_written_ = std::move(hook); }

  //! Raises code naming the table and its database.
  [[noreturn]] void RaiseTableFault(uint16_t code) const;

  //! The records and their cache.
  TRecordStorage& Records() { return records_; }
  const TRecordStorage& Records() const { return records_; }

 protected:
  //! After the header and descriptors are read at open: sizes the record
  //! cache. A failure closes the file again.
  virtual void OnOpened();
  //! Before the file is released at close: drops the record buffers. Must
  //! not throw.
  virtual void OnClosing();

 private:
  //! The header as just read at offset 0.
  TDataHeader ReadHeaderBytes();
  void NoteHeaderWritten() {
    if (header_written_) header_written_();
  }

  //! The data file as its record storage sees it.
  class TRecordHost final : public TRecordFileHost {
   public:
    explicit TRecordHost(TDataFile& file) : file_(file) {}
    TFileHandler& RecordFile() override { return file_; }
    TDataHeader& RecordHeader() override { return file_.header_; }
    void SetHeaderChanged() override { file_.SetHeaderChanged(); }
    int32_t NextAutoIncValue() override { return file_.NextAutoIncValue(); }
    void RaiseRecordError(uint16_t code) const override { file_.RaiseTableFault(code); }

   private:
    TDataFile& file_;
  };

  TDataHeader header_;                    //!< the in-memory header
  std::vector<TFieldDescriptor> fields_;  //!< descriptors, position i + 1 at index i
  bool descriptors_changed_ = false;      //!< descriptors differ from the file's
  bool counts_clamped_ = false;           //!< see CountsClamped
  bool force_flush_ = false;              //!< flush after writing descriptors
  std::string table_name_;                //!< names the table in errors
  std::string database_name_;             //!< names the database in errors
  std::function<void()> header_written_;  //!< the table's header-written notice
  TRecordHost record_host_{*this};        //!< what the record storage sees of us
  TRecordStorage records_{record_host_};  //!< the records and their cache
};

//! Reads the header of a table that is not open through a temporary shared
//! handler on its data file. A header whose version is not 5 is reported with
//! every byte but the version zero. File-layer errors (VEVURA_OSENOENT,
//! VEVURA_READERR for a file shorter than a header) pass on. The caller
//! checks the password of an encrypted table (scramble.h).
TDataHeader ReadClosedTableHeader(const std::string& file_name, bool in_memory);

}  // namespace vevura
