#pragma once
// The layout of a record image: a 9-byte record header followed by one slot
// per stored field.
//
// Record header: byte 0 status (0 live, 1 free); bytes 1 to 4 the record's own
// number when live, the next free record when free (0 ends the chain); bytes 5
// to 8 the row id, the auto-increment value given at insert, which is also the
// value of the auto-increment field. Every field with storage has a slot at
// its descriptor's offset: one null-flag byte (1 value, 0 null) and then its
// stored size in data bytes. Slots follow each other from offset 9 in field
// order, so the record size is 9 plus the sum of (stored size + 1). The
// auto-increment field has offset 5 and no flag; a no-storage field no slot.
//
// The functions over images take the image as a span and never touch a byte
// outside it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/storage/fields/field_descriptor.h"

namespace vevura {

inline constexpr uint32_t kRecordHeaderSize = 9;
inline constexpr size_t kStatusOffset = 0;
//! Own record number (live) or next free record (free).
inline constexpr size_t kRecordLinkOffset = 1;
inline constexpr size_t kRowIdOffset = 5;
//! The largest record size the header's 16-bit record-size field can hold.
inline constexpr uint32_t kMaxRecordSize = 65535;

enum TRecordStatus : uint8_t { rsLive = 0, rsFree = 1 };

//! Gives every field its offset in field order, from 9: the auto-increment
//! field 5, a no-storage field 0, every other field the running offset, which
//! then grows by the field's stored size + 1. Stored size and scale are set
//! from type and declared values first. Returns the record size (the final
//! running offset), which may exceed kMaxRecordSize; the caller refuses that.
uint32_t LayOutFields(std::vector<TFieldDescriptor>& fields);
//! The record size of laid-out descriptors: 9 plus (stored size + 1) over the
//! fields with storage.
uint32_t RecordSizeOf(const std::vector<TFieldDescriptor>& fields);

//! Record-header access on an image of at least 9 bytes.
uint8_t RecordStatus(std::span<const uint8_t> image);
void SetRecordStatus(std::span<uint8_t> image, uint8_t status);
int32_t RecordLink(std::span<const uint8_t> image);
void SetRecordLink(std::span<uint8_t> image, int32_t value);
int32_t RecordRowId(std::span<const uint8_t> image);
void SetRecordRowId(std::span<uint8_t> image, int32_t value);

//! Zero-fills the image: a live record without values, every field null.
void ClearRecordImage(std::span<uint8_t> image);

}  // namespace vevura
