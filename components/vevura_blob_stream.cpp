#include "components/vevura_blob_stream.h"

#include <algorithm>
#include <limits>

#include "components/vevura_dataset.h"
#include "engine/base/engine_error.h"
#include "engine/storage/fields/field_codec.h"

namespace vevura {

namespace {

int32_t ClampToInt32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, 0, std::numeric_limits<int32_t>::max()));
}

TBlobOpenMode OpenModeOf(TBlobStreamMode mode) {
  switch (mode) {
    case bmRead:
      return boRead;
    case bmWrite:
      return boWrite;
    default:
      return boReadWrite;
  }
}

bool IsBlobOf(const TField& field) {
  const auto* blob = dynamic_cast<const TBlobField*>(&field);
  return blob != nullptr && blob->Modified();
}

}  // namespace

TVEVURABlobStream::TVEVURABlobStream(TVEVURADataSet& dataset, TField& field, TBlobStreamMode mode)
    : dataset_(dataset), field_(field), mode_(mode) {
  TDataCursor* cursor = dataset_.Handle();
  buffer_ = dataset_.ActiveBuffer();
  if (buffer_ == nullptr || cursor == nullptr || field.FieldKind() != fkData) {
    buffer_ = nullptr;
    return;
  }
  field_no_ = static_cast<uint16_t>(field.FieldNo());
  if (mode != bmRead) {
    if (field.ReadOnly()) {
      throw EDatabaseError(FormatMessage(msg::SFieldReadOnly, field.DisplayName()));
    }
    if (dataset.State() != dsEdit && dataset.State() != dsInsert) {
      throw EDatabaseError(msg::SNotEditing);
    }
  }
  if (!IsBlobOf(field)) {
    const TFieldDescriptor* d = dataset_.DescriptorOf(field);
    int32_t length = 0;
    const auto open = [&] {
      if (d != nullptr) {
        found_reference_ = GetBlobField(Record(), *d);
        found_with_data_ = Record()[d->Offset] != 0;
      }
      return cursor->OpenBlob(field_no_, Record(), OpenModeOf(mode), &length);
    };
    int code = open();
    if (code == VEVURA_KEYORRECDELETED && mode == bmRead) {
      cursor->Refresh();
      cursor->GetCurrentRecord(Record(), false);
      code = open();
    }
    if (code != 0) RaiseFieldError(code);
    opened_ = true;
  }
  if (mode == bmWrite) {
    const int code = cursor->TruncateBlob(field_no_, Record(), 0);
    if (code != 0) RaiseFieldError(code);
    written_ = true;
  }
}

TVEVURABlobStream::~TVEVURABlobStream() {
  if (buffer_ == nullptr) return;
  try {
    if (written_) {
      if (auto* blob = dynamic_cast<TBlobField*>(&field_)) blob->SetModified(true);
      dataset_.AnnounceBlobChange(field_);
    } else if (opened_) {
      dataset_.Handle()->CloseBlob(field_no_, Record());
      // The cursor may still count other opens of the BLOB (a buffer a post
      // saved stays open) and leave the record referring to its buffer; the
      // record must read as stored again, or an edit would take it for
      // changed by someone else.
      if (const TFieldDescriptor* d = dataset_.DescriptorOf(field_)) {
        SetBlobField(Record(), *d, found_reference_, found_with_data_);
      }
    }
  } catch (const std::exception& error) {
    HandleApplicationError(error);
  }
}

std::span<uint8_t> TVEVURABlobStream::Record() const {
  return {buffer_, dataset_.RecordSize()};
}

void TVEVURABlobStream::RaiseFieldError(int code) const {
  RaiseEngineError(static_cast<uint16_t>(code), "", "", "", dataset_.TableNameForMessages(),
                   field_.FieldName(), "", "");
}

int64_t TVEVURABlobStream::Read(void* buffer, int64_t count) {
  if (buffer_ == nullptr || count <= 0) return 0;
  int32_t read = 0;
  const int code =
      dataset_.Handle()->ReadBlob(field_no_, Record(), ClampToInt32(position_), ClampToInt32(count),
                                  static_cast<uint8_t*>(buffer), &read);
  if (code == VEVURA_INVALIDBLOBOFFSET) return 0;
  if (code != 0 && code != VEVURA_ENDOFBLOB) RaiseFieldError(code);
  position_ += read;
  return read;
}

int64_t TVEVURABlobStream::Write(const void* buffer, int64_t count) {
  if (buffer_ == nullptr || count <= 0) return 0;
  const int code =
      dataset_.Handle()->WriteBlob(field_no_, Record(), ClampToInt32(position_),
                                   ClampToInt32(count), static_cast<const uint8_t*>(buffer));
  if (code != 0) RaiseFieldError(code);
  position_ += count;
  written_ = true;
  return count;
}

int64_t TVEVURABlobStream::Seek(int64_t offset, TStreamOrigin origin) {
  if (buffer_ == nullptr) return 0;
  switch (origin) {
    case soBeginning:
      position_ = offset;
      break;
    case soCurrent:
      position_ += offset;
      break;
    case soEnd:
      position_ = Size() + offset;
      break;
  }
  position_ = std::max<int64_t>(position_, 0);
  return position_;
}

int64_t TVEVURABlobStream::Size() {
  if (buffer_ == nullptr) return 0;
  int32_t length = 0;
  const int code = dataset_.Handle()->GetBlobSize(field_no_, Record(), &length);
  if (code != 0) RaiseFieldError(code);
  return length;
}

void TVEVURABlobStream::Truncate() {
  if (buffer_ == nullptr) return;
  const int code = dataset_.Handle()->TruncateBlob(field_no_, Record(), ClampToInt32(position_));
  if (code != 0) RaiseFieldError(code);
  written_ = true;
}

}  // namespace vevura
