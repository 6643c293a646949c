#include "engine/storage/data/data_header_verify.h"

#include "engine/base/engine_error.h"
#include "engine/storage/data/field_validation.h"
#include "platform/locale.h"

namespace vevura {
namespace {

//! True when the file holds header, descriptors and at least the record
//! slots the header counts. Bytes beyond them are the remains of an append
//! that a killed program wrote before the header that would have counted
//! them: no index names them, and the next append writes over them.
bool FileSizeFits(const TDataHeader& header, int64_t file_size) {
  const int64_t descriptors_end =
      static_cast<int64_t>(kDataHeaderSize) + int64_t{header.FieldCount} * kFieldDescriptorSize;
  if (file_size < descriptors_end || header.RecordSize == 0) return false;
  const int64_t records = (file_size - descriptors_end) / header.RecordSize;
  const int64_t counted = int64_t{header.NextRecordNumber} - 1;
  return counted >= 0 && counted <= records && header.FirstFreeRecord >= 0 &&
         header.FirstFreeRecord <= counted;
}

}  // namespace

void CheckDataFileVersion(const TDataHeader& header, const std::string& table) {
  if (header.Version != kDataFileVersion) RaiseTableError(VEVURA_OLDVERSION, table);
}

void VerifyDataHeader(const TDataHeader& header, std::vector<TFieldDescriptor>& fields,
                      int64_t file_size, const std::string& table) {
  CheckDataFileVersion(header, table);
  if (header.LanguageId != 0 &&
      !platform::LocaleInstalled(platform::MakeLcid(header.LanguageId, header.SortId))) {
    RaiseTableError(VEVURA_CANNOTLOADLDDRV, table);
  }
  if (header.FieldCount > kMaxFieldCount || fields.size() != header.FieldCount ||
      !StoredFieldsValid(fields, header.RecordSize) || !FileSizeFits(header, file_size)) {
    RaiseTableError(VEVURA_HEADERCORRUPT, table);
  }
}

}  // namespace vevura
