#include "engine/storage/keys/bound_keys.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/locale.h"

namespace vevura {

namespace {

//! Which way a bound goes.
enum TSide : uint8_t { sdLow, sdHigh };

//! The lowest or highest content of a plain byte.
uint8_t ByteExtreme(TSide side) {
  return side == sdHigh ? 255 : 0;
}
//! The lowest or highest character of the context's language.
uint8_t CharExtreme(const TKeyContext& c, TSide side) {
  return side == sdHigh ? c.CharMap[255] : c.CharMap[0];
}

//! True when byte p of a key of an index with a language is a character of
//! a string value (compared by the collation).
bool IsStringByte(const TKeyContext& c, size_t p) {
  if (c.Kind == kkText) return p >= kTextWordOffset && p < kTextRowIdOffset;
  const TKeySlot* slot = c.SlotAt(p);
  return slot != nullptr && slot->IsString() && p >= slot->ValueStart();
}

//! True when bytes are compared by collation anywhere in the context's keys.
bool UsesCollation(const TKeyContext& c) {
  return c.HasLanguage() && c.Kind != kkSlot;
}

uint8_t ExtremeAt(const TKeyContext& c, size_t p, TSide side) {
  return UsesCollation(c) && IsStringByte(c, p) ? CharExtreme(c, side) : ByteExtreme(side);
}

void FillRange(const TKeyContext& c, uint8_t* key, size_t from, size_t to, TSide side) {
  for (size_t p = from; p < to; ++p) key[p] = ExtremeAt(c, p, side);
}

void FillTextKey(const TKeyContext& c, uint8_t* key, size_t n, TSide side) {
  constexpr size_t kLastFilledCount = 62;
  if (n <= kLastFilledCount) {
    const size_t from = n == 0 ? kTextWordOffset : n + 2;
    std::memset(key + from, CharExtreme(c, side), kTextRowIdOffset - from);
  }
  std::memset(key + kTextRowIdOffset, ByteExtreme(side), kRowIdKeySize);
}

void FillKey(const TKeyContext& c, uint8_t* key, size_t n, TSide side) {
  n = std::min<size_t>(n, c.KeyLength);
  if (c.Kind == kkText) {
    FillTextKey(c, key, n, side);
  } else {
    FillRange(c, key, n, c.KeyLength, side);
  }
}

void ExtremeKey(const TKeyContext& c, uint8_t* key, TSide side) {
  FillRange(c, key, 0, c.KeyLength, side);
  if (!UsesCollation(c) || c.Kind != kkOrdinary) return;
  // A present field is above every null one, so the highest key has every
  // field present and the lowest every field null.
  for (const TKeySlot& slot : c.Slots) key[slot.Start] = side == sdHigh ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Stepping a prefix

//! Raises or lowers a plain byte by one; false when it is at its extreme.
bool StepByte(uint8_t& byte, TSide side) {
  if (byte == ByteExtreme(side)) return false;
  byte = static_cast<uint8_t>(side == sdHigh ? byte + 1 : byte - 1);
  return true;
}

//! The character nearest to ch in map order, towards side, that sorts
//! beyond every string beginning with ch: above ch followed by the highest
//! character, or, followed by the highest character itself, below ch; case
//! ignored. A character that differs from ch only in case or by an
//! expansion that begins like ch (German sharp s after s) is not enough,
//! since the characters after it would decide the order. Nothing when no
//! character qualifies.
std::optional<uint8_t> SteppedChar(const TKeyContext& c, uint8_t ch, TSide side) {
  const uint32_t lcid = platform::MakeLcid(c.LanguageId, c.SortId);
  const auto place = std::find(c.CharMap.begin(), c.CharMap.end(), ch) - c.CharMap.begin();
  const char highest = static_cast<char>(c.CharMap[255]);
  const int step = side == sdHigh ? 1 : -1;
  for (auto k = place + step; k >= 0 && k < 256; k += step) {
    const char candidate = static_cast<char>(c.CharMap[k]);
    const char self = static_cast<char>(ch);
    if (side == sdHigh) {
      const char above[2] = {self, highest};
      if (platform::CompareLocaleText(lcid, &candidate, 1, above, 2, true) > 0) return c.CharMap[k];
    } else {
      const char below[2] = {candidate, highest};
      if (platform::CompareLocaleText(lcid, below, 2, &self, 1, true) < 0) return c.CharMap[k];
    }
  }
  return std::nullopt;
}

//! Stepping of one byte of a key whose string bytes follow the collation.
class TCollatedStepper {
 public:
  TCollatedStepper(const TKeyContext& c, uint8_t* key, TSide side)
      : c_(c), key_(key), side_(side) {}

  //! Moves byte p one step towards side; false, with the byte unchanged,
  //! when it cannot move.
  bool TryStep(size_t p) {
    if (!IsStringByte(c_, p)) return StepByte(key_[p], side_);
    std::optional<uint8_t> stepped = SteppedChar(c_, key_[p], side_);
    if (stepped) key_[p] = *stepped;
    return stepped.has_value();
  }
  //! The content a byte takes when the carry passes it.
  void Wrap(size_t p) { key_[p] = ExtremeAt(c_, p, side_ == sdHigh ? sdLow : sdHigh); }

 private:
  const TKeyContext& c_;
  uint8_t* key_;
  TSide side_;
};

//! Stepping of plain bytes.
class TByteStepper {
 public:
  TByteStepper(uint8_t* key, TSide side) : key_(key), side_(side) {}
  bool TryStep(size_t p) { return StepByte(key_[p], side_); }
  void Wrap(size_t p) { key_[p] = ByteExtreme(side_ == sdHigh ? sdLow : sdHigh); }

 private:
  uint8_t* key_;
  TSide side_;
};

//! Steps the byte at n - 1, carrying left over bytes that cannot move (they
//! wrap to the opposite extreme); false when even byte 0 could not move.
template <typename Stepper>
bool StepWithCarry(Stepper& stepper, size_t n) {
  size_t p = n - 1;
  while (!stepper.TryStep(p)) {
    if (p == 0) return false;
    stepper.Wrap(p);
    --p;
  }
  return true;
}

void StepKey(const TKeyContext& c, uint8_t* key, size_t n, TSide side) {
  n = std::min<size_t>(n, c.KeyLength);
  if (n == 0) return;
  if (!UsesCollation(c)) {
    TByteStepper stepper(key, side);
    if (!StepWithCarry(stepper, n)) std::memset(key, ByteExtreme(side), n);
    return;
  }
  TCollatedStepper stepper(c, key, side);
  if (StepWithCarry(stepper, n)) return;
  // The prefix was the extreme one already: it stays the extreme, and a key
  // whose first byte is a character is completed towards the same side.
  const bool first_is_string = IsStringByte(c, 0);
  FillRange(c, key, 0, n, side);
  if (first_is_string) FillKey(c, key, n, side);
}

}  // namespace

void FillKeyLow(const TKeyContext& c, uint8_t* key, size_t n) {
  FillKey(c, key, n, sdLow);
}

void FillKeyHigh(const TKeyContext& c, uint8_t* key, size_t n) {
  FillKey(c, key, n, sdHigh);
}

void HighestKey(const TKeyContext& c, uint8_t* key) {
  ExtremeKey(c, key, sdHigh);
}

void LowestKey(const TKeyContext& c, uint8_t* key) {
  ExtremeKey(c, key, sdLow);
}

void NextKey(const TKeyContext& c, uint8_t* key, size_t n) {
  StepKey(c, key, n, sdHigh);
}

void PriorKey(const TKeyContext& c, uint8_t* key, size_t n) {
  StepKey(c, key, n, sdLow);
}

}  // namespace vevura
