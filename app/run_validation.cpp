#include "app/run_validation.h"

#include "platform/directory.h"

namespace vevura::app {

namespace {

bool IsTrimmed(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

//! "" when dir is a usable directory; otherwise the missing or invalid message.
std::string CheckDirectory(const std::string& dir, const char* missing, const char* invalid) {
  if (dir.empty()) return missing;
  if (!platform::DirectoryExists(dir)) return invalid;
  return "";
}

}  // namespace

std::string TrimField(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsTrimmed(text[begin])) ++begin;
  while (end > begin && IsTrimmed(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string ValidateRunDirectories(const std::string& root_field, const std::string& catalog_field,
                                   TRunDirectories* dirs) {
  std::string root = TrimField(root_field);
  std::string message = CheckDirectory(root, kMissingRootMessage, kInvalidRootMessage);
  if (!message.empty()) return message;
  std::string catalog = TrimField(catalog_field);
  message = CheckDirectory(catalog, kMissingCatalogMessage, kInvalidCatalogMessage);
  if (!message.empty()) return message;
  dirs->RootDir = root;
  dirs->CatalogDir = catalog;
  dirs->CatalogPath = platform::ExpandFileName(catalog);
  return "";
}

}  // namespace vevura::app
