#include "engine/storage/fields/field_rules.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/base/error_codes.h"
#include "engine/storage/common/byte_order.h"
#include "engine/storage/fields/bcd.h"
#include "engine/storage/fields/date_encoding.h"
#include "engine/storage/language/collation.h"

namespace vevura {

namespace {

//! Which moment a CURRENT_ text names.
enum TMoment { mmNone, mmDate, mmTime, mmTimeStamp };

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
           return upper(x) == upper(y);
         });
}

TMoment MomentOf(std::string_view text) {
  if (EqualsIgnoringCase(text, "CURRENT_DATE")) return mmDate;
  if (EqualsIgnoringCase(text, "CURRENT_TIME")) return mmTime;
  if (EqualsIgnoringCase(text, "CURRENT_TIMESTAMP")) return mmTimeStamp;
  return mmNone;
}

//! Writes a CURRENT_ moment in the field's encoding; false when the field's
//! type does not take that moment.
bool EncodeMoment(const TFieldDescriptor& field, TMoment moment, uint8_t* data, double now) {
  const int32_t day = DayNumberFromDayCount(now);
  const int32_t ms = MillisecondsFromDayCount(now);
  switch (field.Type) {
    case fcDate:
      if (moment != mmDate) return false;
      PutInt32(data, day);
      return true;
    case fcTime:
      if (moment != mmTime) return false;
      PutInt32(data, ms);
      return true;
    case fcTimeStamp: {
      const int32_t on_day = moment == mmTime ? kDayNumberOfZeroDay : day;
      const int32_t at_ms = moment == mmDate ? 0 : ms;
      PutDouble(data, static_cast<double>(on_day) * kMsPerDay + at_ms);
      return true;
    }
    default:
      return false;
  }
}

//! Types whose default text gives a parsed value; every other type takes
//! zero bytes marked as a value.
bool HasTextForm(uint8_t type) {
  switch (type) {
    case fcString:
    case fcDate:
    case fcTime:
    case fcTimeStamp:
    case fcBoolean:
    case fcSmallInt:
    case fcInteger:
    case fcInteger32:
    case fcWord:
    case fcLargeInt:
    case fcFloat:
    case fcBCD:
      return true;
    default:
      return false;
  }
}

bool IsMomentType(uint8_t type) {
  return type == fcDate || type == fcTime || type == fcTimeStamp;
}

//! Stores data as the field's value bytes and marks the field as having a
//! value.
void StoreValue(TRecordImage record, const TFieldDescriptor& field, std::span<const uint8_t> data) {
  TConstRecordImage slot = FieldData(record, field);  // raises when the slot does not fit
  std::copy_n(data.begin(), std::min(data.size(), slot.size()),
              record.begin() + (slot.data() - record.data()));
  record[field.Offset] = 1;
}

void FillDefault(TRecordImage record, const TFieldDescriptor& field, const TTableLanguage& language,
                 double now) {
  const std::string& text = field.DefaultValue;
  if (IsMomentType(field.Type) && MomentOf(text) != mmNone) {
    std::vector<uint8_t> data(FieldDataSize(field));
    if (EncodeRuleText(field, text, data, language, now)) StoreValue(record, field, data);
    return;
  }
  if (HasTextForm(field.Type)) {
    SetFieldFromText(record, field, text, language.Lcid());
    return;
  }
  // Kinds without a text form: a value of zero bytes.
  StoreValue(record, field, std::vector<uint8_t>(FieldDataSize(field)));
}

template <typename T>
int Order(T a, T b) {
  return (a > b) - (a < b);
}

std::string StoredText(std::span<const uint8_t> data) {
  const auto* chars = reinterpret_cast<const char*>(data.data());
  return std::string(chars, strnlen(chars, data.size()));
}

int CompareBytes(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  const size_t n = std::min(a.size(), b.size());
  int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  if (c == 0) return Order(a.size(), b.size());
  return c < 0 ? -1 : 1;
}

//! Checks one bound: the value must not lie below (sign -1) or above
//! (sign 1) the bound text.
bool BreaksBound(const TFieldDescriptor& field, std::span<const uint8_t> value,
                 const std::string& bound, int sign, const TTableLanguage& language, double now) {
  if (bound.empty() || field.Type == fcBlob) return false;
  std::vector<uint8_t> limit(value.size());
  if (!EncodeRuleText(field, bound, limit, language, now)) return false;
  return CompareFieldData(field, value, limit, language) == sign;
}

}  // namespace

bool EncodeRuleText(const TFieldDescriptor& field, std::string_view text, std::span<uint8_t> data,
                    const TTableLanguage& language, double now) {
  const size_t size = FieldDataSize(field);
  if (data.size() < size) return false;
  std::fill(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(size), 0);
  const TMoment moment = MomentOf(text);
  if (moment != mmNone && IsMomentType(field.Type)) {
    return EncodeMoment(field, moment, data.data(), now);
  }
  return EncodeValueText(field, text, data, language.Lcid());
}

bool HasDefaultValues(const std::vector<TFieldDescriptor>& fields) {
  return std::any_of(fields.begin(), fields.end(),
                     [](const TFieldDescriptor& f) { return !f.DefaultValue.empty(); });
}

bool HasValueRules(const std::vector<TFieldDescriptor>& fields) {
  return std::any_of(fields.begin(), fields.end(), [](const TFieldDescriptor& f) {
    return f.Required != 0 || !f.MinValue.empty() || !f.MaxValue.empty();
  });
}

void FillDefaultValues(TRecordImage record, const std::vector<TFieldDescriptor>& fields,
                       const TTableLanguage& language, double now) {
  std::fill(record.begin(), record.end(), 0);
  for (const TFieldDescriptor& field : fields) {
    if (field.HasStorage() && !field.DefaultValue.empty()) {
      FillDefault(record, field, language, now);
    }
  }
}

TValueRuleBreach CheckValueRules(TConstRecordImage record,
                                 const std::vector<TFieldDescriptor>& fields,
                                 const TTableLanguage& language, double now) {
  for (const TFieldDescriptor& field : fields) {
    if (!field.HasStorage()) continue;
    if (field.Required != 0 && FieldIsNull(record, field)) return {VEVURA_REQDERR, &field};
    if (field.MinValue.empty() && field.MaxValue.empty()) continue;
    TConstRecordImage value = FieldData(record, field);
    if (BreaksBound(field, value, field.MinValue, -1, language, now)) {
      return {VEVURA_MINVALERR, &field};
    }
    if (BreaksBound(field, value, field.MaxValue, 1, language, now)) {
      return {VEVURA_MAXVALERR, &field};
    }
  }
  return {};
}

int CompareFieldData(const TFieldDescriptor& field, std::span<const uint8_t> a,
                     std::span<const uint8_t> b, const TTableLanguage& language) {
  const size_t size = FieldDataSize(field);
  if (a.size() < size || b.size() < size || size == 0) return CompareBytes(a, b);
  const uint8_t* x = a.data();
  const uint8_t* y = b.data();
  switch (field.Type) {
    case fcString:
      return CompareText(language.LanguageId, language.SortId, StoredText(a.first(size)),
                         StoredText(b.first(size)), false);
    case fcDate:
    case fcTime:
    case fcInteger:
    case fcInteger32:
      return Order(GetInt32(x), GetInt32(y));
    case fcSmallInt:
      return Order(GetInt16(x), GetInt16(y));
    case fcBoolean:
    case fcWord:
      return Order(GetUInt16(x), GetUInt16(y));
    case fcLargeInt:
      return Order(GetInt64(x), GetInt64(y));
    case fcFloat:
    case fcTimeStamp:
      return Order(GetDouble(x), GetDouble(y));
    case fcBCD:
      return Order(BcdToDouble(DecodeBcd(x)), BcdToDouble(DecodeBcd(y)));
    default:
      return CompareBytes(a.first(size), b.first(size));
  }
}

}  // namespace vevura
