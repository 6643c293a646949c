#pragma once
// Reading one LIC file: the values its keyword lines give.
//
// A LIC file is 8-bit text; lines end in LF or CR LF and may be of any length;
// a Ctrl-Z (code 26) ends the file. Each line is a comma list (comma_list.h)
// whose first item, upper-cased in the letters a to z only, is the keyword:
//
//   FILE        item 1 is File             WELL   item 1 is Well
//   GROUP       item 2 is Group (a GROUP line with exactly two items is an error)
//   DEPTHTYPE   "0" gives DepthType "MD", "1" gives "TVD"; other text keeps it
//   DEPTHUNITS  "0" gives DepthUnit "F", "1" gives "M"; other text keeps it
//   DEPPIX      item 1 is a depth V (depth_number.h): Top := V while Top is
//               still 0, and Bottom := V on every line
//
// Lines with fewer than two items and other keywords are ignored; a keyword
// that occurs again overrides what it gave before. So Top is the first
// non-zero depth and Bottom the last depth, 0 included.
//
// The file is read in chunks, so its size does not matter beyond that of its
// longest line. Only a line's first three items are split, so a line costs
// about its own length once more (a few bytes per character at most), however
// many items it has.

#include <string>
#include <string_view>
#include <vector>

#include "app/depth_number.h"

namespace vevura::app {

//! What one LIC file says; every value starts empty or 0 for each file.
struct TLicValues {
  std::string File;       //!< image file name as written (any directory in it included)
  std::string Well;       //!< well identifier
  std::string Group;      //!< log group
  std::string DepthType;  //!< "MD", "TVD" or empty
  std::string DepthUnit;  //!< "F", "M" or empty
  double Top = 0;         //!< first non-zero DEPPIX depth
  double Bottom = 0;      //!< last DEPPIX depth
};

//! Reads LIC files one after the other, reusing its buffers. Not thread-safe.
class TLicReader {
 public:
  //! A reader whose depths use decimal_separator (by default that of the
  //! user's numeric locale as it stands when the reader is made).
  explicit TLicReader(std::string decimal_separator = LocaleDecimalSeparator());

  //! The values of the file at path (relative paths from the current
  //! directory). Throws EInOutError when the file cannot be opened or read,
  //! and EListError (index 2) for a GROUP line with exactly two items.
  TLicValues ReadFile(const std::string& path);
  //! The values of a LIC file's text held in memory; throws EListError as
  //! ReadFile does.
  TLicValues ReadText(std::string_view text);

  //! Bytes of storage the reader's buffers hold now: the read buffer, the
  //! unfinished line and the items of the last line split. They stay from file
  //! to file and grow with the longest line read.
  size_t BufferBytes() const;

 private:
  void BeginFile();
  //! Applies the complete lines of text and keeps its unfinished last line;
  //! false once a Ctrl-Z has ended the file.
  bool FeedText(std::string_view text);
  //! Applies the unfinished last line, if any.
  void EndFile();
  void ApplyLine(std::string_view line);
  void ApplyKeyword(const std::vector<std::string>& items);

  std::string decimal_separator_;   //!< separator of DEPPIX depths
  TLicValues values_;               //!< values gathered from the current file
  std::string partial_line_;        //!< start of a line that continues in the next chunk
  std::vector<std::string> items_;  //!< first items of the line being applied
  std::vector<char> chunk_;         //!< read buffer
};

}  // namespace vevura::app
