#include "engine/storage/data/data_header_verify.h"

#include <algorithm>

#include "engine/base/engine_error.h"
#include "engine/storage/data/field_validation.h"
#include "platform/locale.h"

namespace vevura {

bool SlotCountsFit(const TDataHeader& header, int64_t file_size) {
  // Bytes beyond the counted slots are the remains of an append that a
  // killed program wrote before the header that would have counted them: no
  // index names them, and the next append writes over them.
  const int64_t descriptors_end =
      static_cast<int64_t>(kDataHeaderSize) + int64_t{header.FieldCount} * kFieldDescriptorSize;
  const int64_t room = std::max<int64_t>(file_size - descriptors_end, 0);
  const int64_t records = header.RecordSize == 0 ? 0 : room / header.RecordSize;
  const int64_t counted = int64_t{header.NextRecordNumber} - 1;
  return counted >= 0 && counted <= records && header.FirstFreeRecord >= 0 &&
         header.FirstFreeRecord <= counted;
}

namespace {

//! True when the file holds header, descriptors and the counted slots.
bool FileSizeFits(const TDataHeader& header, int64_t file_size) {
  const int64_t descriptors_end =
      static_cast<int64_t>(kDataHeaderSize) + int64_t{header.FieldCount} * kFieldDescriptorSize;
  return file_size >= descriptors_end && header.RecordSize != 0 && SlotCountsFit(header, file_size);
}

}  // namespace

int BlobFieldsOf(const std::vector<TFieldDescriptor>& fields) {
  int count = 0;
  for (const TFieldDescriptor& field : fields) count += field.Type == fcBlob ? 1 : 0;
  return count;
}

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
      !StoredFieldsValid(fields, header.RecordSize) || !FileSizeFits(header, file_size) ||
      header.BlobFieldCount != BlobFieldsOf(fields)) {
    RaiseTableError(VEVURA_HEADERCORRUPT, table);
  }
}

}  // namespace vevura
