#pragma once
// TVEVURADataSet: the dataset framework on an open engine cursor. Every
// record the application sees is a copy of an engine record in a record
// buffer; fields read and write that copy with the engine's encodings, and
// posting hands it to the cursor's editing operations.
//
// A record buffer holds, in order: the engine record (the cursor's record
// size), the calculated fields (a has-a-value byte and the data each), the
// record number (int32, -1 until asked for), the bookmark flag (one byte)
// and the bookmark (the cursor's bookmark size in the current order).
//
// Besides the current record the dataset keeps an old-values buffer (the
// record as it was when an edit began), key buffers for searches and ranges
// in the current index, and a block of records read ahead when
// BlockReadSize is set.
//
// Setting a field follows these rules: the state must be one that takes
// values ("Table is not in edit or insert mode."); in dsSetKey only fields
// of the current index take values ("Field %s is not in the current
// index."); a read-only field refuses ("Field %s cannot be modified."),
// as does every field in dsOldValue; OnValidate runs; the cursor's
// encodings store the value (strings cut to their size, trailing blanks
// removed, the field's character case applied, an empty text stored as
// null); the change is announced.
//
// TVEVURADBDataSet adds the database link: DatabaseName, SessionName and
// the 16 use flags. The first raised flag obtains the database from its
// session (OpenDatabase) and attaches the dataset to it; dropping the last
// detaches it and gives the database back (CloseDatabase). A database that
// disconnects closes the dataset first.
//
// Ownership: the dataset owns its engine cursor while open; the database is
// borrowed through the session.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "components/database_user.h"
#include "components/framework/dataset.h"
#include "components/framework/scope_exit.h"
#include "engine/core/data_cursor.h"

namespace vevura {

class TVEVURADatabase;
class TVEVURASession;

class TVEVURADataSet : public TDataSet {
 public:
  explicit TVEVURADataSet(TComponent* owner = nullptr);
  ~TVEVURADataSet() override;

  // ----- Published properties -----
  bool AutoDisplayLabels() const { return auto_display_labels_; }
  void SetAutoDisplayLabels(bool value);
  bool CopyOnAppend() const { return copy_on_append_; }
  void SetCopyOnAppend(bool value) { copy_on_append_ = value; }
  //! The filter text, its options and OnFilterRecord become the cursor's
  //! expression and callback filters; with Filtered they hide records.
  //! A text that does not compile raises VEVURA_INVALIDFILTER and leaves
  //! the filter as it was.
  void SetFilter(const std::string& text) override;
  void SetFiltered(bool filtered) override;
  void SetFilterOptions(TFilterOptions options) override;
  void SetBlockReadSize(int32_t size) override;

  // ----- Framework operations on the cursor -----
  bool CanModify() const override { return Active() && can_modify_; }
  bool BookmarkValid(const TBookmark& bookmark) override;
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) override;
  std::unique_ptr<TStream> CreateBlobStream(TField& field, TBlobStreamMode mode) override;
  bool Locate(const std::string& key_fields, const std::vector<TValue>& values,
              TLocateOptions options) override;
  std::vector<TValue> Lookup(const std::string& key_fields, const std::vector<TValue>& values,
                             const std::string& result_fields) override;

  // ----- Keys and ranges in the current index -----
  //! Enters dsSetKey with an empty search key.
  void SetKey();
  //! Enters dsSetKey with the last search key.
  void EditKey();
  //! Finds the record of the search key; false when there is none.
  bool GotoKey();
  //! Stands on the first record not below the search key.
  void GotoNearest();
  //! SetKey, the index fields from values in order, GotoKey.
  bool FindKey(const std::vector<TValue>& values);
  void FindNearest(const std::vector<TValue>& values);
  //! Enter dsSetKey on the low or high key of the range.
  void SetRangeStart();
  void SetRangeEnd();
  void EditRangeStart();
  void EditRangeEnd();
  //! Restricts the records to the keys between the range's low and high
  //! keys (both included; fields not set leave the key open on that side).
  void ApplyRange();
  void CancelRange();
  //! SetRangeStart and SetRangeEnd from values, then ApplyRange.
  void SetRange(const std::vector<TValue>& low, const std::vector<TValue>& high);
  //! Fields of the current index, in index order.
  int IndexFieldCount() const { return index_field_count_; }
  //! "Field index out of range." beyond IndexFieldCount; "Cannot access
  //! index field %s." when the field has no field object.
  TField* IndexField(int index) const;

  // ----- State -----
  //! The engine cursor while open.
  TDataCursor* Handle() const { return cursor_.get(); }
  const std::string& TableNameForMessages() const { return message_table_; }

 protected:
  //! Makes and opens the engine cursor (the table component's part).
  virtual std::unique_ptr<TDataCursor> CreateHandle() = 0;
  //! Frees the cursor (the table component's part).
  virtual void DestroyHandle();
  //! Fills FieldDefs from the open cursor.
  void ReadFieldDefs(TDataCursor& cursor);
  //! Reloads the current index's key fields and lays the buffers out again
  //! (after the cursor's index changed), then re-reads the current record.
  void IndexChanged();
  //! Copies the master values into the new record's leading index fields
  //! (table component); nothing here.
  virtual void CopyMasterValues() {}
  //! The dataset writes values of its own (keys, master values) in state
  //! dsInternalCalc into buffer: no validation, no events.
  void WriteInternal(uint8_t* buffer, TField& field, const TValue& value);
  //! The key record of an index search from values (first values.size()
  //! index fields); the number of fields set.
  int BuildKey(const std::vector<TValue>& values, std::vector<uint8_t>& key);
  size_t RecordSize() const { return record_size_; }
  //! Sets the cursor's range from low and high values of the leading index
  //! fields, without reading.
  void SetKeyRange(const std::vector<TValue>& low, const std::vector<TValue>& high);

  // ----- TDataSet -----
  size_t RecordBufferSize() const override;
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() const override { return cursor_ != nullptr; }
  TGetResult GetRecord(uint8_t* buffer, TGetMode mode, bool do_check) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalSetToRecord(const uint8_t* buffer) override;
  bool InternalGotoBookmark(const TBookmark& bookmark) override;
  void InternalInitRecord(uint8_t* buffer, std::span<const uint8_t> previous) override;
  void InternalEdit(uint8_t* buffer) override;
  void InternalPost(uint8_t* buffer) override;
  void InternalCancel(uint8_t* buffer) override;
  void InternalDelete(uint8_t* buffer) override;
  void InternalRefresh() override;
  int64_t GetRecordCount() override;
  int64_t GetRecNo() override;
  void SetRecNoTo(int64_t n) override;
  TBookmark GetBookmarkData(const uint8_t* buffer) const override;
  TBookmarkFlag GetBookmarkFlag(const uint8_t* buffer) const override;
  void SetBookmarkFlag(uint8_t* buffer, TBookmarkFlag flag) override;
  bool ReadFieldData(const TField& field, const uint8_t* buffer,
                     std::span<uint8_t> out) const override;
  void WriteFieldData(TField& field, const uint8_t* data) override;
  void InitFieldDefs() override;
  uint8_t* OldValuesBuffer() const override;
  uint8_t* KeyBuffer() const override;
  void ClearCalcFields(uint8_t* buffer) override;
  //! The searched values are put in the fields' own form (cut, trimmed,
  //! cased) and compared as text, the last one as a prefix with
  //! loPartialKey.
  bool RecordMatches(uint8_t* buffer, const std::vector<TField*>& fields,
                     const std::vector<TValue>& values, TLocateOptions options) override;
  void PostKey() override;
  void CancelKey() override;
  void DoOnNewRecord() override;
  //! Activates the filters for the search when Filtered is false.
  bool FindRecord(bool restart, bool forward) override;

 private:
  friend class TVEVURABlobStream;
  //! The key buffers: a search key, the range's low and high keys, and the
  //! range in force.
  enum TKeyIndex : uint8_t { kiLookup, kiRangeStart, kiRangeEnd, kiCount };
  struct TKeyBuffer {
    bool Modified = false;      //!< a field was set since SetKey/EditKey
    int32_t FieldCount = 0;     //!< leading index fields that were set
    std::vector<uint8_t> Data;  //!< an engine record holding the key fields
  };

  void OpenRecordSide();
  void LoadIndexKeyInfo();
  void LayOutBuffers();
  void ApplyDisplayLabels();
  //! Makes the cursor's filters from the filter text (when not empty) and
  //! OnFilterRecord, active with Filtered; drops filters made before.
  void MakeEngineFilters(const std::string& text, TFilterOptions options);
  //! Activates or deactivates both filters.
  void ActivateEngineFilters(bool active);
  //! OnFilterRecord for an engine record.
  bool CallbackAccepts(std::span<const uint8_t> record);
  //! One read from the cursor (through the block when block reading).
  int ReadFromCursor(uint8_t* buffer, TGetMode mode);
  int ReadFromBlock(uint8_t* buffer);
  void DropBlock();
  //! Record number, bookmark flag and bookmark of a freshly read record.
  void FillTail(uint8_t* buffer) const;
  std::span<uint8_t> EngineRecord(uint8_t* buffer) const { return {buffer, record_size_}; }
  std::span<const uint8_t> EngineRecord(const uint8_t* buffer) const {
    return {buffer, record_size_};
  }
  const TFieldDescriptor* DescriptorOf(const TField& field) const;
  void WriteEngineField(uint8_t* buffer, const TField& field, const uint8_t* data);
  void BeginKeyEdit(TKeyIndex key, bool clear);
  void SetCursorRange();
  bool FieldInIndex(int32_t field_no) const;
  //! The leading index fields are exactly fields (case rules permitting).
  bool KeysLeadIndex(const std::vector<TField*>& fields, TLocateOptions options,
                     const TIndexDescriptor& index) const;
  //! Searches cursor on its index for values of fields; the record lands
  //! in buffer.
  bool FindOnIndex(TDataCursor& cursor, const std::vector<TField*>& fields,
                   const std::vector<TValue>& values, TLocateOptions options, uint8_t* buffer);
  //! FindOnIndex, then on through the following matching records (they are
  //! adjacent in the index) until accept takes one.
  bool FindAcceptedOnIndex(TDataCursor& cursor, const std::vector<TField*>& fields,
                           const std::vector<TValue>& values, TLocateOptions options,
                           uint8_t* buffer, const std::function<bool()>& accept);
  //! Stands the main cursor on the record in buffer, record number
  //! record_number (found by another cursor).
  bool StandOnRecordOf(const uint8_t* buffer, int32_t record_number);
  TDataCursor* LookupCursorFor(const std::vector<TField*>& fields, TLocateOptions options);
  void ResetBlobFlags();
  //! A BLOB stream wrote the field.
  void AnnounceBlobChange(TField& field) { FieldChanged(field); }

  std::unique_ptr<TDataCursor> cursor_;
  std::unique_ptr<TDataCursor> lookup_cursor_;  //!< for Locate/Lookup on another index
  TFilter* expression_filter_ = nullptr;        //!< the filter text's, on cursor_
  TFilter* callback_filter_ = nullptr;          //!< OnFilterRecord's, on cursor_
  std::string lookup_index_;                    //!< the lookup cursor's index
  size_t record_size_ = 0;
  size_t bookmark_size_ = 0;
  size_t calc_offset_ = 0;      //!< start of the calculated fields in a buffer
  size_t recno_offset_ = 0;     //!< start of the record number
  size_t flag_offset_ = 0;      //!< the bookmark flag
  size_t bookmark_offset_ = 0;  //!< the bookmark
  bool can_modify_ = false;
  uint32_t lcid_ = 0;
  std::string message_table_;
  // Index key information of the current index.
  int index_field_count_ = 0;
  std::array<uint16_t, 16> index_fields_{};
  bool index_case_insensitive_ = false;
  // Further buffers.
  mutable std::vector<uint8_t> old_values_;
  std::array<TKeyBuffer, kiCount> keys_;
  TKeyBuffer saved_key_;  //!< the key as it was when dsSetKey began
  TKeyIndex editing_key_ = kiLookup;
  bool range_applied_ = false;
  std::vector<uint8_t> block_;  //!< records read ahead, whole buffers
  size_t block_count_ = 0;      //!< records in block_
  size_t block_next_ = 0;       //!< next record of block_ to hand out
  bool block_ended_ = false;    //!< the cursor reached the end while filling
  bool auto_display_labels_ = false;
  bool copy_on_append_ = false;
};

class TVEVURADBDataSet : public TVEVURADataSet, public TSessionBound, public TDatabaseUser {
 public:
  explicit TVEVURADBDataSet(TComponent* owner = nullptr);
  ~TVEVURADBDataSet() override;

  std::string EngineVersion() const;
  void SetEngineVersion(const std::string&) {}
  const std::string& DatabaseName() const { return database_name_; }
  //! "\" becomes "/"; only while closed.
  void SetDatabaseName(const std::string& name);
  const std::string& SessionName() const override { return session_name_; }
  //! Only while closed.
  void SetSessionName(const std::string& name) override;

  //! The database while a use flag is raised, else nullptr.
  TVEVURADatabase* Database() const { return database_; }
  //! The session SessionName names ("Session name %s is not valid." when
  //! none does).
  TVEVURASession& DBSession() const;
  //! Raises or drops use flag n (0 to 15); see above.
  void SetDBFlag(int n, bool value);
  bool DBFlag(int n) const { return (flags_ & (1u << n)) != 0; }

  //! TDatabaseUser: the database is disconnecting.
  void CloseForDatabase() override;

 protected:
  //! Runs op with use flag n raised, dropping it afterwards (also on
  //! failure) unless it was raised already.
  template <typename Op>
  auto WithDBFlag(int n, Op op) -> decltype(op());
  //! The open data directory of the database (a flag must be raised).
  TDataDirectory& DataDirectory() const;

 private:
  //! Drops every flag at once, giving the database back.
  void DropAllFlags();
  //! Detaches from the database and gives it back to its session.
  void ReleaseDatabase();

  std::string database_name_;
  std::string session_name_;
  TVEVURADatabase* database_ = nullptr;
  uint16_t flags_ = 0;
};

template <typename Op>
auto TVEVURADBDataSet::WithDBFlag(int n, Op op) -> decltype(op()) {
  const bool was = DBFlag(n);
  SetDBFlag(n, true);
  TScopeExit drop([this, n, was] {
    if (was) return;
    try {
      SetDBFlag(n, false);
    } catch (...) {
    }
  });
  return op();
}

}  // namespace vevura
