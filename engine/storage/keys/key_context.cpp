#include "engine/storage/keys/key_context.h"

#include "engine/base/engine_error.h"
#include "engine/storage/index/index_definitions.h"

namespace vevura {

namespace {

//! The fields an index lists: the first FieldCount numbers, ending early at
//! a 0.
std::vector<uint16_t> IndexFieldNumbers(const TIndexDescriptor& d) {
  std::vector<uint16_t> numbers;
  for (int i = 0; i < d.FieldCount && i < kMaxIndexFields; ++i) {
    if (d.FieldNumbers[i] == 0) break;
    numbers.push_back(d.FieldNumbers[i]);
  }
  return numbers;
}

const TFieldDescriptor* FieldNumbered(const std::vector<TFieldDescriptor>& fields, uint16_t n) {
  if (n == 0 || n > fields.size()) return nullptr;
  return &fields[n - 1];
}

[[noreturn]] void RaiseIndexError(uint16_t code, const std::string& table, const std::string& index,
                                  const std::string& field) {
  RaiseEngineError(code, "", "", "", table, field, index, "");
}

//! The slots of an ordinary index, laid out from byte 0; nothing when a field
//! is missing or a BLOB.
bool LayOutSlots(const TIndexDescriptor& d, const std::vector<TFieldDescriptor>& fields,
                 std::vector<TKeySlot>* slots) {
  std::vector<uint16_t> numbers = IndexFieldNumbers(d);
  int start = 0;
  for (size_t i = 0; i < numbers.size(); ++i) {
    const TFieldDescriptor* f = FieldNumbered(fields, numbers[i]);
    if (f == nullptr || f->IsBlob()) return false;
    TKeySlot slot;
    slot.Field = *f;
    slot.Start = static_cast<uint16_t>(start);
    slot.KeySize = static_cast<uint16_t>(KeySlotSize(*f) - 1);
    slot.Descending = d.FieldDescending[i] != 0;
    slots->push_back(slot);
    start += KeySlotSize(*f);
    if (start > kMaxKeyLength) return false;
  }
  return true;
}

TKeyKind KindOf(uint8_t n) {
  if (n == kSlotIndex) return kkSlot;
  if (n == kTextIndex) return kkText;
  return kkOrdinary;
}

}  // namespace

const TKeySlot* TKeyContext::SlotAt(size_t p) const {
  for (const TKeySlot& slot : Slots) {
    if (p >= slot.Start && p < slot.End()) return &slot;
  }
  return nullptr;
}

int KeySlotsLength(const TIndexDescriptor& d, const std::vector<TFieldDescriptor>& fields,
                   const std::string& table) {
  int length = 0;
  for (uint16_t number : IndexFieldNumbers(d)) {
    const TFieldDescriptor* f = FieldNumbered(fields, number);
    if (f == nullptr) RaiseIndexError(VEVURA_INVALIDIDXDESC, table, d.Name, std::to_string(number));
    if (f->IsBlob()) RaiseIndexError(VEVURA_SEARCHCOLREQD, table, d.Name, f->Name);
    length += KeySlotSize(*f);
  }
  return length;
}

uint16_t OrdinaryKeyLength(const TIndexDescriptor& d, const std::vector<TFieldDescriptor>& fields,
                           const std::string& table, bool allow_no_fields) {
  const int slots = KeySlotsLength(d, fields, table);
  if (slots > kMaxKeySlotsLength || (slots == 0 && !allow_no_fields)) {
    RaiseIndexError(VEVURA_INVALIDKEY, table, d.Name, "");
  }
  return static_cast<uint16_t>(slots + (d.Unique != 0 ? 0 : kRowIdKeySize));
}

TKeyContext MakeKeyContext(uint16_t language_id, uint16_t sort_id, uint8_t n,
                           const TIndexDescriptor& d, const std::vector<TFieldDescriptor>& fields,
                           const std::string& table) {
  TKeyContext c;
  c.LanguageId = language_id;
  c.SortId = sort_id;
  c.IndexNumber = n;
  c.Kind = KindOf(n);
  c.KeyLength = d.KeyLength;
  c.Descending = d.Descending != 0;
  c.Unique = d.Unique != 0;
  c.CaseInsensitive = d.CaseInsensitive != 0;
  c.CharMap = GetCharMap(language_id, sort_id);
  uint16_t expected = 0;
  switch (c.Kind) {
    case kkSlot:
      expected = kSlotKeyLength;
      break;
    case kkText:
      expected = kTextKeyLength;
      break;
    case kkOrdinary: {
      if (n >= kIndexCount || !LayOutSlots(d, fields, &c.Slots)) {
        RaiseTableError(VEVURA_HEADERCORRUPT, table);
      }
      c.SlotsLength = c.Slots.empty() ? 0 : c.Slots.back().End();
      expected = static_cast<uint16_t>(c.SlotsLength + (c.Unique ? 0 : kRowIdKeySize));
      break;
    }
  }
  if (d.KeyLength != expected || d.KeyLength > kMaxKeyLength) {
    RaiseTableError(VEVURA_HEADERCORRUPT, table);
  }
  return c;
}

}  // namespace vevura
