#include "engine/storage/data/field_validation.h"

#include "engine/base/engine_error.h"
#include "engine/storage/common/scramble.h"
#include "engine/storage/common/trim.h"
#include "engine/storage/fields/bcd.h"
#include "engine/storage/fields/record_layout.h"
#include "engine/storage/fields/value_text.h"
#include "platform/locale.h"

namespace vevura {
namespace {

bool SameWord(std::string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != word[i]) return false;
  }
  return true;
}

bool IsValidDateValue(std::string_view text) {
  int32_t day = 0;
  return SameWord(text, "CURRENT_DATE") || ParseDateText(text, &day);
}

bool IsValidTimeValue(std::string_view text) {
  int32_t ms = 0;
  return SameWord(text, "CURRENT_TIME") || ParseTimeText(text, &ms);
}

bool IsValidTimeStampValue(std::string_view text) {
  double value = 0;
  return SameWord(text, "CURRENT_TIMESTAMP") || SameWord(text, "CURRENT_DATE") ||
         SameWord(text, "CURRENT_TIME") || ParseTimeStampText(text, &value);
}

bool IsValidIntegerValue(std::string_view text, int64_t min, int64_t max) {
  int64_t value = 0;
  return ParseIntegerText(text, min, max, &value);
}

[[noreturn]] void RaiseFieldError(uint16_t code, const std::string& field,
                                  const std::string& table) {
  RaiseEngineError(code, "", "", "", table, field, "", "");
}

bool HasDuplicateName(const std::vector<std::string>& names, size_t index) {
  for (size_t j = 0; j < names.size(); ++j) {
    if (j != index && platform::SameTextSystem(names[j], names[index])) return true;
  }
  return false;
}

bool HasDuplicateNumber(const std::vector<TFieldDescriptor>& fields, size_t index) {
  for (size_t j = 0; j < fields.size(); ++j) {
    if (j != index && fields[j].FieldNumber == fields[index].FieldNumber) return true;
  }
  return false;
}

//! Declared size and decimals as the type allows them; false when broken.
bool DeclaredSizesValid(const TFieldDescriptor& field) {
  if (HasDeclaredSize(field.Type)) {
    if (field.Size > kMaxDeclaredSize) return false;
  } else if (field.Size != 0) {
    return false;
  }
  if (field.Type == fcBCD) return field.Scale <= kBcdPrecision;
  return field.Scale == 0;
}

bool ValueTextsValid(const TFieldDescriptor& field) {
  return IsValidValueText(field, field.DefaultValue) && IsValidValueText(field, field.MinValue) &&
         IsValidValueText(field, field.MaxValue);
}

//! One field of a new table, after its name was normalised.
void CheckNewField(const std::vector<TFieldDescriptor>& fields,
                   const std::vector<std::string>& names, size_t i, const std::string& table) {
  const TFieldDescriptor& field = fields[i];
  if (!IsValidNameStart(field.Name) || HasDuplicateName(names, i)) {
    RaiseFieldError(VEVURA_INVALIDFIELDNAME, field.Name, table);
  }
  if (field.FieldNumber != i + 1 || HasDuplicateNumber(fields, i) || field.Type == fcNone) {
    RaiseFieldError(VEVURA_INVALIDFLDTYPE, field.Name, table);
  }
  if (HasDeclaredSize(field.Type) && (field.Size < 1 || field.Size > kMaxDeclaredSize)) {
    RaiseFieldError(VEVURA_INVALIDFLDTYPE, field.Name, table);
  }
  if (field.Type == fcBCD && field.Scale > kBcdPrecision) {
    RaiseFieldError(VEVURA_INVALIDFLDTYPE, field.Name, table);
  }
  if (!ValueTextsValid(field)) RaiseFieldError(VEVURA_INVALIDVCHKSTRUCT, field.Name, table);
}

}  // namespace

std::string NormaliseFieldName(std::string_view name) {
  return TrimText(name).substr(0, kMaxFieldNameLength);
}

bool IsValidNameStart(std::string_view name) {
  if (name.empty()) return false;
  unsigned char c = static_cast<unsigned char>(name[0]);
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 128 && c <= 254);
}

bool IsValidValueText(const TFieldDescriptor& field, std::string_view text) {
  if (text.empty()) return true;
  switch (field.Type) {
    case fcDate:
      return IsValidDateValue(text);
    case fcTime:
      return IsValidTimeValue(text);
    case fcTimeStamp:
      return IsValidTimeStampValue(text);
    case fcBoolean: {
      bool value = false;
      return ParseBooleanText(text, &value);
    }
    case fcSmallInt:
      return IsValidIntegerValue(text, INT16_MIN, INT16_MAX);
    case fcWord:
      return IsValidIntegerValue(text, 0, UINT16_MAX);
    case fcInteger:
    case fcInteger32:
      return IsValidIntegerValue(text, INT32_MIN, INT32_MAX);
    case fcLargeInt:
      return IsValidIntegerValue(text, INT64_MIN, INT64_MAX);
    case fcFloat: {
      double value = 0;
      return ParseFloatText(text, &value);
    }
    case fcBCD: {
      TBcd value;
      return BcdFromText(text, field.Scale <= kBcdPrecision ? field.Scale : 0, &value);
    }
    default:
      return true;
  }
}

void CheckNewTableLimits(const TNewTableHeader& params, size_t field_count,
                         int secondary_index_count, const std::string& table) {
  if (params.Encrypted) CheckNewTablePassword(params.Password, table);
  if (params.LanguageId != 0 &&
      !platform::LocaleInstalled(platform::MakeLcid(params.LanguageId, params.SortId))) {
    RaiseTableError(VEVURA_CANNOTLOADLDDRV, table);
  }
  if (field_count > kMaxFieldCount) RaiseTableError(VEVURA_FLDLIMIT, table);
  if (secondary_index_count > 32) RaiseTableError(VEVURA_INDEXLIMIT, table);
  if (params.BlobBlockSize < kMinBlobBlockSize) RaiseTableError(VEVURA_BLOBLIMIT, table);
}

uint32_t ValidateNewFields(std::vector<TFieldDescriptor>& fields, const std::string& table) {
  std::vector<std::string> names;
  names.reserve(fields.size());
  for (const TFieldDescriptor& field : fields) names.push_back(NormaliseFieldName(field.Name));
  for (size_t i = 0; i < fields.size(); ++i) {
    TFieldDescriptor& field = fields[i];
    field.Name = names[i];
    CheckNewField(fields, names, i, table);
    if (!HasDeclaredSize(field.Type)) field.Size = 0;
    if (field.Type != fcBCD) field.Scale = 0;
  }
  return LayOutFields(fields);
}

bool StoredFieldsValid(std::vector<TFieldDescriptor>& fields, uint32_t record_size) {
  std::vector<std::string> names;
  names.reserve(fields.size());
  for (const TFieldDescriptor& field : fields) names.push_back(TrimText(field.Name));
  uint32_t running = kRecordHeaderSize;
  for (size_t i = 0; i < fields.size(); ++i) {
    TFieldDescriptor& field = fields[i];
    field.PhysicalSize = static_cast<uint8_t>(StoredSize(field.Type, field.Size));
    field.PhysicalScale = field.Scale;
    if (field.Name.empty() || field.Name.size() > kMaxFieldNameLength ||
        !IsValidNameStart(field.Name) || HasDuplicateName(names, i) ||
        HasDuplicateNumber(fields, i) || field.Type == fcNone || !DeclaredSizesValid(field) ||
        !ValueTextsValid(field) || field.FieldNumber != i + 1) {
      return false;
    }
    if (field.IsAutoInc()) {
      if (field.Offset != kRowIdOffset) return false;
    } else if (field.NoStorage == 0) {
      if (field.Offset != running) return false;
      running += field.PhysicalSize + 1u;
    }
  }
  return running == record_size;
}

}  // namespace vevura
