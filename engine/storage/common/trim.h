#pragma once
// Trimming of names, passwords and values as the engine does it: leading and
// trailing blanks and control characters (every byte up to 32) are removed.

#include <string>
#include <string_view>

namespace vevura {

inline bool IsTrimmedByte(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

inline std::string TrimText(std::string_view text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsTrimmedByte(text[first])) ++first;
  while (last > first && IsTrimmedByte(text[last - 1])) --last;
  return std::string(text.substr(first, last - first));
}

//! Removes trailing blanks (spaces only) as strings are stored.
inline std::string TrimTrailingBlanks(std::string_view text) {
  size_t last = text.size();
  while (last > 0 && text[last - 1] == ' ') --last;
  return std::string(text.substr(0, last));
}

}  // namespace vevura
