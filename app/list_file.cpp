#include "app/list_file.h"

#include <memory>

#include "app/run_errors.h"
#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/os_error.h"

namespace vevura::app {

std::string ListFileText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text.append(line);
    text.append("\r\n");
  }
  return text;
}

void SaveListFile(const std::string& catalog_dir, const std::vector<std::string>& lines) {
  if (!platform::SetCurrentDirectory(catalog_dir)) {
    throw EInOutError(platform::LastOsError(), catalog_dir);
  }
  std::string path = platform::IncludeTrailingSlash(catalog_dir) + kListFileName;
  std::unique_ptr<platform::OsFile> file = platform::Fs().Create(path, platform::OpenOptions());
  if (!file) throw EInOutError(platform::LastOsError(), path);
  std::string text = ListFileText(lines);
  int64_t size = static_cast<int64_t>(text.size());
  for (int64_t pos = 0; pos < size;) {
    int64_t count = file->WriteAt(pos, text.data() + pos, size - pos);
    if (count <= 0) throw EInOutError(platform::LastOsError(), path);
    pos += count;
  }
}

}  // namespace vevura::app
