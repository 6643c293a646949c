#pragma once
// The layering of the tree as its READMEs state it, and the check of every
// include against it.
//
// A layer folder's README.md holds a table headed "| folder | may include |":
// each row names a folder (from the top of the tree) and the folders its files
// may include besides their own ("—" for none). A table headed
// "| header | only in |" names system headers (one ending in "/" stands for a
// whole directory of them) that only the listed folders may include. A file
// obeys the row of the deepest folder that contains it.
//
// Every source file under a top-level folder that has rules must be covered
// by a row; its quoted includes must start at the top of the tree
// ("engine/storage/index/btree.h", never "btree.h") and lie in its own folder
// or an allowed one.

#include <filesystem>
#include <string>
#include <vector>

namespace vevura::layering {

struct TFolderRule {
  std::string folder;                //!< from the top, without a trailing "/"
  std::vector<std::string> allowed;  //!< folders its files may include besides their own
};

struct THeaderRule {
  std::string header;                //!< "<unistd.h>", or "<sys/" for a directory
  std::vector<std::string> only_in;  //!< the folders that may include it
};

struct TLayerRules {
  std::vector<TFolderRule> folders;
  std::vector<THeaderRule> headers;
  std::vector<std::string> problems;  //!< malformed rows, as "path:line: what"
};

//! The rules of every README.md under top (build trees, tests and benchmarks
//! aside).
TLayerRules ReadLayerRules(const std::filesystem::path& top);

//! The violations of the tree under top, one line each as
//! "path:line: what is wrong", the rules' own problems first; empty when the
//! tree follows its rules.
std::vector<std::string> CheckLayering(const std::filesystem::path& top);

}  // namespace vevura::layering
