#pragma once
// The number of a DEPPIX line's depth item.
//
// The accepted form is an optional sign, digits with at most one decimal
// separator (at least one digit in all), and an optional exponent: "e" or "E",
// an optional sign and at least one digit. The separator is the one of the
// user's numeric locale. Blanks, thousands separators, hexadecimal, "inf" and
// "nan" are not numbers; neither is a value whose magnitude is beyond the range
// of a double (too large, or too small to be told from zero).

#include <string>
#include <string_view>

namespace vevura::app {

//! The decimal separator of the current LC_NUMERIC locale ("." in the C locale).
std::string LocaleDecimalSeparator();

//! Converts the whole of text to *value; false (and *value untouched) when text
//! is not a number in the form above with decimal_separator.
bool ParseDecimalNumber(std::string_view text, std::string_view decimal_separator, double* value);

//! The depth of a DEPPIX item: its number, or 0 when it is not one.
double DepthValue(std::string_view text, std::string_view decimal_separator);

}  // namespace vevura::app
