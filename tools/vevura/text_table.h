#pragma once
// TTextTable: rows of text cells written in aligned columns, for the
// listings of `tables` and `info`.

#include <ostream>
#include <string>
#include <vector>

namespace vevura::tool {

class TTextTable {
 public:
  //! A table whose first row is heading.
  explicit TTextTable(std::vector<std::string> heading) { rows_.push_back(std::move(heading)); }
  void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  //! Every row, each cell padded to its column's width, two blanks apart,
  //! each line indented by indent blanks.
  void Write(std::ostream& out, size_t indent = 0) const;

 private:
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace vevura::tool
