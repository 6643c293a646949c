#pragma once
// Entering index definitions into an index header, and checking a header read
// from disk against the table's fields.
//
// The caller computes and checks each key length (the key rules); these
// functions check the limits, names and field kinds, raise the engine's
// definition errors naming the table (and index and field where the message
// has them), and set the header's modified marker.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/fields/field_descriptor.h"
#include "engine/storage/index/index_header.h"

namespace vevura {

//! Enters d as the primary index (descriptor 0). A definition without fields
//! marks the table as having no primary index. VEVURA_PRIMARYKEYREDEFINE when
//! one is defined already, VEVURA_INDEXLIMIT beyond 16 fields,
//! VEVURA_SEARCHCOLREQD for a BLOB field.
void DefinePrimaryIndex(TIndexHeader& header, const TIndexDescriptor& d,
                        const std::vector<TFieldDescriptor>& fields, const std::string& table);

//! Enters d as the next secondary index and returns its number (1 to 30).
//! VEVURA_INDEXLIMIT when 30 exist or beyond 16 fields,
//! VEVURA_INDEXNAMEREQUIRED for an empty name, VEVURA_INVALIDINDEXNAME for a
//! name that does not begin with a letter, "_" or a character 128 to 254,
//! VEVURA_INDEXEXISTS for a name already used (trimmed, compared without
//! regard to case), VEVURA_SEARCHCOLREQD for a BLOB field.
uint8_t AddSecondaryIndex(TIndexHeader& header, const TIndexDescriptor& d,
                          const std::vector<TFieldDescriptor>& fields, const std::string& table);

//! Copies d into descriptor n (used for the word index when a table is
//! created): definition fields only, with no pages.
void SetIndexDescriptor(TIndexHeader& header, uint8_t n, const TIndexDescriptor& d);

//! Bytes one field takes in a key: its key size (8 for BCD, else its stored
//! size) and the presence byte.
int KeySlotSize(const TFieldDescriptor& field);

//! Checks a header read from disk against the table's fields (fields[i] is
//! field number i + 1). VEVURA_OLDVERSION for a version other than 5,
//! VEVURA_HEADERCORRUPT for any other failure.
void VerifyIndexHeader(const TIndexHeader& header, const std::vector<TFieldDescriptor>& fields,
                       const std::string& table);

}  // namespace vevura
