#include "components/framework/dataset.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "components/framework/data_source.h"
#include "platform/locale.h"

namespace vevura {

namespace {

constexpr const char* kClosedDataSet = "Cannot perform this operation on a closed dataset";
constexpr const char* kEmptyDataSet = "Cannot perform this operation on an empty dataset";
constexpr const char* kReadOnlyDataSet = "Cannot modify a read-only dataset";
constexpr const char* kRecordNotFound = "Record not found";

bool IsNumber(const TValue& v) {
  return std::holds_alternative<int64_t>(v) || std::holds_alternative<double>(v) ||
         std::holds_alternative<bool>(v);
}

double NumberOf(const TValue& v) {
  if (const auto* i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
  if (const auto* b = std::get_if<bool>(&v)) return *b ? 1.0 : 0.0;
  return std::get<double>(v);
}

//! Whether a field's value matches a searched value: null only null;
//! numbers, dates and booleans by number; everything else by text, with
//! loCaseInsensitive ignoring case and loPartialKey matching a prefix.
bool ValueMatches(const TField& field, const TValue& wanted, TLocateOptions options) {
  const TValue value = field.Value();
  if (IsNull(wanted) || IsNull(value)) return IsNull(wanted) && IsNull(value);
  if (IsNumber(value) && IsNumber(wanted)) return NumberOf(value) == NumberOf(wanted);
  std::string have = ValueText(value);
  const std::string want = ValueText(wanted);
  if (options.Contains(loPartialKey) && have.size() > want.size()) have.resize(want.size());
  if (options.Contains(loCaseInsensitive)) {
    return platform::CompareTextSystem(have, want, true) == 0;
  }
  return have == want;
}

}  // namespace

TDataSet::TDataSet(TComponent* owner) : TComponent(owner) {}

TDataSet::~TDataSet() {
  for (TDataSource* source : data_sources_) source->DataSetGone();
}

// ----- Opening and closing -----

void TDataSet::SetActive(bool active) {
  if (active == Active()) return;
  if (active) {
    OpenDataSet();
  } else {
    CloseDataSet();
  }
}

void TDataSet::OpenDataSet() {
  Notify(BeforeOpen);
  try {
    InternalOpen();
    const size_t size = RecordBufferSize();
    record_.assign(size, 0);
    scratch_.assign(size, 0);
    saved_.assign(size, 0);
    state_ = dsBrowse;
    cursor_off_ = false;
    InternalFirst();
    has_record_ = GetRecord(scratch_.data(), gmNext, true) == grOK;
    if (has_record_) {
      std::swap(record_, scratch_);
      CalculateFields(record_.data());
    }
    bof_ = true;
    eof_ = !has_record_;
  } catch (...) {
    state_ = dsInactive;
    has_record_ = false;
    try {
      if (IsCursorOpen()) InternalClose();
    } catch (...) {
    }
    fields_.RemoveDefaultFields();
    throw;
  }
  DataEvent(deUpdateState);
  Notify(AfterOpen);
  Notify(AfterScroll);
}

void TDataSet::CloseDataSet() {
  Notify(BeforeClose);
  if (state_ == dsEdit || state_ == dsInsert || state_ == dsSetKey) Cancel();
  {
    // Closed whatever InternalClose does.
    TScopeExit finish([this] {
      state_ = dsInactive;
      has_record_ = false;
      bof_ = eof_ = true;
      modified_ = false;
      cursor_off_ = false;
      fields_.RemoveDefaultFields();
      for (const auto& field : fields_) field->Bind(0);
      record_.clear();
      scratch_.clear();
      saved_.clear();
    });
    InternalClose();
  }
  DataEvent(deUpdateState);
  Notify(AfterClose);
}

void TDataSet::CheckActive() const {
  if (!Active()) RaiseError(kClosedDataSet);
}

void TDataSet::CheckInactive() const {
  if (Active()) RaiseError(msg::SDataSetOpen);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode);
  switch (state_) {
    case dsEdit:
    case dsInsert:
      if (modified_) {
        Post();
      } else {
        Cancel();
      }
      break;
    case dsSetKey:
      Post();
      break;
    default:
      break;
  }
}

// ----- Navigation -----

void TDataSet::SyncCursor() {
  if (cursor_off_ && has_record_) InternalSetToRecord(record_.data());
  cursor_off_ = false;
}

bool TDataSet::Step(TGetMode mode) {
  SyncCursor();
  if (GetRecord(scratch_.data(), mode, true) == grOK) {
    std::swap(record_, scratch_);
    has_record_ = true;
    CalculateFields(record_.data());
    return true;
  }
  cursor_off_ = has_record_;
  return false;
}

void TDataSet::First() {
  CheckBrowseMode();
  Notify(BeforeScroll);
  cursor_off_ = false;
  InternalFirst();
  has_record_ = false;
  has_record_ = Step(gmNext);
  bof_ = true;
  eof_ = !has_record_;
  DataEvent(deDataSetChange);
  Notify(AfterScroll);
}

void TDataSet::Last() {
  CheckBrowseMode();
  Notify(BeforeScroll);
  cursor_off_ = false;
  InternalLast();
  has_record_ = false;
  has_record_ = Step(gmPrior);
  eof_ = true;
  bof_ = !has_record_;
  DataEvent(deDataSetChange);
  Notify(AfterScroll);
}

void TDataSet::Next() {
  MoveBy(1);
}

void TDataSet::Prior() {
  MoveBy(-1);
}

int64_t TDataSet::MoveBy(int64_t distance) {
  CheckBrowseMode();
  if (distance == 0 || (distance > 0 && eof_) || (distance < 0 && bof_)) return 0;
  Notify(BeforeScroll);
  int64_t moved = 0;
  while (moved != distance) {
    const bool forward = distance > 0;
    if (!Step(forward ? gmNext : gmPrior)) {
      (forward ? eof_ : bof_) = true;
      break;
    }
    (forward ? bof_ : eof_) = false;
    moved += forward ? 1 : -1;
  }
  DataEvent(deDataSetScroll);
  Notify(AfterScroll);
  return moved;
}

int64_t TDataSet::RecordCount() {
  CheckActive();
  return GetRecordCount();
}

int64_t TDataSet::RecNo() {
  if (!Active() || ActiveBuffer() == nullptr || state_ == dsInsert) return 0;
  return GetRecNo();
}

void TDataSet::SetRecNo(int64_t n) {
  CheckBrowseMode();
  Notify(BeforeScroll);
  SetRecNoTo(n);
  Resync();
  DataEvent(deDataSetChange);
  Notify(AfterScroll);
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  Notify(BeforeRefresh);
  SyncCursor();
  InternalRefresh();
  Resync();
  DataEvent(deDataSetChange);
  Notify(AfterRefresh);
}

void TDataSet::Resync() {
  cursor_off_ = false;
  for (TGetMode mode : {gmCurrent, gmNext, gmPrior}) {
    if (GetRecord(scratch_.data(), mode, false) == grOK) {
      std::swap(record_, scratch_);
      has_record_ = true;
      bof_ = eof_ = false;
      CalculateFields(record_.data());
      return;
    }
  }
  has_record_ = false;
  bof_ = eof_ = true;
}

void TDataSet::ResizeBuffers() {
  const size_t size = RecordBufferSize();
  record_.assign(size, 0);
  scratch_.assign(size, 0);
  saved_.assign(size, 0);
  has_record_ = false;
  cursor_off_ = false;
}

void TDataSet::TakeFoundRecord() {
  Resync();
  DataEvent(deDataSetChange);
  Notify(AfterScroll);
}

// ----- Editing -----

bool TDataSet::RunWithErrorEvent(const TDataSetErrorEvent& handler,
                                 const std::function<void()>& action) {
  for (;;) {
    try {
      action();
      return true;
    } catch (EDatabaseError& error) {
      if (!handler) throw;
      TDataAction next = daFail;
      handler(*this, error, next);
      if (next == daFail) throw;
      if (next == daAbort) return false;
    }
  }
}

void TDataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  CheckBrowseMode();
  if (!CanModify()) RaiseError(kReadOnlyDataSet);
  if (!has_record_) return Append();
  Notify(BeforeEdit);
  SyncCursor();
  const std::vector<uint8_t> before = record_;
  const bool edited = RunWithErrorEvent(OnEditError, [&] {
    try {
      InternalEdit(record_.data());
    } catch (...) {
      record_ = before;
      throw;
    }
  });
  if (!edited) return;
  saved_ = record_;
  saved_had_record_ = true;
  SetState(dsEdit);
  modified_ = false;
  DataEvent(deRecordChange);
  Notify(AfterEdit);
}

void TDataSet::Append() {
  BeginInsertAppend(bfEOF);
}

void TDataSet::Insert() {
  BeginInsertAppend(bfInserted);
}

void TDataSet::BeginInsertAppend(TBookmarkFlag flag) {
  CheckBrowseMode();
  if (!CanModify()) RaiseError(kReadOnlyDataSet);
  Notify(BeforeInsert);
  Notify(BeforeScroll);
  SyncCursor();
  saved_ = record_;
  saved_had_record_ = has_record_;
  const std::span<const uint8_t> previous =
      has_record_ ? std::span<const uint8_t>(saved_) : std::span<const uint8_t>();
  InternalInitRecord(record_.data(), previous);
  SetBookmarkFlag(record_.data(), flag);
  has_record_ = true;
  bof_ = eof_ = false;
  SetState(dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    Cancel();
    throw;
  }
  modified_ = false;
  CalculateFields(record_.data());
  DataEvent(deDataSetChange);
  Notify(AfterInsert);
  Notify(AfterScroll);
}

void TDataSet::DoOnNewRecord() {
  Notify(OnNewRecord);
}

void TDataSet::Post() {
  CheckActive();
  DataEvent(deUpdateRecord);
  switch (state_) {
    case dsEdit:
    case dsInsert: {
      Notify(BeforePost);
      if (!RunWithErrorEvent(OnPostError, [&] { InternalPost(record_.data()); })) return;
      SetState(dsBrowse);
      modified_ = false;
      has_record_ = true;
      cursor_off_ = false;
      CalculateFields(record_.data());
      DataEvent(deDataSetChange);
      Notify(AfterPost);
      break;
    }
    case dsSetKey:
      PostKey();
      SetState(dsBrowse);
      break;
    default:
      break;
  }
}

void TDataSet::Cancel() {
  switch (state_) {
    case dsEdit:
    case dsInsert: {
      Notify(BeforeCancel);
      InternalCancel(record_.data());
      record_ = saved_;
      has_record_ = saved_had_record_;
      if (!has_record_) bof_ = eof_ = true;
      SetState(dsBrowse);
      modified_ = false;
      DataEvent(deDataSetChange);
      Notify(AfterCancel);
      break;
    }
    case dsSetKey:
      CancelKey();
      SetState(dsBrowse);
      break;
    default:
      break;
  }
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert || state_ == dsSetKey) return Cancel();
  if (state_ == dsEdit) Cancel();
  if (!has_record_) RaiseError(kEmptyDataSet);
  if (!CanModify()) RaiseError(kReadOnlyDataSet);
  DataEvent(deCheckBrowseMode);
  Notify(BeforeDelete);
  Notify(BeforeScroll);
  SyncCursor();
  if (!RunWithErrorEvent(OnDeleteError, [&] { InternalDelete(record_.data()); })) return;
  SetState(dsBrowse);
  Resync();
  DataEvent(deDataSetChange);
  Notify(AfterDelete);
  Notify(AfterScroll);
}

void TDataSet::AppendRecord(const std::vector<TValue>& values) {
  Append();
  const size_t n = std::min(values.size(), static_cast<size_t>(fields_.Count()));
  for (size_t i = 0; i < n; ++i) {
    if (!IsNull(values[i])) fields_[static_cast<int>(i)].SetValue(values[i]);
  }
  Post();
}

// ----- Bookmarks -----

TBookmark TDataSet::GetBookmark() {
  if (!Active() || !has_record_ || state_ == dsInsert) return {};
  return GetBookmarkData(record_.data());
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  CheckBrowseMode();
  Notify(BeforeScroll);
  if (bookmark.empty() || !InternalGotoBookmark(bookmark)) {
    cursor_off_ = has_record_;
    RaiseError(kRecordNotFound);
  }
  TakeFoundRecord();
}

// ----- Fields -----

TField* TDataSet::FieldByName(const std::string& name) const {
  TField* field = fields_.Find(name);
  if (field == nullptr) RaiseError(FormatMessage(msg::SFieldNotFound, name));
  return field;
}

TField* TDataSet::FieldByNumber(int32_t field_no) const {
  TField* field = fields_.FindByNumber(field_no);
  if (field == nullptr) RaiseError(msg::SFieldIndexError);
  return field;
}

std::vector<TField*> TDataSet::GetFieldList(const std::string& names) const {
  std::vector<TField*> list;
  for (const std::string& name : SplitFieldNames(names)) list.push_back(FieldByName(name));
  return list;
}

TField& TDataSet::AddField(TFieldType type, const std::string& name, int32_t size,
                           TFieldKind kind) {
  CheckInactive();
  if (fields_.Find(name) != nullptr) {
    RaiseError("A field named '" + name + "' already exists");
  }
  auto field = MakeField(*this, type, name, size, kind);
  field->MarkPersistent();
  return fields_.Add(std::move(field));
}

void TDataSet::CreateFields() {
  const bool persistent = fields_.Count() > 0;
  if (!persistent) {
    for (const auto& def : field_defs_) {
      switch (def->DataType()) {
        case ftADT:
        case ftArray:
        case ftReference:
        case ftDataSet:
        case ftCursor:
        case ftUnknown:
          continue;  // kinds without a field class of their own
        default:
          break;
      }
      TField& field =
          fields_.Add(MakeField(*this, def->DataType(), def->Name(), def->Size(), fkData));
      field.Bind(def->FieldNo());
      field.SetRequired(def->Required());
    }
  } else {
    for (const auto& field : fields_) {
      if (field->FieldKind() != fkData) continue;
      const TFieldDef* def = field_defs_.Find(field->FieldName());
      if (def == nullptr) RaiseError(FormatMessage(msg::SFieldNotFound, field->FieldName()));
      field->Bind(def->FieldNo());
    }
  }
  calc_fields_size_ = 0;
  for (const auto& field : fields_) {
    if (field->FieldKind() == fkData) continue;
    field->SetCalcOffset(calc_fields_size_);
    calc_fields_size_ += 1 + field->DataSize();
  }
}

void TDataSet::CalculateFields(uint8_t* buffer) {
  if (calc_fields_size_ == 0) return;
  ClearCalcFields(buffer);
  if (!auto_calc_fields_ && state_ != dsBrowse && state_ != dsInactive) return;
  WithTempState(dsCalcFields, buffer, [&] { Notify(OnCalcFields); });
}

bool TDataSet::GetFieldData(const TField& field, std::span<uint8_t> out) const {
  if (state_ == dsNewValue && &field == validating_) {
    if (new_value_ == nullptr) return false;
    std::memcpy(out.data(), new_value_, out.size());
    return true;
  }
  const uint8_t* buffer = ActiveBuffer();
  return buffer != nullptr && ReadFieldData(field, buffer, out);
}

void TDataSet::SetFieldData(TField& field, const uint8_t* data) {
  WriteFieldData(field, data);
}

void TDataSet::ValidateField(TField& field, const uint8_t* data) {
  if (!field.OnValidate) return;
  TScopeExit restore([this, field = validating_, value = new_value_] {
    validating_ = field;
    new_value_ = value;
  });
  validating_ = &field;
  new_value_ = data;
  WithTempState(dsNewValue, ActiveBuffer(), [&] { field.OnValidate(field); });
}

void TDataSet::FieldChanged(TField& field) {
  if (state_ == dsCalcFields || state_ == dsFilter || state_ == dsNewValue) return;
  if (state_ == dsEdit || state_ == dsInsert) {
    modified_ = true;
    if (auto_calc_fields_ && field.FieldKind() == fkData) CalculateFields(record_.data());
  }
  DataEvent(deFieldChange, &field);
  if (field.OnChange) field.OnChange(field);
}

uint8_t* TDataSet::ActiveBuffer() const {
  if (temp_buffer_ != nullptr) return temp_buffer_;
  switch (state_) {
    case dsInactive:
      return nullptr;
    case dsBrowse:
    case dsBlockRead:
      return has_record_ ? const_cast<uint8_t*>(record_.data()) : nullptr;
    case dsSetKey:
      return KeyBuffer();
    case dsOldValue:
      return OldValuesBuffer();
    default:
      return const_cast<uint8_t*>(record_.data());
  }
}

// ----- Find and locate -----

bool TDataSet::ScanForRecord(const std::vector<TField*>& fields, const std::vector<TValue>& values,
                             TLocateOptions options, uint8_t* buffer) {
  InternalFirst();
  while (GetRecord(buffer, gmNext, true) == grOK) {
    if (RecordMatches(buffer, fields, values, options)) return true;
  }
  return false;
}

bool TDataSet::RecordMatches(uint8_t* buffer, const std::vector<TField*>& fields,
                             const std::vector<TValue>& values, TLocateOptions options) {
  return WithTempState(dsFilter, buffer, [&] {
    for (size_t i = 0; i < fields.size(); ++i) {
      if (!ValueMatches(*fields[i], values[i], options)) return false;
    }
    return true;
  });
}

std::vector<TField*> TDataSet::GetKeyFields(const std::string& key_fields,
                                            const std::vector<TValue>& values) const {
  std::vector<TField*> fields = GetFieldList(key_fields);
  if (fields.size() != values.size() || fields.empty()) {
    RaiseError("Locate needs one value for each key field");
  }
  return fields;
}

std::vector<TValue> TDataSet::ValuesIn(uint8_t* buffer, const std::vector<TField*>& fields) {
  return WithTempState(dsFilter, buffer, [&] {
    std::vector<TValue> values;
    for (TField* field : fields) values.push_back(field->Value());
    return values;
  });
}

bool TDataSet::Locate(const std::string& key_fields, const std::vector<TValue>& values,
                      TLocateOptions options) {
  CheckBrowseMode();
  const std::vector<TField*> fields = GetKeyFields(key_fields, values);
  Notify(BeforeScroll);
  SyncCursor();
  if (!ScanForRecord(fields, values, options, scratch_.data())) {
    cursor_off_ = has_record_;
    return false;
  }
  TakeFoundRecord();
  return true;
}

std::vector<TValue> TDataSet::Lookup(const std::string& key_fields,
                                     const std::vector<TValue>& values,
                                     const std::string& result_fields) {
  CheckBrowseMode();
  const std::vector<TField*> keys = GetKeyFields(key_fields, values);
  const std::vector<TField*> results = GetFieldList(result_fields);
  SyncCursor();
  const bool found = ScanForRecord(keys, values, {}, scratch_.data());
  cursor_off_ = has_record_;
  if (!found) return {};
  return ValuesIn(scratch_.data(), results);
}

bool TDataSet::FindRecord(bool restart, bool forward) {
  CheckBrowseMode();
  Notify(BeforeScroll);
  SyncCursor();
  if (restart) forward ? InternalFirst() : InternalLast();
  TGetResult result;
  try {
    result = GetRecord(scratch_.data(), forward ? gmNext : gmPrior, true);
  } catch (...) {
    cursor_off_ = has_record_;
    throw;
  }
  found_ = result == grOK;
  if (!found_) {
    cursor_off_ = has_record_;
    return false;
  }
  std::swap(record_, scratch_);
  has_record_ = true;
  bof_ = eof_ = false;
  CalculateFields(record_.data());
  DataEvent(deDataSetScroll);
  Notify(AfterScroll);
  return true;
}

bool TDataSet::FindFirst() {
  return FindRecord(true, true);
}
bool TDataSet::FindLast() {
  return FindRecord(true, false);
}
bool TDataSet::FindNext() {
  return FindRecord(false, true);
}
bool TDataSet::FindPrior() {
  return FindRecord(false, false);
}

// ----- Filters and block reading -----

void TDataSet::SetFilter(const std::string& text) {
  filter_text_ = text;
}

void TDataSet::SetFiltered(bool filtered) {
  if (filtered == filtered_) return;
  filtered_ = filtered;
  if (Active()) First();
}

void TDataSet::SetFilterOptions(TFilterOptions options) {
  filter_options_ = options;
}

void TDataSet::SetBlockReadSize(int32_t size) {
  block_read_size_ = std::max(size, 0);
}

// ----- Data sources -----

void TDataSet::EnableControls() {
  if (disable_count_ > 0 && --disable_count_ == 0) DataEvent(deDataSetChange);
}

void TDataSet::DataEvent(TDataEvent event, TField* info) {
  if (disable_count_ > 0 && event != deUpdateState) return;
  const std::vector<TDataSource*> sources = data_sources_;
  for (TDataSource* source : sources) source->DataEvent(event, info);
}

void TDataSet::SetState(TDataSetState state) {
  if (state_ == state) return;
  state_ = state;
  DataEvent(deUpdateState);
}

void TDataSet::AddDataSource(TDataSource* source) {
  data_sources_.push_back(source);
}

void TDataSet::RemoveDataSource(TDataSource* source) {
  std::erase(data_sources_, source);
}

// ----- Messages -----

std::string TDataSet::MessagePrefixed(const std::string& message) const {
  return Name().empty() ? message : ComponentMessage(Name(), message);
}

void TDataSet::RaiseError(const std::string& message) const {
  RaiseComponentError(*this, message);
}

}  // namespace vevura
