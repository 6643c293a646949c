#include "app/lic_image.h"

#include "platform/directory.h"

namespace vevura::app {

bool IsUsableLic(const TLicValues& values) {
  return !values.File.empty() && !values.Well.empty() && !values.Group.empty() &&
         values.File.find('{') == std::string::npos;
}

std::string_view ImageNamePart(std::string_view file) {
  size_t separator = file.find_last_of("\\:/");
  return separator == std::string_view::npos ? file : file.substr(separator + 1);
}

std::string FindImageFile(const std::string& lic_directory, std::string_view name_part) {
  // An empty name, "." or ".." names a directory, and a name holding NUL no
  // file at all.
  if (name_part.empty() || name_part == "." || name_part == ".." ||
      name_part.find('\0') != std::string_view::npos) {
    return "";
  }
  std::string path = platform::IncludeTrailingSlash(lic_directory);
  path.append(name_part);
  if (platform::FileExists(path)) return path;
  std::string found = platform::FindExistingName(path);
  return !found.empty() && platform::FileExists(found) ? found : "";
}

}  // namespace vevura::app
