#pragma once
// Comma-separated values as RFC 4180 has them: fields separated by commas,
// records ended by CRLF, a field holding a comma, a quote, CR or LF enclosed
// in quotes with each quote doubled. The reader also takes records ended by
// LF alone and a last record without an end.

#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace vevura::tool {

//! Appends field to line, quoted when it must be.
void AppendCsvField(std::string& line, std::string_view field);

//! Reads records one by one from a stream.
class TCsvReader {
 public:
  explicit TCsvReader(std::istream& in) : in_(in) {}
  //! The next record's fields; false at the end of the input. Throws
  //! std::runtime_error for a quote that is never closed or text after a
  //! closing quote.
  bool Next(std::vector<std::string>* fields);
  //! The line the last record began on (1-based).
  int64_t Line() const { return record_line_; }

 private:
  std::istream& in_;
  int64_t line_ = 1;         //!< the line being read
  int64_t record_line_ = 0;  //!< where the last record began
};

}  // namespace vevura::tool
