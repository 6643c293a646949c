#pragma once
// The value rules a field descriptor carries, applied to a record image: the
// default value a new record starts with, and the required flag, minimum and
// maximum a posted record must keep.
//
// Default, minimum and maximum are value texts (value_text.h). Three texts
// stand for the moment they are used, in any case: "CURRENT_DATE" (a date
// field: today; a timestamp: today at midnight), "CURRENT_TIME" (a time
// field: the time of day; a timestamp: that time on 1899-12-30, the zero day
// of the date-time scale) and "CURRENT_TIMESTAMP" (a timestamp: now).
//
// Minimum and maximum compare the field's stored value bytes, also when the
// field is null (its bytes are then zero), by type: strings in the table's
// collation (collation.h), numbers numerically, dates, times and timestamps
// as moments, bytes as bytes. BLOB fields have no order; a bound on one is
// not checked. A bound text that does not parse is not checked either.
//
// The auto-increment field takes its value (the row id) when the record is
// inserted, so neither defaults nor bounds apply to it; it is never null.
//
// Nothing here raises for what a record holds: descriptors that do not fit
// the image raise VEVURA_HEADERCORRUPT (field_codec.h).

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "engine/storage/fields/field_codec.h"
#include "engine/storage/fields/field_descriptor.h"

namespace vevura {

//! The table's language pair, for string comparison and case mapping.
struct TTableLanguage {
  uint16_t LanguageId = 0;
  uint16_t SortId = 0;
  //! The locale identifier: language id + sort id x 65536.
  uint32_t Lcid() const { return LanguageId + (static_cast<uint32_t>(SortId) << 16); }
};

//! The field's data bytes for a default or bound text (FieldDataSize bytes
//! at data), the CURRENT_ texts taken at now (a platform day count). False,
//! with zeros, when the text does not parse for the field's type.
bool EncodeRuleText(const TFieldDescriptor& field, std::string_view text, std::span<uint8_t> data,
                    const TTableLanguage& language, double now);

//! True when some field has a default value.
bool HasDefaultValues(const std::vector<TFieldDescriptor>& fields);
//! True when some field is required or has a minimum or a maximum.
bool HasValueRules(const std::vector<TFieldDescriptor>& fields);

//! A new record: the whole image zero, then, in field order, every field
//! whose default text is not empty takes the default as a value (strings as
//! stored by SetStringField; types without a text form zero bytes marked as
//! a value). A default that does not parse leaves the field null.
void FillDefaultValues(TRecordImage record, const std::vector<TFieldDescriptor>& fields,
                       const TTableLanguage& language, double now);

//! The first rule a record breaks, in field order and per field in the order
//! required, minimum, maximum.
struct TValueRuleBreach {
  uint16_t Code = 0;                        //!< VEVURA_REQDERR, _MINVALERR, _MAXVALERR; 0: none
  const TFieldDescriptor* Field = nullptr;  //!< the field that breaks it
};
TValueRuleBreach CheckValueRules(TConstRecordImage record,
                                 const std::vector<TFieldDescriptor>& fields,
                                 const TTableLanguage& language, double now);

//! -1, 0 or 1 as value a comes before, equals or comes after value b, both
//! the field's data bytes (FieldDataSize of them), by the field's type.
int CompareFieldData(const TFieldDescriptor& field, std::span<const uint8_t> a,
                     std::span<const uint8_t> b, const TTableLanguage& language);

}  // namespace vevura
