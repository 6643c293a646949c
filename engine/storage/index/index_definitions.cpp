#include "engine/storage/index/index_definitions.h"

#include "engine/base/engine_error.h"
#include "engine/storage/common/trim.h"
#include "engine/storage/fields/field_types.h"
#include "engine/storage/index/index_shape.h"
#include "platform/locale.h"

namespace vevura {

namespace {

constexpr int kMaxSlotSum = 522;
constexpr int kBcdKeySize = 8;

[[noreturn]] void RaiseIndexError(uint16_t code, const std::string& table, const std::string& index,
                                  const std::string& field = "") {
  RaiseEngineError(code, "", "", "", table, field, index, "");
}

const TFieldDescriptor* FieldNumbered(const std::vector<TFieldDescriptor>& fields, uint16_t n) {
  if (n == 0 || n > fields.size()) return nullptr;
  return &fields[n - 1];
}

void CheckFieldLimit(const TIndexDescriptor& d, const std::string& table) {
  if (d.FieldCount > kMaxIndexFields) RaiseTableError(VEVURA_INDEXLIMIT, table);
}

void CheckNoBlobField(const TIndexDescriptor& d, const std::vector<TFieldDescriptor>& fields,
                      const std::string& table) {
  for (int i = 0; i < d.FieldCount; ++i) {
    const TFieldDescriptor* f = FieldNumbered(fields, d.FieldNumbers[i]);
    if (f != nullptr && f->IsBlob()) RaiseIndexError(VEVURA_SEARCHCOLREQD, table, d.Name, f->Name);
  }
}

//! The definition parts of d, with no pages.
TIndexDescriptor DefinitionOf(const TIndexDescriptor& d) {
  TIndexDescriptor copy = d;
  copy.RootPage = 0;
  copy.FreeListHead = 0;
  copy.FirstDataPage = 0;
  return copy;
}

bool ValidFirstNameCharacter(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 128 && c <= 254);
}

}  // namespace

void DefinePrimaryIndex(TIndexHeader& header, const TIndexDescriptor& d,
                        const std::vector<TFieldDescriptor>& fields, const std::string& table) {
  if (header.Descriptors[0].KeyLength != 0) RaiseTableError(VEVURA_PRIMARYKEYREDEFINE, table);
  CheckFieldLimit(d, table);
  header.Modified = 1;
  if (d.FieldCount == 0) {
    header.NoPrimary = 1;
    header.Descriptors[0] = TIndexDescriptor{};
    return;
  }
  header.NoPrimary = 0;
  CheckNoBlobField(d, fields, table);
  TIndexDescriptor primary = DefinitionOf(d);
  primary.Name.clear();
  primary.Unique = 1;
  primary.Temporary = 0;
  header.Descriptors[0] = primary;
}

uint8_t AddSecondaryIndex(TIndexHeader& header, const TIndexDescriptor& d,
                          const std::vector<TFieldDescriptor>& fields, const std::string& table) {
  if (header.SecondaryCount >= kMaxSecondaryIndexes) RaiseTableError(VEVURA_INDEXLIMIT, table);
  CheckFieldLimit(d, table);
  std::string name = TrimText(d.Name);
  if (name.empty()) RaiseTableError(VEVURA_INDEXNAMEREQUIRED, table);
  if (!ValidFirstNameCharacter(static_cast<unsigned char>(name[0]))) {
    RaiseIndexError(VEVURA_INVALIDINDEXNAME, table, d.Name);
  }
  for (int n = 1; n <= header.SecondaryCount; ++n) {
    if (platform::SameTextSystem(TrimText(header.Descriptors[n].Name), name)) {
      RaiseIndexError(VEVURA_INDEXEXISTS, table, d.Name);
    }
  }
  CheckNoBlobField(d, fields, table);
  const uint8_t number = ++header.SecondaryCount;
  TIndexDescriptor secondary = DefinitionOf(d);
  if (secondary.Name.size() > kMaxIndexNameLength) secondary.Name.resize(kMaxIndexNameLength);
  header.Descriptors[number] = secondary;
  header.Modified = 1;
  return number;
}

void SetIndexDescriptor(TIndexHeader& header, uint8_t n, const TIndexDescriptor& d) {
  if (n >= kIndexCount) return;
  TIndexDescriptor copy = DefinitionOf(d);
  if (copy.Name.size() > kMaxIndexNameLength) copy.Name.resize(kMaxIndexNameLength);
  header.Descriptors[n] = copy;
  header.Modified = 1;
}

int KeySlotSize(const TFieldDescriptor& field) {
  return (field.Type == fcBCD ? kBcdKeySize : field.PhysicalSize) + 1;
}

namespace {

[[noreturn]] void RaiseHeaderCorrupt(const std::string& table) {
  RaiseTableError(VEVURA_HEADERCORRUPT, table);
}

// At most 16 fields, and no non-zero field number after a 0 in the list.
void CheckFieldList(const TIndexDescriptor& d, const std::string& table) {
  if (d.FieldCount > kMaxIndexFields) RaiseHeaderCorrupt(table);
  bool ended = false;
  for (uint16_t number : d.FieldNumbers) {
    if (number == 0) {
      ended = true;
    } else if (ended) {
      RaiseHeaderCorrupt(table);
    }
  }
}

void CheckPageNumbers(const TIndexDescriptor& d, const TIndexHeader& h, const std::string& table) {
  const int32_t pages = h.NextPage - 1;
  for (int32_t page : {d.RootPage, d.FreeListHead, d.FirstDataPage}) {
    if (page < 0 || page > pages) RaiseHeaderCorrupt(table);
  }
}

void CheckOrdinaryIndex(const TIndexHeader& h, int n, const std::vector<TFieldDescriptor>& fields,
                        const std::string& table) {
  const TIndexDescriptor& d = h.Descriptors[n];
  const bool no_primary = n == 0 && h.NoPrimary != 0;
  if (n == 0) {
    if (!d.Name.empty()) RaiseHeaderCorrupt(table);
    if (d.Unique == 0 && !no_primary) RaiseHeaderCorrupt(table);
  } else {
    std::string name = platform::UpperCase(platform::SystemLcid(), TrimText(d.Name));
    if (name.empty() || !ValidFirstNameCharacter(static_cast<unsigned char>(name[0]))) {
      RaiseHeaderCorrupt(table);
    }
    for (int other = 1; other <= h.SecondaryCount; ++other) {
      if (other != n &&
          platform::SameTextSystem(TrimText(h.Descriptors[other].Name), TrimText(d.Name))) {
        RaiseHeaderCorrupt(table);
      }
    }
  }
  CheckFieldList(d, table);
  int slots = 0;
  for (uint16_t number : d.FieldNumbers) {
    if (number == 0) break;
    const TFieldDescriptor* f = FieldNumbered(fields, number);
    if (f == nullptr && no_primary) break;
    if (f == nullptr || f->IsBlob()) RaiseHeaderCorrupt(table);
    slots += KeySlotSize(*f);
  }
  if (slots > kMaxSlotSum || (slots == 0 && !no_primary)) RaiseHeaderCorrupt(table);
  // Pages of an index this engine could not hold are refused here rather
  // than at the first search.
  if (slots > 0 && !ShapeOf(static_cast<uint8_t>(n), d).Valid()) RaiseHeaderCorrupt(table);
  CheckPageNumbers(d, h, table);
}

void CheckTextIndex(const TIndexHeader& h, const std::vector<TFieldDescriptor>& fields,
                    const std::string& table) {
  const TIndexDescriptor& d = h.Descriptors[kTextIndex];
  CheckFieldList(d, table);
  for (uint16_t number : d.FieldNumbers) {
    if (number == 0) break;
    const TFieldDescriptor* f = FieldNumbered(fields, number);
    bool text =
        f != nullptr && (f->Type == fcString || (f->Type == fcBlob && f->Subtype == fsMemo));
    if (!text) RaiseHeaderCorrupt(table);
  }
  if (d.FieldCount > 0 && !ShapeOf(kTextIndex, d).Valid()) RaiseHeaderCorrupt(table);
  CheckPageNumbers(d, h, table);
}

}  // namespace

void VerifyIndexHeader(const TIndexHeader& h, const std::vector<TFieldDescriptor>& fields,
                       const std::string& table) {
  if (h.Version != kIndexFileVersion) RaiseTableError(VEVURA_OLDVERSION, table);
  if (h.NextPage < 1 || h.SecondaryCount > kMaxSecondaryIndexes) RaiseHeaderCorrupt(table);
  for (int n = 0; n <= h.SecondaryCount; ++n) CheckOrdinaryIndex(h, n, fields, table);
  if (!ShapeOf(kSlotIndex, h.Descriptors[kSlotIndex]).Valid()) RaiseHeaderCorrupt(table);
  CheckPageNumbers(h.Descriptors[kSlotIndex], h, table);
  CheckTextIndex(h, fields, table);
}

}  // namespace vevura
