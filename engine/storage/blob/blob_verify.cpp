#include "engine/storage/blob/blob_verify.h"

#include <algorithm>
#include <exception>

#include "engine/base/engine_error.h"

namespace vevura {

namespace {

//! What a block has been found to be so far.
enum TBlockUse : uint8_t { buUnseen, buFree, buChain };

class TBlobFileChecker {
 public:
  TBlobFileChecker(TBlobFile& file, TBlobFileCheck& report) : file_(file), report_(report) {}

  //! Checks the header; false when the blocks cannot be walked.
  bool CheckHeader();
  void CheckFreeList();
  void CheckChain(const TBlobReference& blob);
  void CheckEveryBlockAccounted();
  //! Sizes the block uses for a file whose header is not looked at.
  void StartUses() {
    use_.assign(static_cast<size_t>(std::max(file_.LastBlock(), 0)) + 1, buUnseen);
  }
  //! Checks one chain on its own; its first fault, or "" when it is sound
  //! (its blocks then stay claimed, else they are given back).
  std::string CheckOneChain(const TBlobReference& blob);
  bool Used(int32_t n) const { return use_[static_cast<size_t>(n)] != buUnseen; }

 private:
  void Problem(const std::string& text) { report_.Problems.push_back(text); }
  bool InFile(int32_t n) const { return n >= 1 && n <= file_.LastBlock(); }
  //! Block n pinned, with read-ahead for wanted blocks.
  TBlockRef Fetch(int32_t n, int32_t wanted) {
    return TBlockRef(file_, file_.GetBlock(nullptr, n, wanted, true));
  }
  //! Marks block n as used by use; false (with a problem) when it was already used.
  bool Claim(int32_t n, TBlockUse use, const std::string& where);
  //! Checks one block of a chain; false when the walk cannot go on.
  bool CheckChainBlock(const TBlock& block, const TBlobReference& blob, int32_t index,
                       int32_t previous, int64_t length, const std::string& where);

  TBlobFile& file_;
  TBlobFileCheck& report_;
  std::vector<TBlockUse> use_;    //!< by block number
  std::vector<int32_t> claimed_;  //!< blocks claimed by the chain checked last
};

std::string BlockName(int32_t n) {
  return "block " + std::to_string(n);
}

bool TBlobFileChecker::CheckHeader() {
  const TBlobHeader& header = file_.Header();
  report_.Blocks = std::max(file_.LastBlock(), 0);
  if (header.Version != kBlobFileVersion) {
    Problem("header: version " + std::to_string(header.Version) + " instead of 5");
  }
  if (header.FirstFreeBlock != 0 && !InFile(header.FirstFreeBlock)) {
    Problem("header: first free block " + std::to_string(header.FirstFreeBlock) +
            " outside the file");
  }
  // Blocks exist on disk or, not yet written, in the cache.
  int64_t on_disk = (file_.GetSize() - static_cast<int64_t>(kBlobHeaderSize)) / file_.BlockSize();
  int64_t possible = std::max<int64_t>(on_disk, 0) + file_.Cache().Count();
  if (header.NextBlockNumber < 1 || file_.LastBlock() > possible) {
    Problem("header: next block number " + std::to_string(header.NextBlockNumber) +
            " for a file of " + std::to_string(on_disk) + " blocks");
    return false;
  }
  use_.assign(static_cast<size_t>(file_.LastBlock()) + 1, buUnseen);
  return true;
}

bool TBlobFileChecker::Claim(int32_t n, TBlockUse use, const std::string& where) {
  TBlockUse& seen = use_[static_cast<size_t>(n)];
  if (seen == buUnseen) {
    seen = use;
    return true;
  }
  std::string what = seen == buFree ? "on the free list" : "in a chain";
  Problem(where + ": " + BlockName(n) + " is already " + what);
  return false;
}

void TBlobFileChecker::CheckFreeList() {
  int32_t n = file_.Header().FirstFreeBlock;
  if (!InFile(n)) return;
  while (n != 0) {
    if (!InFile(n)) {
      Problem("free list: link to " + BlockName(n) + " outside the file");
      return;
    }
    if (!Claim(n, buFree, "free list")) return;
    ++report_.FreeBlocks;
    TBlockRef block = Fetch(n, file_.ReadAheadCount());
    n = block->NextBlock();
  }
}

bool TBlobFileChecker::CheckChainBlock(const TBlock& block, const TBlobReference& blob,
                                       int32_t index, int32_t previous, int64_t length,
                                       const std::string& where) {
  std::string at = where + ", " + BlockName(block.Number());
  if (block.BlobId() != blob.BlobId) {
    Problem(at + ": identifier " + std::to_string(block.BlobId()));
  }
  if (block.PreviousBlock() != previous) {
    Problem(at + ": previous block " + std::to_string(block.PreviousBlock()) + " instead of " +
            std::to_string(previous));
  }
  if (index > 0 && block.TotalLength() != 0) {
    Problem(at + ": total length " + std::to_string(block.TotalLength()) + " in a later block");
  }
  int64_t before = static_cast<int64_t>(index) * file_.DataSize();
  int64_t expected = std::min<int64_t>(length - before, file_.DataSize());
  if (block.BytesUsed() != expected) {
    Problem(at + ": " + std::to_string(block.BytesUsed()) + " bytes used instead of " +
            std::to_string(expected));
    return false;
  }
  report_.ChainBytes += block.BytesUsed();
  bool last = before + expected == length;
  if (last != (block.NextBlock() == 0)) {
    Problem(at + (last ? ": the chain goes on past the BLOB's length"
                       : ": the chain ends before the BLOB's length"));
    return false;
  }
  return true;
}

void TBlobFileChecker::CheckChain(const TBlobReference& blob) {
  if (blob.FirstBlock == 0) return;
  std::string where = "BLOB " + std::to_string(blob.BlobId);
  if (!InFile(blob.FirstBlock)) {
    Problem(where + ": first " + BlockName(blob.FirstBlock) + " outside the file");
    return;
  }
  int64_t length = -1;
  int32_t previous = 0;
  int32_t n = blob.FirstBlock;
  for (int32_t index = 0; n != 0; ++index) {
    if (!InFile(n)) {
      Problem(where + ": link to " + BlockName(n) + " outside the file");
      return;
    }
    if (!Claim(n, buChain, where)) return;
    claimed_.push_back(n);
    ++report_.ChainBlocks;
    TBlockRef block = Fetch(n, file_.ReadAheadCount());
    if (index == 0) {
      length = block->TotalLength();
      if (length <= 0) {
        Problem(where + ": total length " + std::to_string(length));
        return;
      }
    }
    if (!CheckChainBlock(*block, blob, index, previous, length, where)) return;
    previous = n;
    n = block->NextBlock();
  }
}

std::string TBlobFileChecker::CheckOneChain(const TBlobReference& blob) {
  const size_t before = report_.Problems.size();
  claimed_.clear();
  try {
    CheckChain(blob);
  } catch (const EVEVURAEngineError& e) {
    Problem(std::string("reading the file: ") + e.what());
  }
  if (report_.Problems.size() == before) return "";
  for (int32_t n : claimed_) use_[static_cast<size_t>(n)] = buUnseen;
  return report_.Problems[before];
}

void TBlobFileChecker::CheckEveryBlockAccounted() {
  for (int32_t n = 1; n <= file_.LastBlock(); ++n) {
    if (use_[static_cast<size_t>(n)] == buUnseen) {
      Problem(BlockName(n) + " is neither in a chain nor on the free list");
    }
  }
}

}  // namespace

std::vector<std::string> CheckBlobChains(TBlobFile& file, const std::vector<TBlobReference>& blobs,
                                         std::vector<uint8_t>* used) {
  TBlobFileCheck report;
  TBlobFileChecker checker(file, report);
  checker.StartUses();
  std::vector<std::string> faults;
  for (const TBlobReference& blob : blobs) faults.push_back(checker.CheckOneChain(blob));
  used->assign(static_cast<size_t>(std::max(file.LastBlock(), 0)) + 1, 0);
  for (int32_t n = 1; n <= file.LastBlock(); ++n) (*used)[static_cast<size_t>(n)] = checker.Used(n);
  return faults;
}

TBlobFileCheck VerifyBlobFile(TBlobFile& file, const std::vector<TBlobReference>& blobs) {
  TBlobFileCheck report;
  TBlobFileChecker checker(file, report);
  try {
    if (!checker.CheckHeader()) return report;
    checker.CheckFreeList();
    for (const TBlobReference& blob : blobs) checker.CheckChain(blob);
  } catch (const EVEVURAEngineError& e) {
    report.Problems.push_back(std::string("reading the file: ") + e.what());
    return report;
  }
  checker.CheckEveryBlockAccounted();
  return report;
}

}  // namespace vevura
