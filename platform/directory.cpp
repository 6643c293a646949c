#include "platform/directory.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/file_attributes.h"
#include "platform/os_error.h"

namespace vevura::platform {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool Fail(int err) {
  SetLastOsError(err);
  return false;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  return dir.empty() ? name : IncludeTrailingSlash(dir) + name;
}

// Attributes of a directory entry with links followed; a link that leads
// nowhere is described by the link itself, which makes it a system entry.
bool EntryAttributes(const std::string& path, const std::string& name, FileAttributes* a) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 && ::lstat(path.c_str(), &st) != 0) return false;
  *a = AttributesOfStat(st, name);
  return true;
}

bool PassesFilter(const FileAttributes& a, const ListOptions& options) {
  if (a.hidden && !options.include_hidden) return false;
  if (a.system && !options.include_system) return false;
  if (a.is_directory && !options.include_directories) return false;
  return true;
}

bool IsDotEntry(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringAsciiCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return i == a.size() && b[i] == '\0';
}

// Splits path into its components, leaving out empty ones and ".".
std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  size_t begin = 0;
  while (begin <= path.size()) {
    size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(begin, end - begin);
    if (!part.empty() && part != ".") parts.push_back(part);
    begin = end + 1;
  }
  return parts;
}

}  // namespace

bool ListDirectory(const std::string& dir, const ListOptions& options,
                   std::vector<DirEntry>* entries) {
  entries->clear();
  DirHandle handle(::opendir(dir.empty() ? "." : dir.c_str()));
  if (!handle) return Fail(errno);
  for (;;) {
    errno = 0;
    struct dirent* ent = ::readdir(handle.get());
    if (ent == nullptr) return errno == 0 || Fail(errno);
    if (IsDotEntry(ent->d_name)) continue;
    DirEntry entry;
    entry.name = ent->d_name;
    // An entry removed since it was listed is simply left out.
    if (!EntryAttributes(JoinPath(dir, entry.name), entry.name, &entry.attributes)) continue;
    if (PassesFilter(entry.attributes, options)) entries->push_back(std::move(entry));
  }
}

bool DirectoryExists(const std::string& path) {
  FileAttributes a;
  return StatPath(path, &a) && a.is_directory;
}

bool FileExists(const std::string& path) {
  FileAttributes a;
  return StatPath(path, &a) && !a.is_directory;
}

bool CreateDirectory(const std::string& path) {
  return ::mkdir(path.c_str(), 0777) == 0 || Fail(errno);
}

bool RemoveDirectory(const std::string& path) {
  return ::rmdir(path.c_str()) == 0 || Fail(errno);
}

std::string CurrentDirectory() {
  std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
  if (!cwd) {
    SetLastOsError(errno);
    return "";
  }
  return cwd.get();
}

bool SetCurrentDirectory(const std::string& path) {
  return ::chdir(path.c_str()) == 0 || Fail(errno);
}

std::string ExpandFileName(const std::string& path) {
  if (path.empty()) return "";
  std::string absolute = path[0] == '/' ? path : JoinPath(CurrentDirectory(), path);
  std::vector<std::string> resolved;
  for (std::string& part : Components(absolute)) {
    if (part != "..") {
      resolved.push_back(std::move(part));
    } else if (!resolved.empty()) {
      resolved.pop_back();  // ".." above the root stays at the root
    }
  }
  std::string result;
  for (const std::string& part : resolved) result += "/" + part;
  if (result.empty()) return "/";
  if (path.back() == '/') result += '/';
  return result;
}

std::string TempDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  return IncludeTrailingSlash(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
}

std::string FindExistingName(const std::string& path) {
  struct stat st;
  if (!path.empty() && ::lstat(path.c_str(), &st) == 0) return path;
  const std::string dir = ExtractFilePath(path);
  const std::string name = ExtractFileName(path);
  if (name.empty()) {
    SetLastOsError(ENOENT);
    return "";
  }
  DirHandle handle(::opendir(dir.empty() ? "." : dir.c_str()));
  if (!handle) {
    SetLastOsError(errno);
    return "";
  }
  while (struct dirent* ent = ::readdir(handle.get())) {
    if (!IsDotEntry(ent->d_name) && EqualIgnoringAsciiCase(name, ent->d_name)) {
      return dir + ent->d_name;
    }
  }
  SetLastOsError(ENOENT);
  return "";
}

std::string ExtractFilePath(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string IncludeTrailingSlash(const std::string& path) {
  return path.empty() || path.back() == '/' ? path : path + "/";
}

}  // namespace vevura::platform
