#include "components/vevura_dataset.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "components/session_list.h"
#include "components/vevura_blob_stream.h"
#include "components/vevura_database.h"
#include "components/vevura_session.h"
#include "engine/base/engine_error.h"
#include "engine/base/engine_version.h"
#include "engine/storage/fields/field_codec.h"
#include "engine/storage/fields/record_layout.h"
#include "platform/locale.h"

namespace vevura {

namespace {

constexpr int32_t kUnknownRecNo = -1;

template <typename T>
T Load(const uint8_t* data) {
  T value;
  std::memcpy(&value, data, sizeof value);
  return value;
}

//! The framework type of an engine field; ftUnknown leaves the field out.
TFieldType FieldTypeOf(const TFieldDescriptor& d) {
  switch (d.Type) {
    case fcString:
      return d.Subtype == fsFixedChar ? ftFixedChar : ftString;
    case fcDate:
      return ftDate;
    case fcBlob:
      switch (d.Subtype) {
        case fsMemo:
          return ftMemo;
        case fsFmtMemo:
          return ftFmtMemo;
        case fsGraphic:
          return ftGraphic;
        case fsTypedBinary:
          return ftTypedBinary;
        default:
          return ftBlob;
      }
    case fcBoolean:
      return ftBoolean;
    case fcSmallInt:
      return ftSmallint;
    case fcInteger:
      return d.Subtype == fsAutoInc ? ftAutoInc : ftInteger;
    case fcFloat:
      return d.Subtype == fsMoney ? ftCurrency : ftFloat;
    case fcBCD:
      return ftBCD;
    case fcBytes:
      return ftBytes;
    case fcVarBytes:
      return ftVarBytes;
    case fcTime:
      return ftTime;
    case fcTimeStamp:
      return ftDateTime;
    case fcWord:
      return ftWord;
    case fcInteger32:
      return ftInteger;
    case fcLargeInt:
    case fcInt64:
      return ftLargeint;
    case fcADT:
      return ftADT;
    case fcArray:
      return ftArray;
    case fcReference:
      return ftReference;
    case fcDataSet:
      return ftDataSet;
    default:
      return ftUnknown;
  }
}

//! The size a field definition carries for an engine field.
int32_t DefinitionSize(const TFieldDescriptor& d, TFieldType type) {
  switch (type) {
    case ftString:
    case ftFixedChar:
    case ftBytes:
    case ftVarBytes:
      return d.Size;
    case ftBCD:
      return d.Scale;
    default:
      return 0;
  }
}

bool IsWritingState(TDataSetState state) {
  switch (state) {
    case dsEdit:
    case dsInsert:
    case dsSetKey:
    case dsCalcFields:
    case dsFilter:
    case dsNewValue:
    case dsInternalCalc:
      return true;
    default:
      return false;
  }
}

}  // namespace

// ===========================================================================
// TVEVURADataSet

TVEVURADataSet::TVEVURADataSet(TComponent* owner) : TDataSet(owner) {}

TVEVURADataSet::~TVEVURADataSet() = default;

void TVEVURADataSet::SetAutoDisplayLabels(bool value) {
  auto_display_labels_ = value;
  if (Active()) ApplyDisplayLabels();
}

// ----- Filters -----

void TVEVURADataSet::MakeEngineFilters(const std::string& text, TFilterOptions options) {
  // The new expression compiles before the old one goes, so that a bad text
  // leaves everything as it was.
  TFilter* expression = nullptr;
  if (!text.empty()) {
    TFilterSettings settings;
    settings.IgnoreCase = options.Contains(foCaseInsensitive);
    settings.NoPartialCompare = options.Contains(foNoPartialCompare);
    expression = cursor_->AddFilter(text, settings);
  }
  if (expression_filter_ != nullptr) cursor_->RemoveFilter(expression_filter_);
  expression_filter_ = expression;
  ActivateEngineFilters(Filtered());
}

void TVEVURADataSet::ActivateEngineFilters(bool active) {
  // OnFilterRecord may be given or taken at any time: its filter is made
  // or dropped as the filters are switched on.
  if (active && OnFilterRecord && callback_filter_ == nullptr) {
    callback_filter_ =
        cursor_->AddCallbackFilter([this](TDataCursor&, std::span<const uint8_t> record, int32_t) {
          return CallbackAccepts(record);
        });
  } else if (active && !OnFilterRecord && callback_filter_ != nullptr) {
    cursor_->RemoveFilter(callback_filter_);
    callback_filter_ = nullptr;
  }
  if (active) {
    cursor_->ActivateFilter(nullptr);
  } else {
    cursor_->DeactivateFilter(nullptr);
  }
  // The lookup cursor copied the filters as they were.
  lookup_cursor_.reset();
  lookup_index_.clear();
}

bool TVEVURADataSet::CallbackAccepts(std::span<const uint8_t> record) {
  if (!OnFilterRecord) return true;
  std::vector<uint8_t> buffer(RecordBufferSize(), 0);
  std::copy(record.begin(), record.begin() + std::min(record.size(), record_size_), buffer.begin());
  bool accept = true;
  WithTempState(dsFilter, buffer.data(), [&] { OnFilterRecord(*this, accept); });
  return accept;
}

void TVEVURADataSet::SetFilter(const std::string& text) {
  if (Active() && text != Filter()) {
    CheckBrowseMode();
    DropBlock();
    MakeEngineFilters(text, FilterOptions());
  }
  TDataSet::SetFilter(text);
  if (Active() && Filtered()) First();
}

void TVEVURADataSet::SetFiltered(bool filtered) {
  if (Active() && filtered != Filtered()) {
    CheckBrowseMode();
    DropBlock();
    ActivateEngineFilters(filtered);
  }
  TDataSet::SetFiltered(filtered);
}

void TVEVURADataSet::SetFilterOptions(TFilterOptions options) {
  if (Active() && !(options == FilterOptions())) {
    CheckBrowseMode();
    DropBlock();
    MakeEngineFilters(Filter(), options);
  }
  TDataSet::SetFilterOptions(options);
  if (Active() && Filtered()) First();
}

bool TVEVURADataSet::FindRecord(bool restart, bool forward) {
  if (Filtered()) return TDataSet::FindRecord(restart, forward);
  CheckBrowseMode();
  DropBlock();
  ActivateEngineFilters(true);
  TScopeExit off([this] { ActivateEngineFilters(false); });
  return TDataSet::FindRecord(restart, forward);
}

void TVEVURADataSet::SetBlockReadSize(int32_t size) {
  if (Active()) CheckBrowseMode();
  DropBlock();
  TDataSet::SetBlockReadSize(size);
}

// ----- Opening and closing -----

void TVEVURADataSet::InternalOpen() {
  cursor_ = CreateHandle();
  if (cursor_ == nullptr) throw EDatabaseError(msg::SHandleError);
  try {
    OpenRecordSide();
  } catch (...) {
    DestroyHandle();
    throw;
  }
}

void TVEVURADataSet::OpenRecordSide() {
  record_size_ = cursor_->RecordSize();
  can_modify_ = !cursor_->ReadOnly();
  lcid_ = cursor_->TableLcid();
  message_table_ = cursor_->TableName();
  ReadFieldDefs(*cursor_);
  LoadIndexKeyInfo();
  CreateFields();
  for (const auto& field : Fields()) {
    if (field->FieldKind() == fkData) field->SetOrigin(message_table_ + "." + field->FieldName());
  }
  ApplyDisplayLabels();
  LayOutBuffers();
  old_values_.assign(RecordBufferSize(), 0);
  for (TKeyBuffer& key : keys_) key = TKeyBuffer{false, 0, std::vector<uint8_t>(record_size_, 0)};
  saved_key_ = keys_[kiLookup];
  range_applied_ = false;
  DropBlock();
  MakeEngineFilters(Filter(), FilterOptions());
}

void TVEVURADataSet::LayOutBuffers() {
  bookmark_size_ = cursor_->BookmarkSize();
  calc_offset_ = record_size_;
  recno_offset_ = calc_offset_ + CalcFieldsSize();
  flag_offset_ = recno_offset_ + sizeof(int32_t);
  bookmark_offset_ = flag_offset_ + 1;
}

size_t TVEVURADataSet::RecordBufferSize() const {
  return bookmark_offset_ + bookmark_size_;
}

void TVEVURADataSet::ApplyDisplayLabels() {
  if (!auto_display_labels_) return;
  for (const auto& field : Fields()) {
    const TFieldDescriptor* d = field->FieldKind() == fkData ? DescriptorOf(*field) : nullptr;
    if (d == nullptr) continue;
    // The description is the text the descriptor keeps after the name.
    const auto& bytes = d->Unused33;
    const auto end = std::find(bytes.begin(), bytes.end(), uint8_t{0});
    const std::string description(bytes.begin(), end);
    if (!description.empty()) field->SetDisplayLabel(description);
  }
}

void TVEVURADataSet::LoadIndexKeyInfo() {
  index_field_count_ = 0;
  index_fields_.fill(0);
  index_case_insensitive_ = false;
  if (cursor_->RecordNumberOrder()) return;
  const TIndexDescriptor d = cursor_->IndexDescriptor(cursor_->ActiveIndex());
  index_field_count_ = std::min<int>(d.FieldCount, static_cast<int>(index_fields_.size()));
  for (int i = 0; i < index_field_count_; ++i) index_fields_[i] = d.FieldNumbers[i];
  index_case_insensitive_ = d.CaseInsensitive != 0;
}

void TVEVURADataSet::InternalClose() {
  DropBlock();
  expression_filter_ = nullptr;
  callback_filter_ = nullptr;
  lookup_cursor_.reset();
  lookup_index_.clear();
  old_values_.clear();
  for (TKeyBuffer& key : keys_) key = TKeyBuffer{};
  range_applied_ = false;
  index_field_count_ = 0;
  DestroyHandle();
}

void TVEVURADataSet::DestroyHandle() {
  if (cursor_ != nullptr) {
    std::unique_ptr<TDataCursor> cursor = std::move(cursor_);
    cursor->CloseCursor(false);
  }
}

void TVEVURADataSet::ReadFieldDefs(TDataCursor& cursor) {
  TFieldDefs& defs = FieldDefs();
  const TChangesUnannounced quiet(defs.OnChange);
  defs.Clear();
  for (const TFieldDescriptor& d : cursor.Fields()) {
    if (d.Hidden != 0) continue;
    const TFieldType type = FieldTypeOf(d);
    if (type == ftUnknown || type == ftCursor) continue;
    std::string name = d.Name;
    for (int n = 1; defs.Find(name) != nullptr; ++n) name = d.Name + "_" + std::to_string(n);
    TFieldDef& def =
        defs.AddNumbered(name, type, DefinitionSize(d, type), d.Required != 0, d.FieldNumber);
    if (type == ftBCD) def.SetPrecision(32);
  }
}

void TVEVURADataSet::InitFieldDefs() {
  if (cursor_ != nullptr) ReadFieldDefs(*cursor_);
}

// ----- Reading records -----

int TVEVURADataSet::ReadFromCursor(uint8_t* buffer, TGetMode mode) {
  if (BlockReadSize() > 0 && mode == gmNext) return ReadFromBlock(buffer);
  if (block_count_ > 0) DropBlock();
  const std::span<uint8_t> record = EngineRecord(buffer);
  switch (mode) {
    case gmCurrent:
      return cursor_->GetCurrentRecord(record, false);
    case gmNext:
      return cursor_->Next(record);
    default:
      return cursor_->Prior(record);
  }
}

int TVEVURADataSet::ReadFromBlock(uint8_t* buffer) {
  const size_t size = RecordBufferSize();
  if (block_next_ >= block_count_) {
    if (block_ended_) return VEVURA_EOF;
    // Refill: as many records as fit, at most 64 KiB for the largest sizes.
    const int32_t wanted = BlockReadSize();
    size_t count = static_cast<size_t>(wanted);
    if (wanted == std::numeric_limits<int32_t>::max()) count = std::max<size_t>(65536 / size, 1);
    count = std::min<size_t>(count, 65536);
    block_.assign(count * size, 0);
    block_count_ = block_next_ = 0;
    while (block_count_ < count) {
      uint8_t* slot = block_.data() + block_count_ * size;
      const int code = cursor_->Next(EngineRecord(slot));
      if (code == VEVURA_EOF) {
        block_ended_ = true;
        break;
      }
      if (code != kCursorOnRecord) {
        DropBlock();
        RaiseTableError(static_cast<uint16_t>(code), message_table_);
      }
      FillTail(slot);
      ++block_count_;
    }
    if (block_count_ == 0) return VEVURA_EOF;
  }
  std::memcpy(buffer, block_.data() + block_next_ * size, size);
  ++block_next_;
  return kCursorOnRecord;
}

void TVEVURADataSet::DropBlock() {
  const bool ahead = block_next_ < block_count_ || block_ended_;
  const size_t last = block_next_;
  if (ahead && last > 0 && cursor_ != nullptr) {
    // The cursor read past the record handed out last: put it back there.
    const uint8_t* slot = block_.data() + (last - 1) * RecordBufferSize();
    cursor_->GotoBookmark(GetBookmarkData(slot), true);
  }
  block_.clear();
  block_count_ = block_next_ = 0;
  block_ended_ = false;
}

void TVEVURADataSet::FillTail(uint8_t* buffer) const {
  const int32_t unknown = kUnknownRecNo;
  std::memcpy(buffer + recno_offset_, &unknown, sizeof unknown);
  buffer[flag_offset_] = bfCurrent;
  const TBookmark bookmark = cursor_->GetBookmark();
  std::memset(buffer + bookmark_offset_, 0, bookmark_size_);
  std::memcpy(buffer + bookmark_offset_, bookmark.data(),
              std::min(bookmark.size(), bookmark_size_));
}

TGetResult TVEVURADataSet::GetRecord(uint8_t* buffer, TGetMode mode, bool do_check) {
  // The cursor's filters have hidden whatever the filter refuses.
  int code = 0;
  try {
    code = ReadFromCursor(buffer, mode);
  } catch (const EDatabaseError&) {
    if (do_check) throw;
    return grError;
  }
  if (code == VEVURA_BOF) return grBOF;
  if (code == VEVURA_EOF) return grEOF;
  if (code != kCursorOnRecord) {
    if (do_check) RaiseTableError(static_cast<uint16_t>(code), message_table_);
    return grError;
  }
  if (BlockReadSize() == 0 || mode != gmNext) FillTail(buffer);
  return grOK;
}

void TVEVURADataSet::InternalFirst() {
  DropBlock();
  cursor_->First();
}

void TVEVURADataSet::InternalLast() {
  DropBlock();
  cursor_->Last();
}

void TVEVURADataSet::InternalSetToRecord(const uint8_t* buffer) {
  DropBlock();
  cursor_->GotoBookmark(GetBookmarkData(buffer), true);
}

bool TVEVURADataSet::InternalGotoBookmark(const TBookmark& bookmark) {
  DropBlock();
  return cursor_->GotoBookmark(bookmark, false);
}

void TVEVURADataSet::InternalRefresh() {
  DropBlock();
  cursor_->Refresh();
  if (lookup_cursor_ != nullptr) lookup_cursor_->Refresh();
}

int64_t TVEVURADataSet::GetRecordCount() {
  return cursor_ != nullptr ? cursor_->GetRecordCount() : 0;
}

int64_t TVEVURADataSet::GetRecNo() {
  uint8_t* buffer = ActiveBuffer();
  if (buffer == nullptr || cursor_ == nullptr) return 0;
  int32_t recno = Load<int32_t>(buffer + recno_offset_);
  if (recno == kUnknownRecNo) {
    // Asked for the first time: from the cursor, standing on the record.
    const TBookmark here = cursor_->GetBookmark();
    const TBookmark wanted = GetBookmarkData(buffer);
    if (here != wanted) cursor_->GotoBookmark(wanted, true);
    recno = static_cast<int32_t>(std::min<int64_t>(cursor_->GetRecNo(), INT32_MAX));
    if (here != wanted && !here.empty()) cursor_->GotoBookmark(here, true);
    std::memcpy(buffer + recno_offset_, &recno, sizeof recno);
  }
  return recno;
}

void TVEVURADataSet::SetRecNoTo(int64_t n) {
  DropBlock();
  cursor_->SetRecNo(n);
}

TBookmark TVEVURADataSet::GetBookmarkData(const uint8_t* buffer) const {
  return TBookmark(buffer + bookmark_offset_, buffer + bookmark_offset_ + bookmark_size_);
}

TBookmarkFlag TVEVURADataSet::GetBookmarkFlag(const uint8_t* buffer) const {
  return static_cast<TBookmarkFlag>(buffer[flag_offset_]);
}

void TVEVURADataSet::SetBookmarkFlag(uint8_t* buffer, TBookmarkFlag flag) {
  buffer[flag_offset_] = flag;
}

bool TVEVURADataSet::BookmarkValid(const TBookmark& bookmark) {
  if (cursor_ == nullptr || bookmark.empty()) return false;
  // Asking moves the cursor: the next step puts it back.
  DropBlock();
  const bool valid = cursor_->GotoBookmark(bookmark, false);
  CursorMoved();
  return valid;
}

int TVEVURADataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  if (a.empty() && b.empty()) return 0;
  if (a.empty()) return 1;
  if (b.empty()) return -1;
  if (cursor_ == nullptr) return 0;
  const int answer = cursor_->CompareBookmarks(a, b);
  return answer == 2 ? 0 : answer;
}

// ----- Field data -----

const TFieldDescriptor* TVEVURADataSet::DescriptorOf(const TField& field) const {
  if (cursor_ == nullptr) return nullptr;
  const auto& fields = cursor_->Fields();
  const int32_t n = field.FieldNo();
  if (n < 1 || static_cast<size_t>(n) > fields.size()) return nullptr;
  return &fields[static_cast<size_t>(n - 1)];
}

bool TVEVURADataSet::ReadFieldData(const TField& field, const uint8_t* buffer,
                                   std::span<uint8_t> out) const {
  if (field.FieldKind() != fkData) {
    const uint8_t* slot = buffer + calc_offset_ + field.CalcOffset();
    if (slot[0] == 0) return false;
    std::memcpy(out.data(), slot + 1, std::min(out.size(), field.DataSize()));
    return true;
  }
  const TFieldDescriptor* d = DescriptorOf(field);
  if (d == nullptr) return false;
  const auto record = EngineRecord(buffer);
  if (FieldIsNull(record, *d)) return false;
  const auto data = FieldData(record, *d);
  const size_t n = std::min(out.size(), data.size());
  std::memcpy(out.data(), data.data(), n);
  std::memset(out.data() + n, 0, out.size() - n);
  return true;
}

void TVEVURADataSet::WriteEngineField(uint8_t* buffer, const TField& field, const uint8_t* data) {
  const TFieldDescriptor* d = DescriptorOf(field);
  if (d == nullptr) throw EDatabaseError(msg::SFieldIndexError);
  const auto record = EngineRecord(buffer);
  if (data == nullptr) return SetFieldNull(record, *d);
  switch (d->Type) {
    case fcString: {
      const auto* chars = reinterpret_cast<const char*>(data);
      return SetStringField(record, *d, std::string_view(chars, strnlen(chars, field.DataSize())),
                            lcid_);
    }
    case fcDate:
      return SetDateField(record, *d, Load<int32_t>(data));
    case fcTime:
      return SetTimeField(record, *d, Load<int32_t>(data));
    case fcTimeStamp:
      return SetTimeStampField(record, *d, Load<double>(data));
    case fcBoolean:
      return SetBooleanField(record, *d, Load<uint16_t>(data));
    case fcSmallInt:
      return SetSmallIntField(record, *d, Load<int16_t>(data));
    case fcInteger:
    case fcInteger32:
      return SetIntegerField(record, *d, Load<int32_t>(data));
    case fcWord:
      return SetWordField(record, *d, Load<uint16_t>(data));
    case fcLargeInt:
      return SetLargeIntField(record, *d, Load<int64_t>(data));
    case fcFloat:
      return SetFloatField(record, *d, Load<double>(data));
    case fcBCD:
      return SetBcdField(record, *d, DecodeBcd(data));
    case fcBytes:
    case fcVarBytes:
    case fcTenBytes:
      return SetBytesField(record, *d, std::span<const uint8_t>(data, field.DataSize()));
    default:
      throw EDatabaseError("Cannot access field '" + field.FieldName() + "' as type " +
                           FieldTypeName(field.DataType()));
  }
}

void TVEVURADataSet::WriteFieldData(TField& field, const uint8_t* data) {
  const TDataSetState state = State();
  if (state == dsOldValue)
    throw EDatabaseError(FormatMessage(msg::SFieldReadOnly, field.DisplayName()));
  if (!IsWritingState(state)) throw EDatabaseError(msg::SNotEditing);
  if (state == dsSetKey && (field.FieldKind() != fkData || !FieldInIndex(field.FieldNo()))) {
    throw EDatabaseError(FormatMessage(msg::SFieldNotIndexField, field.DisplayName()));
  }
  uint8_t* buffer = ActiveBuffer();
  if (buffer == nullptr) throw EDatabaseError(msg::SNotEditing);
  if (field.FieldKind() != fkData) {
    uint8_t* slot = buffer + calc_offset_ + field.CalcOffset();
    slot[0] = data != nullptr ? 1 : 0;
    if (data != nullptr) {
      std::memcpy(slot + 1, data, field.DataSize());
    } else {
      std::memset(slot + 1, 0, field.DataSize());
    }
    if (state != dsCalcFields) FieldChanged(field);
    return;
  }
  if (state == dsCalcFields) throw EDatabaseError(msg::SNotEditing);
  if (state == dsInternalCalc) return WriteEngineField(buffer, field, data);
  if (field.ReadOnly() && state != dsSetKey && state != dsFilter) {
    throw EDatabaseError(FormatMessage(msg::SFieldReadOnly, field.DisplayName()));
  }
  if (field.IsBlob()) {
    // A BLOB's value goes through its stream; null is an empty BLOB.
    if (data == nullptr) CreateBlobStream(field, bmWrite).reset();
    return;
  }
  ValidateField(field, data);
  WriteEngineField(buffer, field, data);
  if (state == dsSetKey) {
    TKeyBuffer& key = keys_[editing_key_];
    key.Modified = true;
    for (int i = 0; i < index_field_count_; ++i) {
      if (index_fields_[i] == field.FieldNo()) key.FieldCount = std::max(key.FieldCount, i + 1);
    }
  }
  if (state != dsFilter && state != dsNewValue) FieldChanged(field);
}

void TVEVURADataSet::WriteInternal(uint8_t* buffer, TField& field, const TValue& value) {
  WithTempState(dsInternalCalc, buffer, [&] { field.SetValue(value); });
}

uint8_t* TVEVURADataSet::OldValuesBuffer() const {
  return old_values_.empty() ? nullptr : old_values_.data();
}

uint8_t* TVEVURADataSet::KeyBuffer() const {
  const auto& key = keys_[editing_key_];
  return key.Data.empty() ? nullptr : const_cast<uint8_t*>(key.Data.data());
}

void TVEVURADataSet::ClearCalcFields(uint8_t* buffer) {
  std::memset(buffer + calc_offset_, 0, CalcFieldsSize());
}

// ----- Editing -----

void TVEVURADataSet::ResetBlobFlags() {
  for (const auto& field : Fields()) {
    // Only BLOB types make BLOB fields: the cheap test spares the cast.
    if (!field->IsBlob()) continue;
    if (auto* blob = dynamic_cast<TBlobField*>(field.get())) blob->SetModified(false);
  }
}

void TVEVURADataSet::InternalInitRecord(uint8_t* buffer, std::span<const uint8_t> previous) {
  DropBlock();
  ResetBlobFlags();
  const auto record = EngineRecord(buffer);
  cursor_->InitRecord(record);
  if (copy_on_append_ && !previous.empty()) {
    std::memcpy(buffer, previous.data(), record_size_);
    std::memcpy(old_values_.data(), buffer, RecordBufferSize());
  } else {
    std::memcpy(old_values_.data(), buffer, RecordBufferSize());
  }
  const int32_t unknown = kUnknownRecNo;
  std::memcpy(buffer + recno_offset_, &unknown, sizeof unknown);
  std::memset(buffer + bookmark_offset_, 0, bookmark_size_);
}

void TVEVURADataSet::DoOnNewRecord() {
  TDataSet::DoOnNewRecord();
  CopyMasterValues();
}

void TVEVURADataSet::InternalEdit(uint8_t* buffer) {
  DropBlock();
  ResetBlobFlags();
  const int code = cursor_->GetCurrentRecord(EngineRecord(buffer), true);
  if (code != kCursorOnRecord) RaiseTableError(static_cast<uint16_t>(code), message_table_);
  std::memcpy(old_values_.data(), buffer, RecordBufferSize());
}

void TVEVURADataSet::InternalPost(uint8_t* buffer) {
  if (State() == dsInsert) {
    cursor_->InsertRecord(EngineRecord(buffer), true);
  } else {
    cursor_->ModifyRecord(EngineRecord(buffer), true, true);
  }
  FillTail(buffer);
  ResetBlobFlags();
}

void TVEVURADataSet::InternalCancel(uint8_t* buffer) {
  if (State() == dsEdit) {
    cursor_->CancelEdit();
  } else {
    cursor_->DropBlobBuffers(EngineRecord(buffer));
  }
  ResetBlobFlags();
}

void TVEVURADataSet::InternalDelete(uint8_t* buffer) {
  DropBlock();
  cursor_->DeleteRecord(EngineRecord(buffer), true);
}

// ----- BLOBs -----

std::unique_ptr<TStream> TVEVURADataSet::CreateBlobStream(TField& field, TBlobStreamMode mode) {
  return std::make_unique<TVEVURABlobStream>(*this, field, mode);
}

// ----- Keys and ranges -----

bool TVEVURADataSet::FieldInIndex(int32_t field_no) const {
  for (int i = 0; i < index_field_count_; ++i) {
    if (index_fields_[i] == field_no) return true;
  }
  return false;
}

TField* TVEVURADataSet::IndexField(int index) const {
  if (index < 0 || index >= index_field_count_) throw EDatabaseError(msg::SFieldIndexError);
  TField* field = Fields().FindByNumber(index_fields_[index]);
  if (field == nullptr) {
    const auto& fields = cursor_->Fields();
    const uint16_t n = index_fields_[index];
    const std::string name = n >= 1 && n <= fields.size() ? fields[n - 1].Name : std::to_string(n);
    throw EDatabaseError(FormatMessage(msg::SIndexFieldMissing, name));
  }
  return field;
}

void TVEVURADataSet::BeginKeyEdit(TKeyIndex key, bool clear) {
  CheckBrowseMode();
  editing_key_ = key;
  saved_key_ = keys_[key];
  if (clear) {
    std::fill(keys_[key].Data.begin(), keys_[key].Data.end(), 0);
    keys_[key].FieldCount = 0;
  }
  keys_[key].Modified = false;
  SetState(dsSetKey);
}

void TVEVURADataSet::SetKey() {
  BeginKeyEdit(kiLookup, true);
}
void TVEVURADataSet::EditKey() {
  BeginKeyEdit(kiLookup, false);
}
void TVEVURADataSet::SetRangeStart() {
  BeginKeyEdit(kiRangeStart, true);
}
void TVEVURADataSet::SetRangeEnd() {
  BeginKeyEdit(kiRangeEnd, true);
}
void TVEVURADataSet::EditRangeStart() {
  BeginKeyEdit(kiRangeStart, false);
}
void TVEVURADataSet::EditRangeEnd() {
  BeginKeyEdit(kiRangeEnd, false);
}

void TVEVURADataSet::PostKey() {
  // The key keeps its "modified" mark until it is used.
}

void TVEVURADataSet::CancelKey() {
  keys_[editing_key_] = saved_key_;
}

bool TVEVURADataSet::GotoKey() {
  CheckBrowseMode();
  const TKeyBuffer& key = keys_[kiLookup];
  DoBeforeScroll();
  DropBlock();
  const bool found =
      cursor_->FindKey(key.Data, false, key.FieldCount, 0, false, std::span<uint8_t>());
  if (!found) {
    CursorMoved();
    return false;
  }
  TakeFoundRecord();
  return true;
}

void TVEVURADataSet::GotoNearest() {
  CheckBrowseMode();
  const TKeyBuffer& key = keys_[kiLookup];
  DoBeforeScroll();
  DropBlock();
  cursor_->FindKey(key.Data, false, key.FieldCount, 0, true, std::span<uint8_t>());
  TakeFoundRecord();
}

int TVEVURADataSet::BuildKey(const std::vector<TValue>& values, std::vector<uint8_t>& key) {
  key.assign(record_size_, 0);
  const int n = std::min<int>(static_cast<int>(values.size()), index_field_count_);
  for (int i = 0; i < n; ++i) WriteInternal(key.data(), *IndexField(i), values[i]);
  return n;
}

bool TVEVURADataSet::FindKey(const std::vector<TValue>& values) {
  CheckBrowseMode();
  TKeyBuffer& key = keys_[kiLookup];
  key.FieldCount = BuildKey(values, key.Data);
  return GotoKey();
}

void TVEVURADataSet::FindNearest(const std::vector<TValue>& values) {
  CheckBrowseMode();
  TKeyBuffer& key = keys_[kiLookup];
  key.FieldCount = BuildKey(values, key.Data);
  GotoNearest();
}

void TVEVURADataSet::ApplyRange() {
  CheckBrowseMode();
  SetCursorRange();
  First();
}

void TVEVURADataSet::SetCursorRange() {
  const TKeyBuffer& low = keys_[kiRangeStart];
  const TKeyBuffer& high = keys_[kiRangeEnd];
  DropBlock();
  const std::span<const uint8_t> none;
  cursor_->SetRange(
      false, low.FieldCount > 0 ? std::span<const uint8_t>(low.Data) : none, low.FieldCount,
      high.FieldCount > 0 ? std::span<const uint8_t>(high.Data) : none, high.FieldCount);
  range_applied_ = true;
}

void TVEVURADataSet::SetKeyRange(const std::vector<TValue>& low, const std::vector<TValue>& high) {
  keys_[kiRangeStart].FieldCount = BuildKey(low, keys_[kiRangeStart].Data);
  keys_[kiRangeEnd].FieldCount = BuildKey(high, keys_[kiRangeEnd].Data);
  SetCursorRange();
}

void TVEVURADataSet::CancelRange() {
  CheckBrowseMode();
  if (!cursor_->RangeActive() && !range_applied_) return;
  DropBlock();
  cursor_->CancelRange();
  range_applied_ = false;
  Resync();
  DataEvent(deDataSetChange);
}

void TVEVURADataSet::SetRange(const std::vector<TValue>& low, const std::vector<TValue>& high) {
  CheckBrowseMode();
  SetKeyRange(low, high);
  First();
}

void TVEVURADataSet::IndexChanged() {
  DropBlock();
  lookup_cursor_.reset();
  lookup_index_.clear();
  LoadIndexKeyInfo();
  LayOutBuffers();
  ResizeBuffers();
  old_values_.assign(RecordBufferSize(), 0);
  for (TKeyBuffer& key : keys_) key = TKeyBuffer{false, 0, std::vector<uint8_t>(record_size_, 0)};
  range_applied_ = false;
}

// ----- Locate and lookup -----

bool TVEVURADataSet::KeysLeadIndex(const std::vector<TField*>& fields, TLocateOptions options,
                                   const TIndexDescriptor& index) const {
  if (fields.empty() || fields.size() > index.FieldCount) return false;
  bool has_string = false;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i]->FieldKind() != fkData || fields[i]->FieldNo() != index.FieldNumbers[i]) {
      return false;
    }
    has_string =
        has_string || fields[i]->DataType() == ftString || fields[i]->DataType() == ftFixedChar;
  }
  // String keys compare as the index does: its case rule must be the one asked for.
  return !has_string || (index.CaseInsensitive != 0) == options.Contains(loCaseInsensitive);
}

bool TVEVURADataSet::RecordMatches(uint8_t* buffer, const std::vector<TField*>& fields,
                                   const std::vector<TValue>& values, TLocateOptions options) {
  std::vector<uint8_t> expected(record_size_, 0);
  return WithTempState(dsFilter, buffer, [&] {
    for (size_t i = 0; i < fields.size(); ++i) {
      const TValue have = fields[i]->Value();
      if (IsNull(values[i]) || IsNull(have)) {
        if (IsNull(values[i]) != IsNull(have)) return false;
        continue;
      }
      std::string a = fields[i]->AsString();
      // The searched value in the field's own form (cut, trimmed, cased).
      WriteInternal(expected.data(), *fields[i], values[i]);
      std::string b =
          WithTempState(dsFilter, expected.data(), [&] { return fields[i]->AsString(); });
      if (options.Contains(loPartialKey) && i + 1 == fields.size() && a.size() > b.size()) {
        a.resize(b.size());
      }
      if (options.Contains(loCaseInsensitive)) {
        a = platform::UpperCase(lcid_, a);
        b = platform::UpperCase(lcid_, b);
      }
      if (a != b) return false;
    }
    return true;
  });
}

bool TVEVURADataSet::FindOnIndex(TDataCursor& cursor, const std::vector<TField*>& fields,
                                 const std::vector<TValue>& values, TLocateOptions options,
                                 uint8_t* buffer) {
  std::vector<uint8_t> key(record_size_, 0);
  for (size_t i = 0; i < fields.size(); ++i) WriteInternal(key.data(), *fields[i], values[i]);
  int partial = 0;
  const TField& last = *fields.back();
  if (options.Contains(loPartialKey) && last.DataType() == ftString) {
    partial = static_cast<int>(std::min<size_t>(ValueText(values.back()).size(), last.Size()));
  }
  const int count = static_cast<int>(fields.size());
  const int field_count = partial > 0 ? count - 1 : count;
  cursor.FindKey(key, false, field_count, partial, true, EngineRecord(buffer));
  if (cursor.AtEnd() || cursor.AtBeginning()) return false;
  // The index stands on the first key not below the search: check it.
  if (cursor.GetCurrentRecord(EngineRecord(buffer), false) != kCursorOnRecord) return false;
  return RecordMatches(buffer, fields, values, options);
}

bool TVEVURADataSet::FindAcceptedOnIndex(TDataCursor& cursor, const std::vector<TField*>& fields,
                                         const std::vector<TValue>& values, TLocateOptions options,
                                         uint8_t* buffer, const std::function<bool()>& accept) {
  bool found = FindOnIndex(cursor, fields, values, options, buffer);
  while (found && !accept()) {
    found = cursor.Next(EngineRecord(buffer)) == kCursorOnRecord &&
            RecordMatches(buffer, fields, values, options);
  }
  return found;
}

TDataCursor* TVEVURADataSet::LookupCursorFor(const std::vector<TField*>& fields,
                                             TLocateOptions options) {
  if (lookup_cursor_ != nullptr) {
    for (uint8_t n = 0; n <= cursor_->SecondaryIndexCount(); ++n) {
      const TIndexDescriptor d = cursor_->IndexDescriptor(n);
      if (SameName(d.Name, lookup_index_) && (n > 0 || cursor_->HasPrimaryIndex()) &&
          KeysLeadIndex(fields, options, d)) {
        return lookup_cursor_.get();
      }
    }
  }
  for (uint8_t n = 0; n <= cursor_->SecondaryIndexCount(); ++n) {
    if (n == 0 && !cursor_->HasPrimaryIndex()) continue;
    const TIndexDescriptor d = cursor_->IndexDescriptor(n);
    if (d.Descending != 0 || !KeysLeadIndex(fields, options, d)) continue;
    auto cursor = cursor_->CloneCursor();
    cursor->SwitchToIndex(n == 0 ? std::string() : d.Name);
    cursor->CancelRange();
    lookup_cursor_ = std::move(cursor);
    lookup_index_ = n == 0 ? std::string() : d.Name;
    return lookup_cursor_.get();
  }
  return nullptr;
}

bool TVEVURADataSet::StandOnRecordOf(const uint8_t* buffer, int32_t record_number) {
  return cursor_->GotoBookmark(cursor_->BookmarkOfRecord(EngineRecord(buffer), record_number),
                               false);
}

bool TVEVURADataSet::Locate(const std::string& key_fields, const std::vector<TValue>& values,
                            TLocateOptions options) {
  CheckBrowseMode();
  const std::vector<TField*> fields = GetKeyFields(key_fields, values);
  DoBeforeScroll();
  DropBlock();
  std::vector<uint8_t> buffer(RecordBufferSize(), 0);
  bool found = false;
  if (!cursor_->RecordNumberOrder() &&
      KeysLeadIndex(fields, options, cursor_->IndexDescriptor(cursor_->ActiveIndex()))) {
    found =
        FindAcceptedOnIndex(*cursor_, fields, values, options, buffer.data(), [] { return true; });
  } else if (TDataCursor* lookup = LookupCursorFor(fields, options)) {
    found = FindAcceptedOnIndex(*lookup, fields, values, options, buffer.data(), [&] {
      // The lookup cursor has the filters too; the main cursor stands on it.
      if (!StandOnRecordOf(buffer.data(), lookup->RecordNumber())) return false;
      FillTail(buffer.data());
      return true;
    });
  } else {
    found = ScanForRecord(fields, values, options, buffer.data());
  }
  if (!found) {
    CursorMoved();
    return false;
  }
  TakeFoundRecord();
  return true;
}

std::vector<TValue> TVEVURADataSet::Lookup(const std::string& key_fields,
                                           const std::vector<TValue>& values,
                                           const std::string& result_fields) {
  CheckBrowseMode();
  const std::vector<TField*> keys = GetKeyFields(key_fields, values);
  const std::vector<TField*> results = GetFieldList(result_fields);
  DropBlock();
  std::vector<uint8_t> buffer(RecordBufferSize(), 0);
  bool found = false;
  if (TDataCursor* lookup = LookupCursorFor(keys, {})) {
    // The lookup cursor has the filters: a record they hide is not found.
    found = FindAcceptedOnIndex(*lookup, keys, values, {}, buffer.data(), [] { return true; });
  } else {
    found = ScanForRecord(keys, values, {}, buffer.data());
    CursorMoved();
  }
  if (!found) return {};
  return ValuesIn(buffer.data(), results);
}

// ===========================================================================
// TVEVURADBDataSet

TVEVURADBDataSet::TVEVURADBDataSet(TComponent* owner) : TVEVURADataSet(owner) {}

TVEVURADBDataSet::~TVEVURADBDataSet() {
  try {
    Close();
  } catch (...) {
  }
  try {
    DropAllFlags();
  } catch (...) {
  }
}

std::string TVEVURADBDataSet::EngineVersion() const {
  return kEngineVersion;
}

void TVEVURADBDataSet::SetDatabaseName(const std::string& name) {
  const std::string normalized = NormalizeDatabaseName(name);
  if (normalized == database_name_) return;
  CheckInactive();
  database_name_ = normalized;
}

void TVEVURADBDataSet::SetSessionName(const std::string& name) {
  if (name == session_name_) return;
  CheckInactive();
  session_name_ = name;
}

TVEVURASession& TVEVURADBDataSet::DBSession() const {
  return Sessions().GetSession(session_name_);
}

void TVEVURADBDataSet::SetDBFlag(int n, bool value) {
  const uint16_t bit = static_cast<uint16_t>(1u << n);
  if (value) {
    if ((flags_ & bit) != 0) return;
    if (flags_ == 0) {
      TVEVURADatabase& database = DBSession().OpenDatabase(database_name_, Owner());
      database_ = &database;
      database.AttachUser(*this);
    }
    flags_ |= bit;
    return;
  }
  if ((flags_ & bit) == 0) return;
  flags_ &= static_cast<uint16_t>(~bit);
  if (flags_ == 0) ReleaseDatabase();
}

void TVEVURADBDataSet::DropAllFlags() {
  if (flags_ == 0) return;
  flags_ = 0;
  ReleaseDatabase();
}

void TVEVURADBDataSet::ReleaseDatabase() {
  if (database_ == nullptr) return;
  TVEVURADatabase* database = database_;
  database_ = nullptr;
  database->DetachUser(*this);
  if (TVEVURASession* session = database->Session()) session->CloseDatabase(database);
}

TDataDirectory& TVEVURADBDataSet::DataDirectory() const {
  TDataDirectory* directory = database_ != nullptr ? database_->DataDirectory() : nullptr;
  if (directory == nullptr) throw EDatabaseError(msg::SDatabaseClosed);
  return *directory;
}

void TVEVURADBDataSet::CloseForDatabase() {
  Close();
  // Flags of one-off operations in progress go with the database.
  DropAllFlags();
}

}  // namespace vevura
