#pragma once
// TDataSet: the dataset framework. A dataset is a sequence of records seen
// one at a time through a record buffer, with a state (dsInactive, dsBrowse,
// dsEdit, dsInsert, ...), field objects over the current record, bookmarks,
// navigation, editing, find and locate, data sources, and events.
//
// The framework keeps one visible record buffer: the current record. A
// derived dataset supplies the records (GetRecord and the Internal...
// operations) and the field data of a buffer (ReadFieldData and
// WriteFieldData); the framework runs the states, the events and the
// bookkeeping around them, the same way for every dataset.
//
// Positions: Bof is true after First and after a Prior that found nothing
// before the current record; Eof after Last and after a Next that found
// nothing after it. A failed step leaves the current record as it was. An
// empty dataset has Bof and Eof both true.
//
// Editing: Edit, Append and Insert enter dsEdit or dsInsert; Post stores
// the record and Cancel gives it up, both returning to dsBrowse. A failed
// post keeps the dataset in its edit state with the record as it was
// edited; OnPostError may ask for a retry or an abort instead.
//
// Events are std::function members, run when set. An exception from an
// event stops the operation it is part of, as if the operation had failed.
//
// Ownership: a dataset owns its fields and its record buffers. Data sources
// that name it and the fields' owners' links are not owned; each side
// forgets the other when destroyed.
//
// Thread-safety: a dataset is used by one thread at a time.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "components/framework/component.h"
#include "components/framework/db_types.h"
#include "components/framework/definitions.h"
#include "components/framework/field.h"
#include "components/framework/scope_exit.h"
#include "engine/base/engine_error.h"

namespace vevura {

class TDataSource;
class TStream;

//! What a dataset tells its data sources.
enum TDataEvent : uint8_t {
  deFieldChange,      //!< a field of the current record changed (info: the field)
  deRecordChange,     //!< the current record changed as a whole
  deDataSetChange,    //!< the records changed (open, refresh, post, delete)
  deDataSetScroll,    //!< the current record is another one
  deLayoutChange,     //!< the fields changed
  deUpdateRecord,     //!< the record is about to be posted
  deUpdateState,      //!< the state changed
  deCheckBrowseMode,  //!< the dataset is about to leave its edit state
};

enum TBlobStreamMode : uint8_t { bmRead, bmWrite, bmReadWrite };
enum TStreamOrigin : uint8_t { soBeginning, soCurrent, soEnd };

//! A stream of bytes (BLOB streams of datasets).
class TStream {
 public:
  virtual ~TStream() = default;
  //! Up to count bytes into buffer; the bytes read.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  //! count bytes from buffer; the bytes written.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  //! The new position.
  virtual int64_t Seek(int64_t offset, TStreamOrigin origin) = 0;
  virtual int64_t Size() = 0;
  //! Cuts the stream at the current position.
  virtual void Truncate() = 0;
  int64_t Position() { return Seek(0, soCurrent); }
};

class TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* owner = nullptr);
  //! Closes the dataset when open (errors are swallowed) and detaches its
  //! data sources.
  ~TDataSet() override;

  // ----- Opening and state -----
  bool Active() const { return state_ != dsInactive; }
  void SetActive(bool active);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const { return state_; }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  //! Open with no current record.
  bool IsEmpty() const { return Active() && !has_record_; }
  //! A field was set since Edit, Append or Insert.
  bool Modified() const { return modified_; }
  //! The dataset accepts changes.
  virtual bool CanModify() const { return Active(); }
  //! Posts an edit in progress (Post), or does nothing in dsBrowse.
  void CheckBrowseMode();
  //! "Cannot perform this operation on a closed dataset" when not open.
  void CheckActive() const;
  //! "Cannot perform this operation on an open dataset" when open.
  void CheckInactive() const;

  // ----- Navigation -----
  void First();
  void Last();
  void Next();
  void Prior();
  //! Moves distance records forward (negative: back); the records moved.
  int64_t MoveBy(int64_t distance);
  int64_t RecordCount();
  //! 1-based place of the current record, 0 when there is none.
  int64_t RecNo();
  void SetRecNo(int64_t n);
  //! Re-reads the records from their source, staying on the current one.
  void Refresh();

  // ----- Editing -----
  void Edit();
  //! A new record after the last one.
  void Append();
  //! A new record before the current one.
  void Insert();
  void Post();
  void Cancel();
  void Delete();
  //! Append, set the fields in order from values (null leaves one alone),
  //! Post.
  void AppendRecord(const std::vector<TValue>& values);

  // ----- Bookmarks -----
  //! The current record's bookmark; empty when there is none.
  TBookmark GetBookmark();
  //! Makes the bookmarked record current; "Record not found" when it is gone.
  void GotoBookmark(const TBookmark& bookmark);
  virtual bool BookmarkValid(const TBookmark& bookmark) = 0;
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b) = 0;

  // ----- Fields -----
  TFields& Fields() { return fields_; }
  const TFields& Fields() const { return fields_; }
  //! The field named name (ignoring case); "Field '%s' not found", prefixed
  //! with the dataset's name, when there is none.
  TField* FieldByName(const std::string& name) const;
  TField* FindField(const std::string& name) const { return fields_.Find(name); }
  //! The field of column field_no; "Field index out of range." when none.
  TField* FieldByNumber(int32_t field_no) const;
  //! The fields of a ";"-separated list, in its order; "Field '%s' not
  //! found" for a missing name.
  std::vector<TField*> GetFieldList(const std::string& names) const;
  TFieldDefs& FieldDefs() { return field_defs_; }
  //! A persistent field (kept while closed); calculated ones get their
  //! values from OnCalcFields.
  TField& AddField(TFieldType type, const std::string& name, int32_t size = 0,
                   TFieldKind kind = fkData);
  bool AutoCalcFields() const { return auto_calc_fields_; }
  void SetAutoCalcFields(bool value) { auto_calc_fields_ = value; }

  // ----- Find and locate -----
  //! Makes the first record whose key fields (";"-separated) equal values
  //! current; false, staying where it was, when there is none.
  virtual bool Locate(const std::string& key_fields, const std::vector<TValue>& values,
                      TLocateOptions options);
  //! The result fields' values (one per ";"-separated name) of the first
  //! record matching as Locate does, without moving; empty when none.
  virtual std::vector<TValue> Lookup(const std::string& key_fields,
                                     const std::vector<TValue>& values,
                                     const std::string& result_fields);
  //! The first, last, next or prior record the filter accepts, also while
  //! Filtered is false; Found tells the result.
  bool FindFirst();
  bool FindLast();
  bool FindNext();
  bool FindPrior();
  bool Found() const { return found_; }

  // ----- Filters -----
  const std::string& Filter() const { return filter_text_; }
  virtual void SetFilter(const std::string& text);
  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool filtered);
  TFilterOptions FilterOptions() const { return filter_options_; }
  virtual void SetFilterOptions(TFilterOptions options);

  // ----- Block reading -----
  //! Records read at once by a derived dataset; below 1: off.
  int32_t BlockReadSize() const { return block_read_size_; }
  virtual void SetBlockReadSize(int32_t size);

  // ----- BLOBs -----
  //! A stream over the BLOB field of the current record.
  virtual std::unique_ptr<TStream> CreateBlobStream(TField& field, TBlobStreamMode mode) = 0;

  // ----- Data sources -----
  //! Data-source notifications stop until the matching EnableControls.
  void DisableControls() { ++disable_count_; }
  //! Announces deDataSetChange once the last DisableControls is matched.
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ > 0; }
  //! The data source this dataset takes its master records from, if any.
  virtual TDataSource* GetDataSource() const { return nullptr; }
  //! Announces event to the data sources.
  void DataEvent(TDataEvent event, TField* info = nullptr);

  // ----- Events -----
  using TDataSetNotify = std::function<void(TDataSet& dataset)>;
  using TDataSetErrorEvent =
      std::function<void(TDataSet& dataset, EDatabaseError& error, TDataAction& action)>;
  TDataSetNotify BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotify BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotify BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotify BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotify BeforeRefresh, AfterRefresh, OnCalcFields, OnNewRecord;
  TDataSetErrorEvent OnEditError, OnPostError, OnDeleteError;
  //! Decides whether a record is visible while Filtered is true.
  std::function<void(TDataSet& dataset, bool& Accept)> OnFilterRecord;

  // ----- Used by fields -----
  //! The native data of field in the buffer of the current state into out;
  //! false when null or when the state has no buffer.
  bool GetFieldData(const TField& field, std::span<uint8_t> out) const;
  //! Stores native data (nullptr: null) for field in the buffer of the
  //! current state, after OnValidate.
  void SetFieldData(TField& field, const uint8_t* data);
  //! Runs field's OnValidate with data as its value (state dsNewValue).
  void ValidateField(TField& field, const uint8_t* data);
  //! The record buffer of the current state, or nullptr.
  uint8_t* ActiveBuffer() const;

 protected:
  // ----- What a derived dataset supplies -----
  //! Bytes of a record buffer.
  virtual size_t RecordBufferSize() const = 0;
  //! Opens the source, fills FieldDefs, makes the fields (CreateFields) and
  //! lays out the buffers (RecordBufferSize).
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual bool IsCursorOpen() const = 0;
  //! Reads the current, next or prior record into buffer.
  virtual TGetResult GetRecord(uint8_t* buffer, TGetMode mode, bool do_check) = 0;
  //! Positions before the first or after the last record.
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  //! Makes the record in buffer the source's current record.
  virtual void InternalSetToRecord(const uint8_t* buffer) = 0;
  //! Makes the bookmarked record current; false when it is gone.
  virtual bool InternalGotoBookmark(const TBookmark& bookmark) = 0;
  //! Starts a new record in buffer; previous is the record that was
  //! current (empty when none).
  virtual void InternalInitRecord(uint8_t* buffer, std::span<const uint8_t> previous) = 0;
  //! Reads and locks the current record for an edit.
  virtual void InternalEdit(uint8_t* buffer) = 0;
  //! Stores the record in buffer (state dsEdit or dsInsert).
  virtual void InternalPost(uint8_t* buffer) = 0;
  virtual void InternalCancel(uint8_t* buffer) = 0;
  virtual void InternalDelete(uint8_t* buffer) = 0;
  virtual void InternalRefresh() = 0;
  virtual int64_t GetRecordCount() = 0;
  virtual int64_t GetRecNo() = 0;
  virtual void SetRecNoTo(int64_t n) = 0;
  virtual TBookmark GetBookmarkData(const uint8_t* buffer) const = 0;
  virtual TBookmarkFlag GetBookmarkFlag(const uint8_t* buffer) const = 0;
  virtual void SetBookmarkFlag(uint8_t* buffer, TBookmarkFlag flag) = 0;
  //! The field's native data from buffer; false when null.
  virtual bool ReadFieldData(const TField& field, const uint8_t* buffer,
                             std::span<uint8_t> out) const = 0;
  //! Checks the state rules, runs ValidateField and writes data into the
  //! buffer of the current state.
  virtual void WriteFieldData(TField& field, const uint8_t* data) = 0;
  //! Fills FieldDefs from the source.
  virtual void InitFieldDefs() = 0;
  //! Buffers of states without the current record (nullptr: none).
  virtual uint8_t* OldValuesBuffer() const { return nullptr; }
  virtual uint8_t* KeyBuffer() const { return nullptr; }
  //! Zeroes the calculated fields' area of buffer.
  virtual void ClearCalcFields(uint8_t* buffer) = 0;
  //! Bytes the calculated fields need.
  size_t CalcFieldsSize() const { return calc_fields_size_; }
  //! Runs OnNewRecord for a new record; derived datasets add their own
  //! defaults after it.
  virtual void DoOnNewRecord();
  //! Posting and cancelling in dsSetKey.
  virtual void PostKey() {}
  virtual void CancelKey() {}
  //! The fields of a Locate or Lookup, one for each value ("Locate needs one
  //! value for each key field").
  std::vector<TField*> GetKeyFields(const std::string& key_fields,
                                    const std::vector<TValue>& values) const;
  //! The values fields have in buffer.
  std::vector<TValue> ValuesIn(uint8_t* buffer, const std::vector<TField*>& fields);
  //! Scans the records for Locate and Lookup: true with the matching record
  //! in buffer and the source standing on it.
  bool ScanForRecord(const std::vector<TField*>& fields, const std::vector<TValue>& values,
                     TLocateOptions options, uint8_t* buffer);
  //! Whether the record in buffer has values in fields (Locate's
  //! comparison: numbers by value, the rest by text, with the options).
  virtual bool RecordMatches(uint8_t* buffer, const std::vector<TField*>& fields,
                             const std::vector<TValue>& values, TLocateOptions options);

  // ----- Helpers for derived datasets -----
  //! FindFirst and the others: from the first or last record with restart,
  //! the next record in the direction becomes current. A derived dataset
  //! applies its filters for the search also while Filtered is false.
  virtual bool FindRecord(bool restart, bool forward);
  //! Runs OnCalcFields for buffer when there are calculated fields.
  void CalculateFields(uint8_t* buffer);
  //! Makes the default fields of FieldDefs, for names without a
  //! persistent field, and binds every data field to its column.
  void CreateFields();
  //! Re-reads the current record after the source moved or changed.
  void Resync();
  //! The source moved away from the current record (a search that missed):
  //! the next step puts it back first.
  void CursorMoved() { cursor_off_ = has_record_; }
  //! Lays the record buffers out again at RecordBufferSize (the current
  //! record is read again by Resync).
  void ResizeBuffers();
  //! Runs BeforeScroll (searches of derived datasets).
  void DoBeforeScroll() { Notify(BeforeScroll); }
  //! The source's record becomes current after a search: reads it, and
  //! runs the scroll events around it.
  void TakeFoundRecord();
  void SetState(TDataSetState state);
  //! Runs op in a temporary state with buffer as that state's buffer.
  template <typename Op>
  auto WithTempState(TDataSetState state, uint8_t* buffer, Op op) -> decltype(op());
  std::vector<uint8_t>& RecordBuffer() { return record_; }
  bool HasRecord() const { return has_record_; }
  void SetModified(bool modified) { modified_ = modified; }
  //! Field changes announce themselves (deFieldChange, OnChange).
  void FieldChanged(TField& field);
  //! The dataset's name for messages.
  std::string MessagePrefixed(const std::string& message) const;
  //! Raises a framework error prefixed with the dataset's name.
  [[noreturn]] void RaiseError(const std::string& message) const;

 private:
  friend class TDataSource;
  void OpenDataSet();
  void CloseDataSet();
  //! Puts the source back on the current record after a failed step.
  void SyncCursor();
  //! One step; true when a record was read.
  bool Step(TGetMode mode);
  void BeginInsertAppend(TBookmarkFlag flag);
  //! Runs action, offering failures to handler (daRetry, daAbort, daFail);
  //! false when the handler aborted it.
  bool RunWithErrorEvent(const TDataSetErrorEvent& handler, const std::function<void()>& action);
  void Notify(const TDataSetNotify& event) {
    if (event) event(*this);
  }
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);

  TDataSetState state_ = dsInactive;
  std::vector<uint8_t> record_;   //!< the current record's buffer
  std::vector<uint8_t> scratch_;  //!< reads land here until they succeed
  std::vector<uint8_t> saved_;    //!< the record as it was before Edit/Insert
  bool has_record_ = false;       //!< record_ holds a record
  bool saved_had_record_ = false;
  bool cursor_off_ = false;  //!< the source stands elsewhere than record_
  bool bof_ = true;
  bool eof_ = true;
  bool modified_ = false;
  bool found_ = false;
  bool filtered_ = false;
  bool auto_calc_fields_ = true;
  std::string filter_text_;
  TFilterOptions filter_options_;
  int32_t block_read_size_ = 0;
  int disable_count_ = 0;
  size_t calc_fields_size_ = 0;
  uint8_t* temp_buffer_ = nullptr;      //!< the buffer of a temporary state
  const uint8_t* new_value_ = nullptr;  //!< data being validated
  const TField* validating_ = nullptr;  //!< the field being validated
  TFields fields_;
  TFieldDefs field_defs_;
  std::vector<TDataSource*> data_sources_;  //!< sources naming this dataset
};

template <typename Op>
auto TDataSet::WithTempState(TDataSetState state, uint8_t* buffer, Op op) -> decltype(op()) {
  TScopeExit restore([this, saved_state = state_, saved_buffer = temp_buffer_] {
    state_ = saved_state;
    temp_buffer_ = saved_buffer;
  });
  state_ = state;
  temp_buffer_ = buffer;
  return op();
}

}  // namespace vevura
