#pragma once
// TTableChecker: the steps of VerifyTable (table_verify.h) over one open
// table object, and the sorted entry lists it compares indexes with.
//
// The checker first collects, from one pass over the record slots, every
// entry each index ought to hold; then it walks each index whose structure
// is sound and compares what it holds with that list. The steps live in
// table_verify.cpp (headers, counts, row ids), table_check_records.cpp (the
// pass over the slots, BLOBs and memo words) and table_check_indexes.cpp
// (index definitions, structure and contents).
//
// Used only by VerifyTable; not part of the engine's interface.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/table_verify.h"
#include "engine/storage/data/record.h"
#include "engine/storage/fields/field_codec.h"
#include "engine/storage/keys/key_compare.h"
#include "engine/storage/keys/key_context.h"
#include "engine/storage/keys/word_keys.h"

namespace vevura {

class TDataTable;

//! Index entries of one key length: the key followed by the reference in
//! big-endian order, so that sorting them as bytes sorts by key, then
//! record number.
class TEntryList {
 public:
  explicit TEntryList(size_t key_length) : key_length_(key_length) {}
  void Add(const uint8_t* key, uint32_t reference);
  size_t Size() const { return order_.size(); }
  //! Orders the entries as bytes.
  void Sort();
  //! Entry i in the current order: key_length + 4 bytes.
  const uint8_t* At(size_t i) const { return bytes_.data() + order_[i] * Stride(); }
  uint32_t ReferenceAt(size_t i) const;
  size_t Stride() const { return key_length_ + 4; }

 private:
  size_t key_length_;           //!< bytes of every key
  std::vector<uint8_t> bytes_;  //!< the entries, one after the other
  std::vector<size_t> order_;   //!< entry numbers in the current order
};

//! One index the checker looks into.
struct TCheckedIndex {
  TCheckedIndex(uint8_t number, std::string name, TKeyContext context)
      : Number(number),
        Name(std::move(name)),
        Context(std::move(context)),
        Comparer(Context),
        Expected(Context.KeyLength) {}
  TCheckedIndex(const TCheckedIndex&) = delete;
  TCheckedIndex& operator=(const TCheckedIndex&) = delete;

  uint8_t Number;              //!< 0 to 32
  std::string Name;            //!< how problem lines name it
  TKeyContext Context;         //!< its key rules
  TIndexKeyComparer Comparer;  //!< its order, over Context
  TEntryList Expected;         //!< the entries the records call for
  bool Sound = true;           //!< its tree is sound, so its contents are compared
};

//! A memo field of a live record that the word index covers.
struct TMemoText {
  int32_t Record = 0;        //!< record number
  int32_t RowId = 0;         //!< the record's row id
  uint16_t FieldNumber = 0;  //!< the memo field
  TBlobReference Blob;       //!< where its text lies
};

class TTableChecker {
 public:
  TTableChecker(TDataTable& table, TTableVerifyReport& report) : table_(table), report_(report) {}
  TTableChecker(const TTableChecker&) = delete;
  TTableChecker& operator=(const TTableChecker&) = delete;

  //! Every step, in order; engine errors become problems.
  void Run();
  //! Only what a rebuild of the indexes needs: the entries every index in
  //! use calls for (Expected of each Index), from the records as they stand.
  //! Raises what it meets; problems go to the report.
  void CollectEntries();
  //! The index looked into, or nullptr.
  TCheckedIndex* Index(uint8_t number) { return indexes_[number].get(); }
  //! Told the share of the check done, 0 to 100.
  void SetProgress(std::function<void(int)> progress) { progress_ = std::move(progress); }

 private:
  // ----- Headers, counts and row ids (table_verify.cpp) -----
  //! The data header and descriptors; false when nothing else can be read.
  bool CheckDataHeader();
  //! The index header; false when the indexes cannot be looked into.
  bool CheckIndexHeader();
  void CheckActiveCount();
  void CheckRowIds();

  // ----- The record slots (table_check_records.cpp) -----
  //! Any record change not yet written: the file alone is not the table.
  bool RecordsPending() const;
  //! The slot images as the buffers and the file hold them together.
  void ReadImages(int32_t first, int32_t count, uint8_t* images);
  //! The cached buffer of record number, or nullptr.
  const TRecord* CachedRecord(int32_t number) const;
  //! The record area checks, and the entries every slot calls for.
  void ScanRecords();
  void CollectSlot(int32_t number, const uint8_t* image);
  void CollectLiveRecord(int32_t number, TConstRecordImage record);
  //! The BLOB file against the live records' references.
  void CheckBlobs();
  //! The word keys of the memo texts; the word index is not compared when
  //! one cannot be read.
  void CollectMemoWords();

  // ----- The indexes (table_check_indexes.cpp) -----
  //! The key rules of every index in use; false when none can be checked.
  bool LoadIndexes();
  void AddIndex(uint8_t number, const std::string& name);
  //! The structure of every B-tree of the index file.
  void CheckIndexStructure();
  //! Each sound index against the entries its records call for.
  void CheckIndexContents();
  void CompareEntries(TCheckedIndex& index, TEntryList& actual);
  void Add(const std::string& problem) { report_.Add(problem); }

  TDataTable& table_;
  TTableVerifyReport& report_;
  std::array<std::unique_ptr<TCheckedIndex>, kIndexCount> indexes_;  //!< those looked into
  std::unique_ptr<TTextIndexRules> text_rules_;       //!< the word index's rules, when readable
  std::array<int64_t, kIndexCount> tree_keys_{};      //!< leaf entries the structure check met
  int32_t slots_ = 0;                                 //!< record slots of the table
  int32_t file_slots_ = 0;                            //!< whole records the file holds
  std::vector<std::pair<int32_t, int32_t>> row_ids_;  //!< (row id, slot) of every slot
  std::vector<TBlobReference> blobs_;                 //!< stored BLOBs of live records
  std::vector<TMemoText> memos_;                      //!< memo texts to index
  std::vector<int32_t> missing_;                      //!< slots neither in file nor buffers
  std::function<void(int)> progress_;                 //!< told the share done, if any
};

}  // namespace vevura
