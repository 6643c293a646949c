#pragma once
// The data page chain of an index: a byte stream of the index's parameters
// kept in pages of type 4, starting at the descriptor's first data page and
// linked through the next links.
//
// The stream is a sequence of items, each a 4-byte signed integer or a run of
// at most 4083 bytes. An item never spans two pages: one that would end
// beyond the 4083 bytes of the current page starts at byte 0 of the next page
// of the chain (allocated and linked when the chain ends). Reading follows the
// same rule; a chain that is not made of data pages or ends early is
// VEVURA_INDEXCORRUPT.
//
// The word index keeps its stop words and its two character sets here.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/storage/index/page_store.h"

namespace vevura {

//! Writes items from the start of an index's data page chain.
class TDataPageWriter {
 public:
  //! Starts at the index's first data page, allocating it when there is none.
  TDataPageWriter(TPageStore& store, uint8_t index);
  void WriteInt32(int32_t value);
  //! REQUIRES: length <= 4083 (else VEVURA_INDEXCORRUPT).
  void WriteBytes(const uint8_t* data, size_t length);

 private:
  //! Makes room for an item of length bytes on the current page.
  void Room(size_t length);
  TPageRef NewDataPage();

  TPageStore& store_;
  uint8_t index_;
  TPageRef page_;      //!< the page written now
  size_t offset_ = 0;  //!< next byte of that page
};

//! Reads items from the start of an index's data page chain.
class TDataPageReader {
 public:
  //! REQUIRES: the index has a first data page.
  TDataPageReader(TPageStore& store, uint8_t index);
  int32_t ReadInt32();
  std::vector<uint8_t> ReadBytes(size_t length);

 private:
  void Room(size_t length);
  TPageRef FetchDataPage(int32_t n);
  [[noreturn]] void RaiseCorrupt() const;

  TPageStore& store_;
  uint8_t index_;
  TPageRef page_;
  size_t offset_ = 0;
  int32_t pages_read_ = 0;  //!< bounds the walk of a damaged, circular chain
};

//! Parameters of the word index.
struct TTextIndexParameters {
  std::vector<std::string> StopWords;  //!< words left out of the index
  std::array<uint8_t, 32> FirstSet{};  //!< bit c mod 8 of byte c div 8 per character c
  std::array<uint8_t, 32> SecondSet{};

  bool operator==(const TTextIndexParameters&) const = default;
};

//! Writes the parameters into the chain of the word index (index 32).
void WriteTextIndexParameters(TPageStore& store, const TTextIndexParameters& parameters);
//! The parameters of the word index, or nothing when it has no data page (the
//! defaults of the key rules then apply). VEVURA_INDEXCORRUPT for a damaged
//! chain, a negative count or a length beyond 4083.
std::optional<TTextIndexParameters> ReadTextIndexParameters(TPageStore& store);

}  // namespace vevura
