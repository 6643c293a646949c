#pragma once
// Binary-coded decimals as records keep them (34 bytes).
//
// Byte 0 is the precision (the number of digits in use, 32 in every record);
// byte 1 holds the sign in bit 7 and the number of decimal places in bits 0
// to 5; bytes 2 to 33 hold up to 64 decimal digits, two per byte, high nibble
// first. The first precision digits make the number, of which the last
// places are decimals: 12.5 with 2 places is 30 zeros followed by 1250.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/storage/fields/field_types.h"

namespace vevura {

struct TBcd {
  uint8_t Precision = 0;               //!< digits in use
  uint8_t SignSpecialPlaces = 0;       //!< bit 7 sign, bits 0 to 5 decimal places
  std::array<uint8_t, 32> Fraction{};  //!< packed digits, high nibble first

  bool IsNegative() const { return (SignSpecialPlaces & 0x80) != 0; }
  int Places() const { return SignSpecialPlaces & 0x3F; }
  //! Digit i (0-based, from the left) of the packed digits.
  int Digit(int i) const;
  void SetDigit(int i, int digit);
};

void EncodeBcd(const TBcd& value, uint8_t* out);
TBcd DecodeBcd(const uint8_t* in);

//! Parses a decimal number ("-12.345", blanks around ignored, "." as the
//! decimal point) into a BCD of precision 32 with the given places (0 to 32),
//! rounding further decimals half away from zero. False when the text is not
//! a decimal number or its integer part needs more than 32 - places digits.
bool BcdFromText(std::string_view text, int places, TBcd* value);
//! Decimal text of a BCD: no leading zeros, trailing decimal zeros dropped,
//! "-" for a negative non-zero value. A damaged value (places above the
//! precision, digits above 9) is read as far as it makes sense.
std::string BcdToText(const TBcd& value);
//! The nearest double.
double BcdToDouble(const TBcd& value);

}  // namespace vevura
