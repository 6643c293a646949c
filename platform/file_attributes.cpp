#include "platform/file_attributes.h"

#include <cerrno>

#include "platform/date_time.h"
#include "platform/os_error.h"

namespace vevura::platform {

namespace {

constexpr double kNanosecondsPerDay = 86400.0 * 1e9;

bool IsHiddenName(const std::string& name) {
  return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

}  // namespace

FileAttributes AttributesOfStat(const struct stat& st, const std::string& name) {
  FileAttributes a;
  a.exists = true;
  a.is_directory = S_ISDIR(st.st_mode);
  a.is_regular = S_ISREG(st.st_mode);
  // The mode alone decides: root may write anything, so access() would never
  // report a read-only file to it.
  a.read_only = (st.st_mode & 0222) == 0;
  a.hidden = IsHiddenName(name);
  a.system = !a.is_directory && !a.is_regular;
  a.size = static_cast<int64_t>(st.st_size);
  // Before 1899-12-30 the time of day counts away from zero.
  double days = DayCountFromTimeT(st.st_mtim.tv_sec);
  double fraction = static_cast<double>(st.st_mtim.tv_nsec) / kNanosecondsPerDay;
  a.modified = days < 0 ? days - fraction : days + fraction;
  a.device = static_cast<uint64_t>(st.st_dev);
  a.inode = static_cast<uint64_t>(st.st_ino);
  return a;
}

bool StatPath(const std::string& path, FileAttributes* attributes) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) {
    SetLastOsError(path.empty() ? ENOENT : errno);
    *attributes = FileAttributes{};
    return false;
  }
  *attributes = AttributesOfStat(st, LastPathComponent(path));
  return true;
}

std::string LastPathComponent(const std::string& path) {
  size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return "";
  size_t slash = path.rfind('/', end);
  size_t begin = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(begin, end + 1 - begin);
}

}  // namespace vevura::platform
