#include "engine/storage/fields/bcd.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "engine/storage/common/trim.h"

namespace vevura {
namespace {

constexpr int kMaxDigits = 64;

//! Digits of a decimal text, before and after the point, without sign.
struct TDecimalText {
  bool negative = false;
  std::string integer_digits;
  std::string fraction_digits;
};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool SplitDecimal(std::string_view text, TDecimalText* out) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) out->negative = text[i++] == '-';
  while (i < text.size() && IsDigit(text[i])) out->integer_digits += text[i++];
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) out->fraction_digits += text[i++];
  }
  return i == text.size() && !(out->integer_digits.empty() && out->fraction_digits.empty());
}

//! Adds one unit in the last place of digits (a string of decimal digits);
//! false when it overflows.
bool IncrementDigits(std::string& digits) {
  for (size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return true;
    }
    digits[i] = '0';
  }
  return false;
}

//! The digits a BCD shows: its precision, clamped to what it can hold.
int UsedDigits(const TBcd& value) {
  return std::min<int>(value.Precision, kMaxDigits);
}

}  // namespace

int TBcd::Digit(int i) const {
  uint8_t b = Fraction[static_cast<size_t>(i / 2)];
  return i % 2 == 0 ? b >> 4 : b & 0x0F;
}

void TBcd::SetDigit(int i, int digit) {
  uint8_t& b = Fraction[static_cast<size_t>(i / 2)];
  if (i % 2 == 0) {
    b = static_cast<uint8_t>((b & 0x0F) | (digit << 4));
  } else {
    b = static_cast<uint8_t>((b & 0xF0) | digit);
  }
}

void EncodeBcd(const TBcd& value, uint8_t* out) {
  out[0] = value.Precision;
  out[1] = value.SignSpecialPlaces;
  std::memcpy(out + 2, value.Fraction.data(), value.Fraction.size());
}

TBcd DecodeBcd(const uint8_t* in) {
  TBcd value;
  value.Precision = in[0];
  value.SignSpecialPlaces = in[1];
  std::memcpy(value.Fraction.data(), in + 2, value.Fraction.size());
  return value;
}

bool BcdFromText(std::string_view text, int places, TBcd* value) {
  if (places < 0 || places > kBcdPrecision) return false;
  TDecimalText parts;
  if (!SplitDecimal(TrimText(text), &parts)) return false;
  std::string integer = parts.integer_digits;
  integer.erase(0, std::min(integer.find_first_not_of('0'), integer.size()));
  std::string fraction = parts.fraction_digits;
  bool round_up = fraction.size() > static_cast<size_t>(places) && fraction[places] >= '5';
  fraction.resize(static_cast<size_t>(places), '0');
  std::string digits = integer;
  digits.append(fraction);
  if (round_up && !IncrementDigits(digits)) digits.insert(digits.begin(), '1');
  if (digits.size() > static_cast<size_t>(kBcdPrecision)) return false;
  digits.insert(0, kBcdPrecision - digits.size(), '0');
  TBcd result;
  result.Precision = kBcdPrecision;
  bool zero = digits.find_first_not_of('0') == std::string::npos;
  result.SignSpecialPlaces = static_cast<uint8_t>(places | (parts.negative && !zero ? 0x80 : 0));
  for (int i = 0; i < kBcdPrecision; ++i) result.SetDigit(i, digits[static_cast<size_t>(i)] - '0');
  *value = result;
  return true;
}

std::string BcdToText(const TBcd& value) {
  int used = UsedDigits(value);
  int places = std::min(value.Places(), used);
  std::string integer;
  std::string fraction;
  for (int i = 0; i < used; ++i) {
    char c = static_cast<char>('0' + std::min(value.Digit(i), 9));
    (i < used - places ? integer : fraction) += c;
  }
  integer.erase(0, std::min(integer.find_first_not_of('0'), integer.size()));
  if (integer.empty()) integer.push_back('0');
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  bool zero = integer == "0" && fraction.empty();
  std::string text;
  if (value.IsNegative() && !zero) text += '-';
  text.append(integer);
  if (!fraction.empty()) {
    text += '.';
    text.append(fraction);
  }
  return text;
}

double BcdToDouble(const TBcd& value) {
  return std::strtod(BcdToText(value).c_str(), nullptr);
}

}  // namespace vevura
