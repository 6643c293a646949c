#include "engine/storage/fields/record_layout.h"

#include <algorithm>

#include "engine/base/engine_error.h"
#include "engine/storage/common/byte_order.h"

namespace vevura {
namespace {

//! A record image too small for its header means descriptors and record size
//! disagree.
void CheckHeaderRoom(size_t image_size) {
  if (image_size < kRecordHeaderSize)
    RaiseEngineError(VEVURA_FILECORRUPT, "", "", "", "", "", "", "");
}

}  // namespace

uint32_t LayOutFields(std::vector<TFieldDescriptor>& fields) {
  uint32_t running = kRecordHeaderSize;
  for (TFieldDescriptor& field : fields) {
    field.PhysicalSize = static_cast<uint8_t>(StoredSize(field.Type, field.Size));
    field.PhysicalScale = field.Scale;
    if (field.IsAutoInc()) {
      field.Offset = kRowIdOffset;
    } else if (field.NoStorage != 0) {
      field.Offset = 0;
    } else {
      field.Offset = static_cast<uint16_t>(std::min<uint32_t>(running, 0xFFFF));
      running += field.PhysicalSize + 1u;
    }
  }
  return running;
}

uint32_t RecordSizeOf(const std::vector<TFieldDescriptor>& fields) {
  uint32_t size = kRecordHeaderSize;
  for (const TFieldDescriptor& field : fields) {
    if (field.HasStorage()) size += field.PhysicalSize + 1u;
  }
  return size;
}

uint8_t RecordStatus(std::span<const uint8_t> image) {
  CheckHeaderRoom(image.size());
  return image[kStatusOffset];
}

void SetRecordStatus(std::span<uint8_t> image, uint8_t status) {
  CheckHeaderRoom(image.size());
  image[kStatusOffset] = status;
}

int32_t RecordLink(std::span<const uint8_t> image) {
  CheckHeaderRoom(image.size());
  return GetInt32(image.data() + kRecordLinkOffset);
}

void SetRecordLink(std::span<uint8_t> image, int32_t value) {
  CheckHeaderRoom(image.size());
  PutInt32(image.data() + kRecordLinkOffset, value);
}

int32_t RecordRowId(std::span<const uint8_t> image) {
  CheckHeaderRoom(image.size());
  return GetInt32(image.data() + kRowIdOffset);
}

void SetRecordRowId(std::span<uint8_t> image, int32_t value) {
  CheckHeaderRoom(image.size());
  PutInt32(image.data() + kRowIdOffset, value);
}

void ClearRecordImage(std::span<uint8_t> image) {
  std::fill(image.begin(), image.end(), 0);
}

}  // namespace vevura
