#pragma once
// Field objects: one per column of an open dataset (or per calculated
// value), giving and taking the value of that column in the dataset's
// current record buffer.
//
// A field keeps no value of its own. Reading asks the dataset for the
// field's data in the current record (TDataSet::GetFieldData) in the
// field's native form; writing hands the dataset new native data
// (TDataSet::SetFieldData), which checks the dataset's state, runs
// OnValidate with the new value visible (state dsNewValue) and stores it.
//
// Native forms (DataSize bytes): strings their characters and a zero byte
// (Size + 1 bytes); small integers int16, integers and auto-increment
// int32, words uint16, large integers int64, booleans uint16 0 or 1; floats
// and currency double; BCD the 34-byte decimal (bcd.h); dates an int32 day
// number (0001-01-01 is 1), times int32 milliseconds since midnight,
// date-times a double of day number × 86400000 + milliseconds; bytes their
// Size bytes. BLOB and memo fields have no native form: their value moves
// through a BLOB stream of the dataset.
//
// Every field converts between its type and the As... accessors where the
// conversion makes sense; a conversion that does not exists raises
// "Cannot access field '%s' as type %s", a text that does not convert
// raises a message naming the text, and a number outside the field's range
// raises a message giving the range.
//
// Ownership: fields are owned by their dataset's TFields.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "components/framework/db_types.h"
#include "engine/storage/fields/bcd.h"

namespace vevura {

class TDataSet;

class TField {
 public:
  TField(TDataSet& dataset, TFieldType type, std::string name, int32_t size, TFieldKind kind);
  virtual ~TField() = default;
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  // ----- Identity -----
  TDataSet& DataSet() const { return dataset_; }
  const std::string& FieldName() const { return field_name_; }
  TFieldType DataType() const { return data_type_; }
  int32_t Size() const { return size_; }
  TFieldKind FieldKind() const { return kind_; }
  //! Number of the column in the dataset's records (0 for calculated fields).
  int32_t FieldNo() const { return field_no_; }
  //! Place among the dataset's fields.
  int Index() const;
  //! Made by the application (kept while the dataset is closed), or made by
  //! the dataset on open from its field definitions.
  bool IsPersistent() const { return persistent_; }
  const std::string& DisplayLabel() const { return display_label_; }
  void SetDisplayLabel(const std::string& label) { display_label_ = label; }
  //! DisplayLabel, or the field name when it has none.
  const std::string& DisplayName() const;
  //! Where the value comes from: "<table>.<field>" for a table's column.
  const std::string& Origin() const { return origin_; }
  void SetOrigin(const std::string& origin) { origin_ = origin; }
  bool Required() const { return required_; }
  void SetRequired(bool required) { required_ = required; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool read_only) { read_only_ = read_only; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { visible_ = visible; }
  //! Bytes of the native form; 0 for BLOB fields.
  virtual size_t DataSize() const = 0;
  bool IsBlob() const { return IsBlobType(data_type_); }

  // ----- Value -----
  bool IsNull() const;
  //! Makes the value null.
  void Clear();
  std::string AsString() const { return GetAsString(); }
  void SetAsString(const std::string& value) { SetAsStringValue(value); }
  int32_t AsInteger() const;
  void SetAsInteger(int32_t value) { SetAsLargeIntValue(value); }
  int64_t AsLargeInt() const { return GetAsLargeInt(); }
  void SetAsLargeInt(int64_t value) { SetAsLargeIntValue(value); }
  double AsFloat() const { return GetAsFloat(); }
  void SetAsFloat(double value) { SetAsFloatValue(value); }
  double AsCurrency() const { return GetAsFloat(); }
  void SetAsCurrency(double value) { SetAsFloatValue(value); }
  bool AsBoolean() const { return GetAsBoolean(); }
  void SetAsBoolean(bool value) { SetAsBooleanValue(value); }
  TDateTime AsDateTime() const { return GetAsDateTime(); }
  void SetAsDateTime(TDateTime value) { SetAsDateTimeValue(value); }
  TBcd AsBCD() const { return GetAsBCD(); }
  void SetAsBCD(const TBcd& value) { SetAsBCDValue(value); }
  TBytes AsBytes() const { return GetAsBytes(); }
  void SetAsBytes(const TBytes& value) { SetAsBytesValue(value); }
  //! The value in its natural TValue alternative (db_types.h).
  TValue Value() const;
  //! Takes any TValue; null clears the field.
  void SetValue(const TValue& value);

  // ----- Events -----
  //! Runs before a new value is stored; the field reads as the new value.
  std::function<void(TField& sender)> OnValidate;
  //! Runs after the value changed.
  std::function<void(TField& sender)> OnChange;

  // ----- Used by the dataset -----
  //! The native data of the current record into out; false when null.
  bool GetData(std::span<uint8_t> out) const;
  //! Stores native data (nullptr: null) through the dataset.
  void SetData(const uint8_t* data);
  void Bind(int32_t field_no) { field_no_ = field_no; }
  void MarkPersistent() { persistent_ = true; }
  //! Offset of a calculated field's slot in the calculated area.
  size_t CalcOffset() const { return calc_offset_; }
  void SetCalcOffset(size_t offset) { calc_offset_ = offset; }

 protected:
  virtual std::string GetAsString() const;
  virtual void SetAsStringValue(const std::string& value);
  virtual int64_t GetAsLargeInt() const;
  virtual void SetAsLargeIntValue(int64_t value);
  virtual double GetAsFloat() const;
  virtual void SetAsFloatValue(double value);
  virtual bool GetAsBoolean() const;
  virtual void SetAsBooleanValue(bool value);
  virtual TDateTime GetAsDateTime() const;
  virtual void SetAsDateTimeValue(TDateTime value);
  virtual TBcd GetAsBCD() const;
  virtual void SetAsBCDValue(const TBcd& value);
  virtual TBytes GetAsBytes() const;
  virtual void SetAsBytesValue(const TBytes& value);
  virtual TValue GetValue() const = 0;

  [[noreturn]] void RaiseAccessError(const char* type_name) const;
  [[noreturn]] void RaiseConvertError(const std::string& text, const char* kind) const;
  [[noreturn]] void RaiseRangeError(const std::string& value, const std::string& min,
                                    const std::string& max) const;

 private:
  TDataSet& dataset_;
  TFieldType data_type_;
  std::string field_name_;
  int32_t size_;
  TFieldKind kind_;
  int32_t field_no_ = 0;
  bool persistent_ = false;
  std::string display_label_;
  std::string origin_;
  bool required_ = false;
  bool read_only_ = false;
  bool visible_ = true;
  size_t calc_offset_ = 0;
};

//! ftString, ftFixedChar, ftWideString and ftGuid.
class TStringField : public TField {
 public:
  TStringField(TDataSet& dataset, std::string name, int32_t size, TFieldKind kind = fkData,
               TFieldType type = ftString);
  size_t DataSize() const override { return static_cast<size_t>(Size()) + 1; }

 protected:
  std::string GetAsString() const override;
  //! Keeps the first Size characters.
  void SetAsStringValue(const std::string& value) override;
  int64_t GetAsLargeInt() const override;
  void SetAsLargeIntValue(int64_t value) override;
  double GetAsFloat() const override;
  void SetAsFloatValue(double value) override;
  bool GetAsBoolean() const override;
  void SetAsBooleanValue(bool value) override;
  TDateTime GetAsDateTime() const override;
  void SetAsDateTimeValue(TDateTime value) override;
  TValue GetValue() const override;
};

//! ftSmallint, ftInteger, ftWord, ftAutoInc and ftLargeint: whole numbers
//! within the type's range.
class TIntegerField : public TField {
 public:
  TIntegerField(TDataSet& dataset, std::string name, TFieldKind kind = fkData,
                TFieldType type = ftInteger);
  size_t DataSize() const override;
  int64_t MinValue() const;
  int64_t MaxValue() const;

 protected:
  std::string GetAsString() const override;
  void SetAsStringValue(const std::string& value) override;
  int64_t GetAsLargeInt() const override;
  void SetAsLargeIntValue(int64_t value) override;
  double GetAsFloat() const override;
  //! Rounds to the nearest whole number.
  void SetAsFloatValue(double value) override;
  bool GetAsBoolean() const override;
  void SetAsBooleanValue(bool value) override;
  TBcd GetAsBCD() const override;
  TValue GetValue() const override;
};

using TSmallintField = TIntegerField;
using TWordField = TIntegerField;
using TAutoIncField = TIntegerField;
using TLargeintField = TIntegerField;

//! ftFloat and ftCurrency.
class TFloatField : public TField {
 public:
  TFloatField(TDataSet& dataset, std::string name, TFieldKind kind = fkData,
              TFieldType type = ftFloat);
  size_t DataSize() const override { return sizeof(double); }

 protected:
  std::string GetAsString() const override;
  void SetAsStringValue(const std::string& value) override;
  int64_t GetAsLargeInt() const override;
  void SetAsLargeIntValue(int64_t value) override;
  double GetAsFloat() const override;
  void SetAsFloatValue(double value) override;
  TBcd GetAsBCD() const override;
  void SetAsBCDValue(const TBcd& value) override;
  TValue GetValue() const override;
};

using TCurrencyField = TFloatField;

//! ftBCD: Size is the number of decimals.
class TBCDField : public TField {
 public:
  TBCDField(TDataSet& dataset, std::string name, int32_t decimals, TFieldKind kind = fkData);
  size_t DataSize() const override { return kBcdSize; }

 protected:
  std::string GetAsString() const override;
  void SetAsStringValue(const std::string& value) override;
  int64_t GetAsLargeInt() const override;
  void SetAsLargeIntValue(int64_t value) override;
  double GetAsFloat() const override;
  void SetAsFloatValue(double value) override;
  TBcd GetAsBCD() const override;
  void SetAsBCDValue(const TBcd& value) override;
  TValue GetValue() const override;
};

class TBooleanField : public TField {
 public:
  TBooleanField(TDataSet& dataset, std::string name, TFieldKind kind = fkData);
  size_t DataSize() const override { return sizeof(uint16_t); }

 protected:
  //! "True" or "False".
  std::string GetAsString() const override;
  //! "True"/"False" (any case, or their first letters); "" is null.
  void SetAsStringValue(const std::string& value) override;
  int64_t GetAsLargeInt() const override;
  void SetAsLargeIntValue(int64_t value) override;
  bool GetAsBoolean() const override;
  void SetAsBooleanValue(bool value) override;
  TValue GetValue() const override;
};

//! ftDate, ftTime and ftDateTime.
class TDateTimeField : public TField {
 public:
  TDateTimeField(TDataSet& dataset, std::string name, TFieldKind kind = fkData,
                 TFieldType type = ftDateTime);
  size_t DataSize() const override;

 protected:
  //! "2004-02-29", "13:05:00" or both with a blank between.
  std::string GetAsString() const override;
  void SetAsStringValue(const std::string& value) override;
  double GetAsFloat() const override;
  void SetAsFloatValue(double value) override;
  TDateTime GetAsDateTime() const override;
  //! A date field keeps the date, a time field the time of day.
  void SetAsDateTimeValue(TDateTime value) override;
  TValue GetValue() const override;
};

using TDateField = TDateTimeField;
using TTimeField = TDateTimeField;

//! ftBytes and ftVarBytes: Size bytes.
class TBytesField : public TField {
 public:
  TBytesField(TDataSet& dataset, std::string name, int32_t size, TFieldKind kind = fkData,
              TFieldType type = ftBytes);
  size_t DataSize() const override { return static_cast<size_t>(Size()); }

 protected:
  //! The bytes as they are.
  std::string GetAsString() const override;
  void SetAsStringValue(const std::string& value) override;
  TBytes GetAsBytes() const override;
  //! Cut to Size bytes, the rest zero.
  void SetAsBytesValue(const TBytes& value) override;
  TValue GetValue() const override;
};

using TVarBytesField = TBytesField;

//! ftBlob, ftMemo, ftFmtMemo, ftGraphic and the other BLOB types: the value
//! is read and written whole through the dataset's BLOB stream.
class TBlobField : public TField {
 public:
  TBlobField(TDataSet& dataset, std::string name, TFieldKind kind = fkData,
             TFieldType type = ftBlob);
  size_t DataSize() const override { return 0; }
  //! Bytes of the BLOB in the current record.
  int64_t BlobSize() const;
  //! Whether the BLOB was written since the record was read.
  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }

 protected:
  std::string GetAsString() const override;
  void SetAsStringValue(const std::string& value) override;
  TBytes GetAsBytes() const override;
  void SetAsBytesValue(const TBytes& value) override;
  //! Memo types give text, the others bytes.
  TValue GetValue() const override;

 private:
  bool modified_ = false;
};

using TMemoField = TBlobField;
using TGraphicField = TBlobField;

//! A new field object of the class that suits type.
std::unique_ptr<TField> MakeField(TDataSet& dataset, TFieldType type, const std::string& name,
                                  int32_t size, TFieldKind kind);

//! The fields of a dataset, in order; owns them.
class TFields {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TField& operator[](int index) const;
  //! The field named name (ignoring case), or nullptr.
  TField* Find(const std::string& name) const;
  //! The field of column field_no, or nullptr.
  TField* FindByNumber(int32_t field_no) const;
  TField& Add(std::unique_ptr<TField> field);
  //! Frees the fields the dataset made on open, keeping persistent ones.
  void RemoveDefaultFields();
  void Clear() { items_.clear(); }
  int IndexOf(const TField* field) const;

  std::vector<std::unique_ptr<TField>>::const_iterator begin() const { return items_.begin(); }
  std::vector<std::unique_ptr<TField>>::const_iterator end() const { return items_.end(); }

 private:
  std::vector<std::unique_ptr<TField>> items_;
};

}  // namespace vevura
