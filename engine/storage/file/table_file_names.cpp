#include "engine/storage/file/table_file_names.h"

#include <algorithm>

#include "engine/storage/common/trim.h"

namespace vevura {

namespace {

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

bool EndsWithExtension(std::string_view name, std::string_view extension) {
  if (name.size() < extension.size()) return false;
  std::string_view tail = name.substr(name.size() - extension.size());
  return std::equal(tail.begin(), tail.end(), extension.begin(), extension.end(),
                    [](char a, char b) { return AsciiUpper(a) == AsciiUpper(b); });
}

std::string TableNameWithoutExtension(std::string_view table_name) {
  std::string name = TrimText(table_name);
  if (EndsWithExtension(name, kDataFileExtension)) {
    name.resize(name.size() - kDataFileExtension.size());
  }
  return name;
}

std::string TableFileName(std::string_view directory, std::string_view table_name,
                          std::string_view extension) {
  std::string path = TrimText(directory);
  if (!path.empty() && path.back() != '/') path += '/';
  path += TableNameWithoutExtension(table_name);
  path += extension;
  return path;
}

}  // namespace vevura
