#pragma once
// The two errors of a catalog run that do not come from the engine: an
// input/output failure while reading a LIC file or changing into a directory,
// and a list line whose item is missing. Neither is caught by the run: it ends
// the run, and the window's general handler (or the batch driver) shows the
// message.

#include <stdexcept>
#include <string>

namespace vevura::app {

//! A file or directory could not be opened, read or made current. The message
//! is the operating system's text followed by the path ("Permission denied:
//! /logs/a.lic").
class EInOutError : public std::runtime_error {
 public:
  EInOutError(int os_error, const std::string& path);

  int ErrorCode = 0;  //!< the errno value the operation failed with
  std::string Path;   //!< the file or directory concerned
};

//! An item index past the end of a line's list: "List index out of bounds (2)".
class EListError : public std::runtime_error {
 public:
  explicit EListError(int index);

  int Index = 0;  //!< the index that was asked for
};

}  // namespace vevura::app
