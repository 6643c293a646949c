#pragma once
// The engine's text forms of field values: how minimum, maximum and default
// values are written in field descriptors, and how values are shown as text.
//
// Dates are year-month-day ("2004-2-29"); times hour:minute with optional
// ":seconds" and ".milliseconds", blanks around ignored, and an optional "AM"
// or "PM" anywhere in any case ("10:05:07.5 PM"); timestamps a date, a blank
// and a time, or only a time (containing ":") or only a date. Booleans are
// "TRUE" or "FALSE" in any case; integers decimal; floats and decimals use "."
// as the point. Parsers return false for a text not in the form and leave
// the output unchanged; they never throw.

#include <cstdint>
#include <string>
#include <string_view>

namespace vevura {

//! A date text as a day number (date_encoding.h).
bool ParseDateText(std::string_view text, int32_t* day_number);
//! A time text as milliseconds since midnight.
bool ParseTimeText(std::string_view text, int32_t* milliseconds);
//! A timestamp text as a timestamp value; a time alone is on 1899-12-30, a
//! date alone at midnight.
bool ParseTimeStampText(std::string_view text, double* timestamp);
bool ParseBooleanText(std::string_view text, bool* value);
//! A decimal integer, optionally signed, that lies within [min, max].
bool ParseIntegerText(std::string_view text, int64_t min, int64_t max, int64_t* value);
//! A finite decimal number with an optional exponent ("-1.5e3").
bool ParseFloatText(std::string_view text, double* value);

//! "2004-02-29".
std::string DateText(int32_t day_number);
//! "10:05", "10:05:07", "10:05:07.5" (seconds only when not 0, milliseconds
//! only when also not 0, without leading zeros).
std::string TimeText(int32_t milliseconds);
//! The date, a blank and the time.
std::string TimeStampText(double timestamp);
//! "True" or "False".
std::string BooleanText(bool value);
//! The shortest decimal form that reads back as the same double.
std::string FloatText(double value);

}  // namespace vevura
