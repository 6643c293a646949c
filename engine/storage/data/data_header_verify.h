#pragma once
// Verification of an existing table's data header and field descriptors,
// run when a table is first opened by a session.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/data/data_header.h"
#include "engine/storage/fields/field_descriptor.h"

namespace vevura {

//! True when a file of file_size bytes holds at least the record slots the
//! header counts after its descriptors (none when it is shorter), and the
//! first free record is 0 or one of those slots: the numbers may then size
//! buffers and enter arithmetic.
bool SlotCountsFit(const TDataHeader& header, int64_t file_size);

//! The fields of type fcBlob among fields.
int BlobFieldsOf(const std::vector<TFieldDescriptor>& fields);

//! Raises VEVURA_OLDVERSION naming the table unless the version byte is 5.
void CheckDataFileVersion(const TDataHeader& header, const std::string& table);

//! Checks header and descriptors against each other and against the file's
//! size, raising (naming the table): VEVURA_OLDVERSION for a version other
//! than 5; VEVURA_CANNOTLOADLDDRV for a language that is not 0 and not
//! installed; VEVURA_HEADERCORRUPT for a descriptor that breaks the field
//! rules (field_validation.h), a record size other than the layout's, a BLOB
//! field count other than the descriptors' BLOB fields, or a file size that
//! does not fit the record counts (a partial record, a next record number
//! other than records + 1, a first free record beyond the records, a file
//! shorter than header and descriptors). Stored sizes and scales of the
//! descriptors are recomputed in place.
void VerifyDataHeader(const TDataHeader& header, std::vector<TFieldDescriptor>& fields,
                      int64_t file_size, const std::string& table);

}  // namespace vevura
