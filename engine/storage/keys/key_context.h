#pragma once
// TKeyContext: what key building, key comparison and key bounds need to know
// about one index of one table, held by the cursor for its current index.
//
// A context is a value: the table's language pair, the index's number, flags
// and key length, the layout of its key (one slot per field of an ordinary
// index) and the language's character map. It copies what it needs from the
// index descriptor and the field descriptors, so it stays valid whatever
// happens to them; a cursor makes a new one when it changes its index or
// when the table's definitions change.
//
// Keys of the three kinds:
//   - ordinary index (0 to 30): per field a presence byte and the field's
//     value (key_builder.h), then a 4-byte row-id tie-break unless the index
//     is unique;
//   - index 31: the record's status byte and its row id (5 bytes);
//   - index 32: 1, the field number, a 61-byte word and the row id (68 bytes).

#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/fields/field_descriptor.h"
#include "engine/storage/index/index_header.h"
#include "engine/storage/language/char_map.h"

namespace vevura {

//! Bytes of the row id at the end of a key of index 31 or 32, and of the
//! tie-break of a key of an ordinary index that is not unique.
inline constexpr uint16_t kRowIdKeySize = 4;
//! Most bytes of field slots in a key of an ordinary index.
inline constexpr int kMaxKeySlotsLength = 522;
//! Key lengths of the two system indexes.
inline constexpr uint16_t kSlotKeyLength = 5;
inline constexpr uint16_t kTextKeyLength = 68;
//! The word of an index 32 key: offset and size.
inline constexpr uint16_t kTextWordOffset = 3;
inline constexpr uint16_t kTextWordSize = 61;
//! Offset of the row id in an index 32 key.
inline constexpr uint16_t kTextRowIdOffset = kTextWordOffset + kTextWordSize;

//! Which of the three key layouts an index has.
enum TKeyKind : uint8_t {
  kkOrdinary = 0,  //!< indexes 0 to 30
  kkSlot = 1,      //!< index 31, "Sys Deleted"
  kkText = 2,      //!< index 32, "Sys Text"
};

//! One field of an ordinary index as it lies in the index's keys.
struct TKeySlot {
  TFieldDescriptor Field;   //!< copy of the table's descriptor of the field
  uint16_t Start = 0;       //!< offset of the presence byte in the key
  uint16_t KeySize = 0;     //!< bytes of the value part after the presence byte
  bool Descending = false;  //!< the field's own descending flag

  bool IsString() const { return Field.Type == fcString; }
  //! Offset of the first value byte.
  uint16_t ValueStart() const { return Start + 1; }
  //! One past the last byte of the slot.
  uint16_t End() const { return Start + 1 + KeySize; }
};

struct TKeyContext {
  uint16_t LanguageId = 0;       //!< the table's language; 0: byte order
  uint16_t SortId = 0;           //!< the table's sort order
  uint8_t IndexNumber = 0;       //!< 0 to 32
  TKeyKind Kind = kkOrdinary;    //!< layout of the keys
  uint16_t KeyLength = 0;        //!< bytes of every key
  uint16_t SlotsLength = 0;      //!< bytes of the field slots (ordinary index)
  bool Descending = false;       //!< the whole index is descending
  bool Unique = true;            //!< no tie-break
  bool CaseInsensitive = false;  //!< string values are upper-cased
  std::vector<TKeySlot> Slots;   //!< the fields of an ordinary index, in key order
  TCharMap CharMap{};            //!< the language's character map

  bool HasLanguage() const { return LanguageId != 0; }
  //! The slot that holds byte p, or nullptr for a byte after the slots.
  const TKeySlot* SlotAt(size_t p) const;
};

//! Bytes of the field slots of an ordinary index over fields (fields[i] is
//! field number i + 1): the sum of key size + 1 over its fields.
//! VEVURA_INVALIDIDXDESC (field number, index, table) for a field number that
//! is not a field, VEVURA_SEARCHCOLREQD (index, table, field) for a BLOB.
int KeySlotsLength(const TIndexDescriptor& d, const std::vector<TFieldDescriptor>& fields,
                   const std::string& table);
//! The key length of an ordinary index: its slots, and 4 more when it is not
//! unique. VEVURA_INVALIDKEY (index, table) when the slots take more than 522
//! bytes or none; none is allowed only where allow_no_fields (a primary index
//! without fields, on a table without a primary index).
uint16_t OrdinaryKeyLength(const TIndexDescriptor& d, const std::vector<TFieldDescriptor>& fields,
                           const std::string& table, bool allow_no_fields = false);

//! The context of index number n, described by d, of a table with the given
//! language and fields; the character map comes from the process-wide list.
//! VEVURA_HEADERCORRUPT naming the table when d does not fit the fields or
//! its key length is not the one its fields give.
TKeyContext MakeKeyContext(uint16_t language_id, uint16_t sort_id, uint8_t n,
                           const TIndexDescriptor& d, const std::vector<TFieldDescriptor>& fields,
                           const std::string& table);

}  // namespace vevura
