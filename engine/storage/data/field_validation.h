#pragma once
// The rules a table's field definitions must keep, checked when a table is
// created (raising the creation errors) and when a data file's header is
// verified (reporting the first broken rule).
//
// A valid field has a name of 1 to 30 characters that begins with a letter, an
// underscore or a character 128 to 254 and is unique without regard to case;
// a unique field number equal to its position; a non-zero type code; a
// declared size of 1 to 250 for strings, bytes and variable bytes and 0
// otherwise; decimals only for BCD (at most 32); minimum, maximum and default
// texts valid for its type; and the offset the record layout gives it.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/data/data_header.h"
#include "engine/storage/fields/field_descriptor.h"

namespace vevura {

//! A field name as it is stored: blanks and control characters around it
//! removed, cut to 30 characters.
std::string NormaliseFieldName(std::string_view name);
//! True when name is not empty and begins with A to Z, a to z, "_" or a
//! character 128 to 254. Also used for index names.
bool IsValidNameStart(std::string_view name);

//! True when text is empty or a valid value text for the field's type. Dates
//! also accept "CURRENT_DATE", times "CURRENT_TIME", timestamps all three
//! (any case); strings, bytes, variable bytes, BLOBs and the kinds without a
//! text form accept any text.
bool IsValidValueText(const TFieldDescriptor& field, std::string_view text);

//! The general limits of a new table, in this order: the password of an
//! encrypted table (VEVURA_INVALIDPASSWORD), an installed language when it is
//! not 0 (VEVURA_CANNOTLOADLDDRV), at most 1024 fields (VEVURA_FLDLIMIT), at
//! most 32 secondary indexes (VEVURA_INDEXLIMIT), a BLOB block size of at
//! least 64 (VEVURA_BLOBLIMIT). Errors name the table.
void CheckNewTableLimits(const TNewTableHeader& params, size_t field_count,
                         int secondary_index_count, const std::string& table);

//! Checks and completes the field definitions of a new table, field by field:
//! the name normalised and checked, then its uniqueness
//! (VEVURA_INVALIDFIELDNAME), a field number equal to the position and unique,
//! a non-zero type and the declared size (VEVURA_INVALIDFLDTYPE; other types
//! get size 0), the value texts (VEVURA_INVALIDVCHKSTRUCT); decimals are
//! cleared except for BCD. Then lays the fields out (record_layout.h).
//! Errors name the field and the table. Returns the record size.
uint32_t ValidateNewFields(std::vector<TFieldDescriptor>& fields, const std::string& table);

//! Re-checks the descriptors of an existing table against the rules and the
//! header's record size, recomputing each stored size and scale in place.
//! Returns false at the first broken rule.
bool StoredFieldsValid(std::vector<TFieldDescriptor>& fields, uint32_t record_size);

}  // namespace vevura
