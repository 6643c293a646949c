#include "components/framework/field.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "components/framework/dataset.h"
#include "engine/storage/common/trim.h"
#include "engine/storage/fields/date_encoding.h"
#include "engine/storage/fields/value_text.h"

namespace vevura {

namespace {

template <typename T>
T Load(const uint8_t* data) {
  T value;
  std::memcpy(&value, data, sizeof value);
  return value;
}

template <typename T>
std::array<uint8_t, sizeof(T)> Bytes(T value) {
  std::array<uint8_t, sizeof(T)> bytes;
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

//! Native data of up to 34 bytes (every fixed-size type) read in one go.
struct TFixedData {
  std::array<uint8_t, kBcdSize> Bytes{};
  bool HasValue = false;
};

TFixedData ReadFixed(const TField& field) {
  TFixedData data;
  data.HasValue = field.GetData(std::span<uint8_t>(data.Bytes.data(), field.DataSize()));
  return data;
}

bool IsMemoType(TFieldType type) {
  return type == ftMemo || type == ftFmtMemo || type == ftOraClob || type == ftWideMemo;
}

std::string ReadBlob(TField& field) {
  auto stream = field.DataSet().CreateBlobStream(field, bmRead);
  std::string text(static_cast<size_t>(std::max<int64_t>(stream->Size(), 0)), '\0');
  const int64_t read = stream->Read(text.data(), static_cast<int64_t>(text.size()));
  text.resize(static_cast<size_t>(std::max<int64_t>(read, 0)));
  return text;
}

void WriteBlob(TField& field, const void* data, size_t size) {
  auto stream = field.DataSet().CreateBlobStream(field, bmWrite);
  stream->Write(data, static_cast<int64_t>(size));
}

}  // namespace

// ----- TField -----

TField::TField(TDataSet& dataset, TFieldType type, std::string name, int32_t size, TFieldKind kind)
    : dataset_(dataset), data_type_(type), field_name_(std::move(name)), size_(size), kind_(kind) {}

int TField::Index() const {
  return dataset_.Fields().IndexOf(this);
}

const std::string& TField::DisplayName() const {
  return display_label_.empty() ? field_name_ : display_label_;
}

bool TField::GetData(std::span<uint8_t> out) const {
  return dataset_.GetFieldData(*this, out);
}

void TField::SetData(const uint8_t* data) {
  dataset_.SetFieldData(*this, data);
}

bool TField::IsNull() const {
  if (IsBlob()) return static_cast<const TBlobField*>(this)->BlobSize() == 0;
  std::vector<uint8_t> scratch(DataSize());
  return !GetData(scratch);
}

void TField::Clear() {
  SetData(nullptr);
}

int32_t TField::AsInteger() const {
  const int64_t value = GetAsLargeInt();
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
    RaiseRangeError(std::to_string(value), std::to_string(std::numeric_limits<int32_t>::min()),
                    std::to_string(std::numeric_limits<int32_t>::max()));
  }
  return static_cast<int32_t>(value);
}

TValue TField::Value() const {
  return GetValue();
}

void TField::SetValue(const TValue& value) {
  switch (value.index()) {
    case 0:
      Clear();
      break;
    case 1:
      SetAsBooleanValue(std::get<bool>(value));
      break;
    case 2:
      SetAsLargeIntValue(std::get<int64_t>(value));
      break;
    case 3:
      if (data_type_ == ftDate || data_type_ == ftTime || data_type_ == ftDateTime) {
        SetAsDateTimeValue(std::get<double>(value));
      } else {
        SetAsFloatValue(std::get<double>(value));
      }
      break;
    case 4:
      SetAsStringValue(std::get<std::string>(value));
      break;
    default:
      SetAsBytesValue(std::get<TBytes>(value));
      break;
  }
}

std::string TField::GetAsString() const {
  RaiseAccessError("String");
}
void TField::SetAsStringValue(const std::string&) {
  RaiseAccessError("String");
}
int64_t TField::GetAsLargeInt() const {
  RaiseAccessError("Integer");
}
void TField::SetAsLargeIntValue(int64_t) {
  RaiseAccessError("Integer");
}
double TField::GetAsFloat() const {
  RaiseAccessError("Float");
}
void TField::SetAsFloatValue(double) {
  RaiseAccessError("Float");
}
bool TField::GetAsBoolean() const {
  RaiseAccessError("Boolean");
}
void TField::SetAsBooleanValue(bool) {
  RaiseAccessError("Boolean");
}
TDateTime TField::GetAsDateTime() const {
  RaiseAccessError("DateTime");
}
void TField::SetAsDateTimeValue(TDateTime) {
  RaiseAccessError("DateTime");
}
TBcd TField::GetAsBCD() const {
  RaiseAccessError("BCD");
}
void TField::SetAsBCDValue(const TBcd&) {
  RaiseAccessError("BCD");
}
TBytes TField::GetAsBytes() const {
  RaiseAccessError("Bytes");
}
void TField::SetAsBytesValue(const TBytes&) {
  RaiseAccessError("Bytes");
}

void TField::RaiseAccessError(const char* type_name) const {
  throw EDatabaseError("Cannot access field '" + field_name_ + "' as type " + type_name);
}

void TField::RaiseConvertError(const std::string& text, const char* kind) const {
  throw EDatabaseError("'" + text + "' is not a valid " + kind + " for field '" + field_name_ +
                       "'");
}

void TField::RaiseRangeError(const std::string& value, const std::string& min,
                             const std::string& max) const {
  throw EDatabaseError(value + " is not a valid value for field '" + field_name_ +
                       "'. The allowed range is " + min + " to " + max);
}

// ----- TStringField -----

TStringField::TStringField(TDataSet& dataset, std::string name, int32_t size, TFieldKind kind,
                           TFieldType type)
    : TField(dataset, type, std::move(name), size, kind) {}

std::string TStringField::GetAsString() const {
  std::vector<uint8_t> data(DataSize());
  if (!GetData(data)) return {};
  const auto* chars = reinterpret_cast<const char*>(data.data());
  return std::string(chars, strnlen(chars, data.size()));
}

void TStringField::SetAsStringValue(const std::string& value) {
  // The native form is DataSize zero-filled bytes; the common sizes are
  // built on the stack, since a value is set for every field of every row.
  constexpr size_t kStackSize = 256;
  const size_t size = DataSize();
  std::array<uint8_t, kStackSize> stack;
  std::vector<uint8_t> heap;
  uint8_t* data = stack.data();
  if (size > kStackSize) {
    heap.resize(size);
    data = heap.data();
  }
  const size_t n = std::min(value.size(), size - 1);
  std::memcpy(data, value.data(), n);
  std::memset(data + n, 0, size - n);
  SetData(data);
}

int64_t TStringField::GetAsLargeInt() const {
  const std::string text = GetAsString();
  int64_t value = 0;
  if (TrimText(text).empty()) return 0;
  if (!ParseIntegerText(text, std::numeric_limits<int64_t>::min(),
                        std::numeric_limits<int64_t>::max(), &value)) {
    RaiseConvertError(text, "integer value");
  }
  return value;
}

void TStringField::SetAsLargeIntValue(int64_t value) {
  SetAsStringValue(std::to_string(value));
}

double TStringField::GetAsFloat() const {
  const std::string text = GetAsString();
  double value = 0;
  if (TrimText(text).empty()) return 0;
  if (!ParseFloatText(text, &value)) RaiseConvertError(text, "floating point value");
  return value;
}

void TStringField::SetAsFloatValue(double value) {
  SetAsStringValue(FloatText(value));
}

bool TStringField::GetAsBoolean() const {
  const std::string text = GetAsString();
  bool value = false;
  if (TrimText(text).empty()) return false;
  if (!ParseBooleanText(text, &value)) RaiseConvertError(text, "boolean value");
  return value;
}

void TStringField::SetAsBooleanValue(bool value) {
  SetAsStringValue(value ? "True" : "False");
}

TDateTime TStringField::GetAsDateTime() const {
  const std::string text = GetAsString();
  double timestamp = 0;
  if (TrimText(text).empty()) return 0;
  if (!ParseTimeStampText(text, &timestamp)) RaiseConvertError(text, "date and time");
  return timestamp / kMsPerDay - kDayNumberOfZeroDay;
}

void TStringField::SetAsDateTimeValue(TDateTime value) {
  SetAsStringValue(TimeStampText(TimeStampFromDayCount(value)));
}

TValue TStringField::GetValue() const {
  if (IsNull()) return {};
  return GetAsString();
}

// ----- TIntegerField -----

TIntegerField::TIntegerField(TDataSet& dataset, std::string name, TFieldKind kind, TFieldType type)
    : TField(dataset, type, std::move(name), 0, kind) {}

size_t TIntegerField::DataSize() const {
  switch (DataType()) {
    case ftSmallint:
    case ftWord:
      return 2;
    case ftLargeint:
      return 8;
    default:
      return 4;
  }
}

int64_t TIntegerField::MinValue() const {
  switch (DataType()) {
    case ftSmallint:
      return std::numeric_limits<int16_t>::min();
    case ftWord:
      return 0;
    case ftLargeint:
      return std::numeric_limits<int64_t>::min();
    default:
      return std::numeric_limits<int32_t>::min();
  }
}

int64_t TIntegerField::MaxValue() const {
  switch (DataType()) {
    case ftSmallint:
      return std::numeric_limits<int16_t>::max();
    case ftWord:
      return std::numeric_limits<uint16_t>::max();
    case ftLargeint:
      return std::numeric_limits<int64_t>::max();
    default:
      return std::numeric_limits<int32_t>::max();
  }
}

int64_t TIntegerField::GetAsLargeInt() const {
  const TFixedData data = ReadFixed(*this);
  if (!data.HasValue) return 0;
  switch (DataType()) {
    case ftSmallint:
      return Load<int16_t>(data.Bytes.data());
    case ftWord:
      return Load<uint16_t>(data.Bytes.data());
    case ftLargeint:
      return Load<int64_t>(data.Bytes.data());
    default:
      return Load<int32_t>(data.Bytes.data());
  }
}

void TIntegerField::SetAsLargeIntValue(int64_t value) {
  if (value < MinValue() || value > MaxValue()) {
    RaiseRangeError(std::to_string(value), std::to_string(MinValue()), std::to_string(MaxValue()));
  }
  switch (DataType()) {
    case ftSmallint:
      SetData(Bytes(static_cast<int16_t>(value)).data());
      break;
    case ftWord:
      SetData(Bytes(static_cast<uint16_t>(value)).data());
      break;
    case ftLargeint:
      SetData(Bytes(value).data());
      break;
    default:
      SetData(Bytes(static_cast<int32_t>(value)).data());
      break;
  }
}

std::string TIntegerField::GetAsString() const {
  return IsNull() ? std::string() : std::to_string(GetAsLargeInt());
}

void TIntegerField::SetAsStringValue(const std::string& value) {
  if (TrimText(value).empty()) return Clear();
  int64_t number = 0;
  if (!ParseIntegerText(value, std::numeric_limits<int64_t>::min(),
                        std::numeric_limits<int64_t>::max(), &number)) {
    RaiseConvertError(value, "integer value");
  }
  SetAsLargeIntValue(number);
}

double TIntegerField::GetAsFloat() const {
  return static_cast<double>(GetAsLargeInt());
}

void TIntegerField::SetAsFloatValue(double value) {
  const double rounded = std::round(value);
  if (!(rounded >= static_cast<double>(MinValue()) && rounded <= static_cast<double>(MaxValue()))) {
    RaiseRangeError(FloatText(value), std::to_string(MinValue()), std::to_string(MaxValue()));
  }
  SetAsLargeIntValue(static_cast<int64_t>(rounded));
}

bool TIntegerField::GetAsBoolean() const {
  return GetAsLargeInt() != 0;
}
void TIntegerField::SetAsBooleanValue(bool value) {
  SetAsLargeIntValue(value ? 1 : 0);
}

TBcd TIntegerField::GetAsBCD() const {
  TBcd bcd;
  BcdFromText(std::to_string(GetAsLargeInt()), 0, &bcd);
  return bcd;
}

TValue TIntegerField::GetValue() const {
  if (IsNull()) return {};
  return GetAsLargeInt();
}

// ----- TFloatField -----

TFloatField::TFloatField(TDataSet& dataset, std::string name, TFieldKind kind, TFieldType type)
    : TField(dataset, type, std::move(name), 0, kind) {}

double TFloatField::GetAsFloat() const {
  const TFixedData data = ReadFixed(*this);
  return data.HasValue ? Load<double>(data.Bytes.data()) : 0.0;
}

void TFloatField::SetAsFloatValue(double value) {
  if (!std::isfinite(value)) RaiseConvertError(FloatText(value), "floating point value");
  SetData(Bytes(value).data());
}

std::string TFloatField::GetAsString() const {
  return IsNull() ? std::string() : FloatText(GetAsFloat());
}

void TFloatField::SetAsStringValue(const std::string& value) {
  if (TrimText(value).empty()) return Clear();
  double number = 0;
  if (!ParseFloatText(value, &number)) RaiseConvertError(value, "floating point value");
  SetAsFloatValue(number);
}

int64_t TFloatField::GetAsLargeInt() const {
  const double value = std::round(GetAsFloat());
  if (!(value >= -9.2e18 && value <= 9.2e18)) {
    RaiseRangeError(FloatText(value), "-9.2e18", "9.2e18");
  }
  return static_cast<int64_t>(value);
}

void TFloatField::SetAsLargeIntValue(int64_t value) {
  SetAsFloatValue(static_cast<double>(value));
}

TBcd TFloatField::GetAsBCD() const {
  TBcd bcd;
  if (!BcdFromText(FloatText(GetAsFloat()), 16, &bcd)) BcdFromText("0", 0, &bcd);
  return bcd;
}

void TFloatField::SetAsBCDValue(const TBcd& value) {
  SetAsFloatValue(BcdToDouble(value));
}

TValue TFloatField::GetValue() const {
  if (IsNull()) return {};
  return GetAsFloat();
}

// ----- TBCDField -----

TBCDField::TBCDField(TDataSet& dataset, std::string name, int32_t decimals, TFieldKind kind)
    : TField(dataset, ftBCD, std::move(name), decimals, kind) {}

TBcd TBCDField::GetAsBCD() const {
  const TFixedData data = ReadFixed(*this);
  TBcd bcd;
  if (data.HasValue) return DecodeBcd(data.Bytes.data());
  BcdFromText("0", Size(), &bcd);
  return bcd;
}

void TBCDField::SetAsBCDValue(const TBcd& value) {
  // Stored with the field's decimals: the text form is re-read at that scale.
  TBcd scaled;
  const std::string text = BcdToText(value);
  if (!BcdFromText(text, Size(), &scaled)) RaiseConvertError(text, "BCD value");
  std::array<uint8_t, kBcdSize> bytes{};
  EncodeBcd(scaled, bytes.data());
  SetData(bytes.data());
}

std::string TBCDField::GetAsString() const {
  return IsNull() ? std::string() : BcdToText(GetAsBCD());
}

void TBCDField::SetAsStringValue(const std::string& value) {
  if (TrimText(value).empty()) return Clear();
  TBcd bcd;
  if (!BcdFromText(value, Size(), &bcd)) RaiseConvertError(value, "BCD value");
  SetAsBCDValue(bcd);
}

double TBCDField::GetAsFloat() const {
  return BcdToDouble(GetAsBCD());
}

void TBCDField::SetAsFloatValue(double value) {
  if (!std::isfinite(value)) RaiseConvertError(FloatText(value), "BCD value");
  SetAsStringValue(FloatText(value));
}

int64_t TBCDField::GetAsLargeInt() const {
  return static_cast<int64_t>(std::round(GetAsFloat()));
}

void TBCDField::SetAsLargeIntValue(int64_t value) {
  SetAsStringValue(std::to_string(value));
}

TValue TBCDField::GetValue() const {
  if (IsNull()) return {};
  return GetAsFloat();
}

// ----- TBooleanField -----

TBooleanField::TBooleanField(TDataSet& dataset, std::string name, TFieldKind kind)
    : TField(dataset, ftBoolean, std::move(name), 0, kind) {}

bool TBooleanField::GetAsBoolean() const {
  const TFixedData data = ReadFixed(*this);
  return data.HasValue && Load<uint16_t>(data.Bytes.data()) != 0;
}

void TBooleanField::SetAsBooleanValue(bool value) {
  SetData(Bytes(static_cast<uint16_t>(value ? 1 : 0)).data());
}

std::string TBooleanField::GetAsString() const {
  if (IsNull()) return {};
  return GetAsBoolean() ? "True" : "False";
}

void TBooleanField::SetAsStringValue(const std::string& value) {
  const std::string text = TrimText(value);
  if (text.empty()) return Clear();
  bool parsed = false;
  if (ParseBooleanText(text, &parsed)) return SetAsBooleanValue(parsed);
  if (text == "T" || text == "t" || text == "F" || text == "f") {
    return SetAsBooleanValue(text == "T" || text == "t");
  }
  RaiseConvertError(value, "boolean value");
}

int64_t TBooleanField::GetAsLargeInt() const {
  return GetAsBoolean() ? 1 : 0;
}
void TBooleanField::SetAsLargeIntValue(int64_t value) {
  SetAsBooleanValue(value != 0);
}

TValue TBooleanField::GetValue() const {
  if (IsNull()) return {};
  return GetAsBoolean();
}

// ----- TDateTimeField -----

TDateTimeField::TDateTimeField(TDataSet& dataset, std::string name, TFieldKind kind,
                               TFieldType type)
    : TField(dataset, type, std::move(name), 0, kind) {}

size_t TDateTimeField::DataSize() const {
  return DataType() == ftDateTime ? 8 : 4;
}

TDateTime TDateTimeField::GetAsDateTime() const {
  const TFixedData data = ReadFixed(*this);
  if (!data.HasValue) return 0;
  switch (DataType()) {
    case ftDate:
      return static_cast<double>(Load<int32_t>(data.Bytes.data()) - kDayNumberOfZeroDay);
    case ftTime:
      return static_cast<double>(Load<int32_t>(data.Bytes.data())) / kMsPerDay;
    default:
      return Load<double>(data.Bytes.data()) / kMsPerDay - kDayNumberOfZeroDay;
  }
}

void TDateTimeField::SetAsDateTimeValue(TDateTime value) {
  if (!std::isfinite(value) || platform::DecodeDate(value).year == 0) {
    RaiseConvertError(FloatText(value), "date and time");
  }
  switch (DataType()) {
    case ftDate:
      SetData(Bytes(DayNumberFromDayCount(value)).data());
      break;
    case ftTime:
      SetData(Bytes(MillisecondsFromDayCount(value)).data());
      break;
    default:
      SetData(Bytes(TimeStampFromDayCount(value)).data());
      break;
  }
}

std::string TDateTimeField::GetAsString() const {
  const TFixedData data = ReadFixed(*this);
  if (!data.HasValue) return {};
  switch (DataType()) {
    case ftDate:
      return DateText(Load<int32_t>(data.Bytes.data()));
    case ftTime:
      return TimeText(Load<int32_t>(data.Bytes.data()));
    default:
      return TimeStampText(Load<double>(data.Bytes.data()));
  }
}

void TDateTimeField::SetAsStringValue(const std::string& value) {
  if (TrimText(value).empty()) return Clear();
  switch (DataType()) {
    case ftDate: {
      int32_t day = 0;
      if (!ParseDateText(value, &day)) RaiseConvertError(value, "date");
      return SetData(Bytes(day).data());
    }
    case ftTime: {
      int32_t ms = 0;
      if (!ParseTimeText(value, &ms)) RaiseConvertError(value, "time");
      return SetData(Bytes(ms).data());
    }
    default: {
      double timestamp = 0;
      if (!ParseTimeStampText(value, &timestamp)) RaiseConvertError(value, "date and time");
      return SetData(Bytes(timestamp).data());
    }
  }
}

double TDateTimeField::GetAsFloat() const {
  return GetAsDateTime();
}
void TDateTimeField::SetAsFloatValue(double value) {
  SetAsDateTimeValue(value);
}

TValue TDateTimeField::GetValue() const {
  if (IsNull()) return {};
  return GetAsDateTime();
}

// ----- TBytesField -----

TBytesField::TBytesField(TDataSet& dataset, std::string name, int32_t size, TFieldKind kind,
                         TFieldType type)
    : TField(dataset, type, std::move(name), size, kind) {}

TBytes TBytesField::GetAsBytes() const {
  TBytes data(DataSize());
  if (!GetData(data)) return {};
  return data;
}

void TBytesField::SetAsBytesValue(const TBytes& value) {
  TBytes data(DataSize(), 0);
  std::memcpy(data.data(), value.data(), std::min(value.size(), data.size()));
  SetData(data.data());
}

std::string TBytesField::GetAsString() const {
  const TBytes bytes = GetAsBytes();
  return std::string(bytes.begin(), bytes.end());
}

void TBytesField::SetAsStringValue(const std::string& value) {
  SetAsBytesValue(TBytes(value.begin(), value.end()));
}

TValue TBytesField::GetValue() const {
  if (IsNull()) return {};
  return GetAsBytes();
}

// ----- TBlobField -----

TBlobField::TBlobField(TDataSet& dataset, std::string name, TFieldKind kind, TFieldType type)
    : TField(dataset, type, std::move(name), 0, kind) {}

int64_t TBlobField::BlobSize() const {
  return DataSet().CreateBlobStream(const_cast<TBlobField&>(*this), bmRead)->Size();
}

std::string TBlobField::GetAsString() const {
  return ReadBlob(const_cast<TBlobField&>(*this));
}

void TBlobField::SetAsStringValue(const std::string& value) {
  WriteBlob(*this, value.data(), value.size());
}

TBytes TBlobField::GetAsBytes() const {
  const std::string data = ReadBlob(const_cast<TBlobField&>(*this));
  return TBytes(data.begin(), data.end());
}

void TBlobField::SetAsBytesValue(const TBytes& value) {
  WriteBlob(*this, value.data(), value.size());
}

TValue TBlobField::GetValue() const {
  std::string data = ReadBlob(const_cast<TBlobField&>(*this));
  if (data.empty()) return {};
  if (IsMemoType(DataType())) return data;
  return TBytes(data.begin(), data.end());
}

// ----- Making fields -----

std::unique_ptr<TField> MakeField(TDataSet& dataset, TFieldType type, const std::string& name,
                                  int32_t size, TFieldKind kind) {
  switch (type) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftGuid:
      return std::make_unique<TStringField>(dataset, name, size, kind, type);
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
      return std::make_unique<TIntegerField>(dataset, name, kind, type);
    case ftFloat:
    case ftCurrency:
      return std::make_unique<TFloatField>(dataset, name, kind, type);
    case ftBCD:
      return std::make_unique<TBCDField>(dataset, name, size, kind);
    case ftBoolean:
      return std::make_unique<TBooleanField>(dataset, name, kind);
    case ftDate:
    case ftTime:
    case ftDateTime:
      return std::make_unique<TDateTimeField>(dataset, name, kind, type);
    case ftBytes:
    case ftVarBytes:
      return std::make_unique<TBytesField>(dataset, name, size, kind, type);
    default:
      if (IsBlobType(type)) return std::make_unique<TBlobField>(dataset, name, kind, type);
      throw EDatabaseError("Field '" + name + "' is of an unsupported type " + FieldTypeName(type));
  }
}

// ----- TFields -----

TField& TFields::operator[](int index) const {
  if (index < 0 || index >= Count()) throw EDatabaseError(msg::SFieldIndexError);
  return *items_[static_cast<size_t>(index)];
}

TField* TFields::Find(const std::string& name) const {
  for (const auto& f : items_) {
    if (f->FieldName() == name) return f.get();
  }
  for (const auto& f : items_) {
    if (SameName(f->FieldName(), name)) return f.get();
  }
  return nullptr;
}

TField* TFields::FindByNumber(int32_t field_no) const {
  for (const auto& f : items_) {
    if (f->FieldNo() == field_no && f->FieldKind() == fkData) return f.get();
  }
  return nullptr;
}

TField& TFields::Add(std::unique_ptr<TField> field) {
  items_.push_back(std::move(field));
  return *items_.back();
}

void TFields::RemoveDefaultFields() {
  std::erase_if(items_, [](const auto& f) { return !f->IsPersistent(); });
}

int TFields::IndexOf(const TField* field) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].get() == field) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace vevura
