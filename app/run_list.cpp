#include "app/run_list.h"

#include <ostream>

namespace vevura::app {

void WriteLine(std::ostream& out, const std::string& line) {
  out.write(line.data(), static_cast<std::streamsize>(line.size()));
  out.put('\n');
}

namespace {

void AppendPadded(std::string* line, std::string_view text, size_t width) {
  line->append(text);
  if (text.size() < width) line->append(width - text.size(), ' ');
}

}  // namespace

std::string RootDirLine(const std::string& root_dir) {
  return "Root Dir   : " + root_dir;
}

std::string CatalogDirLine(const std::string& catalog_dir) {
  return "Catalog Dir: " + catalog_dir;
}

std::string FolderLine(const std::string& folder) {
  return "======> " + folder;
}

std::string LicLine(std::string_view well, std::string_view group, std::string_view lic_name) {
  std::string line = "UWI=";
  AppendPadded(&line, well, 16);
  line.append("  GROUP=");
  AppendPadded(&line, group, 20);
  line.append("  LIC=");
  line.append(lic_name);
  return line;
}

std::string RecordsAddedLine(int32_t added_count) {
  return std::to_string(added_count) + " Records Added to Database";
}

}  // namespace vevura::app
