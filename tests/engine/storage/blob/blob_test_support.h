#pragma once
// Shared pieces of the BLOB file tests: a fixture that makes BLOB files on
// disk or in memory, stores and loads BLOBs through TBlobBuffer, and reads
// and patches the raw bytes of a closed file.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/blob/blob_buffer.h"
#include "engine/storage/blob/blob_file.h"
#include "engine/storage/blob/blob_header.h"
#include "engine/storage/common/scramble.h"
#include "tests/engine/storage/file_layer_support.h"

namespace vevura::test {

//! Where a BLOB file lives and how it is laid out.
struct TBlobFileKind {
  bool InMemory = false;
  uint32_t BlockSize = 512;
  bool Encrypted = false;
};

inline std::string KindName(const TBlobFileKind& kind) {
  return std::string(kind.InMemory ? "memory" : "disk") + ", block size " +
         std::to_string(kind.BlockSize) + (kind.Encrypted ? ", encrypted" : "");
}

//! Random bytes of the given length.
inline std::vector<uint8_t> RandomBytes(std::mt19937& random, size_t length) {
  std::vector<uint8_t> bytes(length);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

class BlobFileTest : public FileLayerTest {
 protected:
  //! The file name for kind.
  std::string NameOf(const TBlobFileKind& kind) const {
    return kind.InMemory ? std::string("BLOBTEST.BLB") : PathOf("BLOBTEST.BLB");
  }

  //! A closed BLOB file object set up for kind.
  std::unique_ptr<TBlobFile> FileObject(const TBlobFileKind& kind) const {
    auto file = std::make_unique<TBlobFile>();
    file->SetFileName(NameOf(kind));
    file->SetInMemory(kind.InMemory);
    file->SetBlockSize(kind.BlockSize);
    file->SetEncrypted(kind.Encrypted);
    file->SetTableName("BLOBTEST");
    return file;
  }

  //! A new, empty BLOB file with its header written, open.
  std::unique_ptr<TBlobFile> Create(const TBlobFileKind& kind) const {
    std::unique_ptr<TBlobFile> file = FileObject(kind);
    file->CreateFile();
    file->WriteBlobHeader(false);
    return file;
  }

  //! The existing BLOB file, open.
  std::unique_ptr<TBlobFile> Open(const TBlobFileKind& kind) const {
    std::unique_ptr<TBlobFile> file = FileObject(kind);
    file->Open();
    return file;
  }

  //! Writes every change of the file to it.
  static void Flush(TBlobFile& file) {
    file.FlushBlocks();
    file.WriteBlobHeader(false);
  }

  //! Stores bytes as a new BLOB with identifier id; its first block.
  static int32_t Store(TBlobFile& file, const std::vector<uint8_t>& bytes, int32_t id) {
    TBlobBuffer buffer(file, nullptr);
    Fill(buffer, bytes);
    buffer.SetBlobId(id);
    buffer.SaveBlob();
    return buffer.FirstBlock();
  }

  //! The BLOB of the chain at first with identifier id.
  static std::vector<uint8_t> Load(TBlobFile& file, int32_t first, int32_t id) {
    TBlobBuffer buffer(file, nullptr);
    buffer.SetFirstBlock(first);
    buffer.SetBlobId(id);
    buffer.LoadBlob();
    return std::vector<uint8_t>(buffer.Data(), buffer.Data() + buffer.Length());
  }

  static void Fill(TBlobBuffer& buffer, const std::vector<uint8_t>& bytes) {
    buffer.SetLength(static_cast<int32_t>(bytes.size()));
    if (!bytes.empty()) std::memcpy(buffer.MutableData(), bytes.data(), bytes.size());
  }

  //! The raw bytes of the closed file of kind.
  std::vector<uint8_t> RawFile(const TBlobFileKind& kind) const {
    return ContentsOf(NameOf(kind), kind.InMemory);
  }

  //! Overwrites raw bytes of the closed file of kind at offset.
  void PatchRaw(const TBlobFileKind& kind, int64_t offset, const std::vector<uint8_t>& bytes) {
    auto handler = Handler(NameOf(kind), kind.InMemory);
    handler->Open();
    handler->WriteAt(offset, bytes.data(), static_cast<int64_t>(bytes.size()));
    handler->Close();
  }

  //! The plain block header of block n of the closed file of kind.
  TBlockHeader RawBlockHeader(const TBlobFileKind& kind, int32_t n) const {
    std::vector<uint8_t> raw = RawFile(kind);
    uint8_t image[kBlockHeaderSize];
    std::memcpy(image, raw.data() + BlockOffset(n, kind.BlockSize), kBlockHeaderSize);
    if (kind.Encrypted) UnscrambleRun(image, kBlockHeaderSize, kTableDataSeeds);
    return DecodeBlockHeader(image);
  }

  //! Changes the block header of block n of the closed file of kind.
  void PatchBlockHeader(const TBlobFileKind& kind, int32_t n,
                        const std::function<void(TBlockHeader&)>& change) {
    TBlockHeader header = RawBlockHeader(kind, n);
    change(header);
    std::vector<uint8_t> image(kBlockHeaderSize);
    EncodeBlockHeader(header, image.data());
    if (kind.Encrypted) ScrambleRun(image.data(), kBlockHeaderSize, kTableDataSeeds);
    PatchRaw(kind, BlockOffset(n, kind.BlockSize), image);
  }

  //! The plain header of the closed file of kind.
  TBlobHeader RawHeader(const TBlobFileKind& kind) const {
    std::vector<uint8_t> raw = RawFile(kind);
    if (kind.Encrypted) UnscrambleRun(raw.data(), kBlobHeaderSize, kTableDataSeeds);
    return DecodeBlobHeader(raw.data());
  }

  //! Changes the header of the closed file of kind.
  void PatchHeader(const TBlobFileKind& kind, const std::function<void(TBlobHeader&)>& change) {
    TBlobHeader header = RawHeader(kind);
    change(header);
    std::vector<uint8_t> image(kBlobHeaderSize);
    EncodeBlobHeader(header, image.data());
    if (kind.Encrypted) ScrambleRun(image.data(), kBlobHeaderSize, kTableDataSeeds);
    PatchRaw(kind, 0, image);
  }
};

}  // namespace vevura::test
