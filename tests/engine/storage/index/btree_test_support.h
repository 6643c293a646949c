#pragma once
// Shared pieces of the index file and B-tree tests: a stand-in for the table
// that owns an index file, index descriptors, key makers, and a fixture with
// a scratch directory and a fresh file list.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/index/btree.h"
#include "engine/storage/index/btree_verify.h"
#include "engine/storage/index/index_file.h"
#include "engine/storage/index/key_comparer.h"
#include "tests/engine/storage/file_layer_support.h"

namespace vevura::test {

//! The table an index file belongs to, reduced to what the file asks of it.
class TTestIndexHost : public TIndexFileHost {
 public:
  std::string Name = "BTREETEST";
  bool Encrypt = false;
  int32_t BufferSize = 16384;
  bool TransactionLock = false;
  int HeaderWritten = 0;             //!< SetHeaderWritten calls
  int PageReadChecks = 0;            //!< BeforePageRead calls
  std::function<bool()> OnPageRead;  //!< answers BeforePageRead; true when empty
  int TemporaryFiles = 0;

  const std::string& TableName() const override { return Name; }
  bool Encrypted() const override { return Encrypt; }
  int32_t IndexBufferSize() const override { return BufferSize; }
  bool DefersPageWrites() const override { return TransactionLock; }
  void SetHeaderWritten() override { ++HeaderWritten; }
  bool BeforePageRead() override {
    ++PageReadChecks;
    return OnPageRead ? OnPageRead() : true;
  }
  std::string TemporaryIndexFileName() override {
    return Name + "_TMP" + std::to_string(TemporaryFiles++) + ".IDX";
  }
};

//! A descriptor of an index over no particular fields.
inline TIndexDescriptor IndexDescriptor(const std::string& name, uint16_t key_length, bool unique,
                                        uint8_t compression, bool descending = false,
                                        bool no_counts = false, bool temporary = false) {
  TIndexDescriptor d;
  d.Name = name;
  d.KeyLength = key_length;
  d.Unique = unique ? 1 : 0;
  d.Compression = compression;
  d.Descending = descending ? 1 : 0;
  d.NoCounts = no_counts ? 1 : 0;
  d.Temporary = temporary ? 1 : 0;
  d.FieldCount = 1;
  d.FieldNumbers[0] = 1;
  return d;
}

using TKey = std::vector<uint8_t>;

//! A key of length k whose first bytes are text and the rest zeros.
inline TKey TextKey(const std::string& text, size_t k) {
  TKey key(k, 0);
  for (size_t i = 0; i < text.size() && i < k; ++i) key[i] = static_cast<uint8_t>(text[i]);
  return key;
}

//! Makes keys that give every leaf compression work to do: shared leading
//! parts of several lengths (some beyond 254 bytes), random middles of mixed
//! lengths, runs of trailing zeros (some beyond 254 bytes) and, for an index
//! that is not unique, a 4-byte tie-break that differs for every key.
class TKeyMaker {
 public:
  TKeyMaker(uint32_t seed, size_t key_length, bool unique)
      : rng_(seed), k_(key_length), unique_(unique) {
    const size_t body = BodyLength();
    for (size_t shared : {size_t{0}, size_t{3}, body / 2, body > 20 ? body - 8 : body / 3}) {
      TKey prefix(std::min(shared, body));
      for (auto& b : prefix) b = static_cast<uint8_t>(rng_() % 4 + 'A');
      prefixes_.push_back(prefix);
    }
  }

  //! Bytes before the tie-break.
  size_t BodyLength() const { return unique_ ? k_ : k_ - 4; }

  //! A fresh body (the key without its tie-break).
  TKey Body() {
    const size_t body = BodyLength();
    TKey key(body, 0);
    const TKey& prefix = prefixes_[rng_() % prefixes_.size()];
    std::copy(prefix.begin(), prefix.end(), key.begin());
    size_t middle = rng_() % 3 == 0 ? body : rng_() % 24 + 1;
    for (size_t i = prefix.size(); i < body && i < prefix.size() + middle; ++i) {
      // Few distinct byte values, so that neighbours share leading bytes.
      key[i] = static_cast<uint8_t>(rng_() % 3 == 0 ? rng_() % 256 : 'a' + rng_() % 3);
    }
    return key;
  }

  //! A key: a fresh body or, with duplicates, the body of an earlier key;
  //! then a new tie-break when the index is not unique.
  TKey Next(const TKey* earlier_body = nullptr) {
    TKey key = earlier_body != nullptr ? *earlier_body : Body();
    key.resize(BodyLength());
    if (!unique_) {
      uint32_t tie = ++tie_break_;
      for (int i = 3; i >= 0; --i) key.push_back(static_cast<uint8_t>(tie >> (8 * i)));
    }
    return key;
  }

  std::mt19937& Rng() { return rng_; }

 private:
  std::mt19937 rng_;
  size_t k_;
  bool unique_;
  std::vector<TKey> prefixes_;
  uint32_t tie_break_ = 0;
};

//! An integer from the environment, or fallback.
inline long EnvNumber(const char* name, long fallback) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == 0) return fallback;
  return std::strtol(value, nullptr, 10);
}

//! A scratch directory, a fresh file list and a host for index files.
class IndexFileTest : public FileLayerTest {
 protected:
  //! A new index file (in memory unless a disk path is wanted), created and open.
  std::unique_ptr<TIndexFile> NewIndexFile(bool in_memory = true,
                                           const std::string& name = "T.IDX") {
    auto file = std::make_unique<TIndexFile>(host_);
    file->SetFileName(in_memory ? name : PathOf(name));
    file->SetInMemory(in_memory);
    file->CreateFile();
    return file;
  }

  //! An index file handler for a file that exists, opened.
  std::unique_ptr<TIndexFile> OpenIndexFile(bool in_memory = true,
                                            const std::string& name = "T.IDX") {
    auto file = std::make_unique<TIndexFile>(host_);
    file->SetFileName(in_memory ? name : PathOf(name));
    file->SetInMemory(in_memory);
    file->Open();
    return file;
  }

  //! Writes pages and header and closes the file.
  static void FlushAndClose(TIndexFile& file) {
    file.WriteDirtyPages(false);
    file.WriteDirtyPages(true);
    file.WriteIndexHeader(true);
    file.Close();
  }

  //! The structural check of every index, with byte order as every index's
  //! comparison (descending where the descriptor says so).
  static TIndexVerifyReport Verify(TIndexFile& file) {
    std::vector<std::unique_ptr<TByteKeyComparer>> comparers;
    for (int i = 0; i < kIndexCount; ++i) {
      comparers.push_back(std::make_unique<TByteKeyComparer>(
          file.GetIndexDescriptor(static_cast<uint8_t>(i)).Descending != 0));
    }
    return VerifyIndexFile(
        file, [&](uint8_t i) { return comparers[i].get(); },
        [&](uint8_t i) { return file.GetIndexDescriptor(i).Temporary != 0; });
  }

  TTestIndexHost host_;
};

}  // namespace vevura::test
