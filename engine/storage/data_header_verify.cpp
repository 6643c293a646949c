#include "engine/storage/data_header_verify.h"

#include "engine/core/engine_error.h"
#include "engine/storage/field_validation.h"
#include "platform/locale.h"

namespace vevura {
namespace {

//! True when the file holds header, descriptors and exactly the record slots
//! the header counts.
bool FileSizeFits(const TDataHeader& header, int64_t file_size) {
  const int64_t descriptors_end =
      static_cast<int64_t>(kDataHeaderSize) + int64_t{header.FieldCount} * kFieldDescriptorSize;
  if (file_size < descriptors_end || header.RecordSize == 0) return false;
  const int64_t data = file_size - descriptors_end;
  if (data % header.RecordSize != 0) return false;
  const int64_t records = data / header.RecordSize;
  return header.NextRecordNumber == records + 1 && header.FirstFreeRecord >= 0 &&
         header.FirstFreeRecord <= records;
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
