#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "platform/directory.h"
#include "platform/os_error.h"

namespace vevura::platform {

namespace {

//! One line of the file with the line break it ended with ("" for a last line
//! without one), so that lines we do not change are written back byte for byte.
struct Line {
  std::string text;
  std::string ending;
};

bool Fail(int err) {
  SetLastOsError(err);
  return false;
}

std::string Trim(const std::string& s) {
  size_t begin = s.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  size_t end = s.find_last_not_of(" \t");
  return s.substr(begin, end + 1 - begin);
}

bool EqualIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
    if (x != y) return false;
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* content) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  content->clear();
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = errno;
      ::close(fd);
      errno = err;
      return n == 0;
    }
    content->append(buf, static_cast<size_t>(n));
  }
}

std::vector<Line> SplitLines(const std::string& content) {
  std::vector<Line> lines;
  size_t begin = 0;
  while (begin < content.size()) {
    size_t lf = content.find('\n', begin);
    if (lf == std::string::npos) {
      lines.push_back(Line{content.substr(begin), ""});
      break;
    }
    bool crlf = lf > begin && content[lf - 1] == '\r';
    size_t end = crlf ? lf - 1 : lf;
    lines.push_back(Line{content.substr(begin, end - begin), crlf ? "\r\n" : "\n"});
    begin = lf + 1;
  }
  return lines;
}

// "[NAME]" (blanks allowed around it and the name) gives NAME.
bool SectionOf(const std::string& text, std::string* name) {
  std::string t = Trim(text);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
  *name = Trim(t.substr(1, t.size() - 2));
  return true;
}

// "KEY=value" gives KEY and value, both without surrounding blanks; comment
// lines (";") and lines without "=" are not keys.
bool KeyOf(const std::string& text, std::string* key, std::string* value) {
  std::string t = Trim(text);
  size_t eq = t.find('=');
  if (t.empty() || t[0] == ';' || eq == std::string::npos) return false;
  *key = Trim(t.substr(0, eq));
  *value = Trim(t.substr(eq + 1));
  return !key->empty();
}

size_t FindSection(const std::vector<Line>& lines, const std::string& section) {
  std::string name;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (SectionOf(lines[i].text, &name) && EqualIgnoringAsciiCase(name, section)) return i;
  }
  return lines.size();
}

size_t SectionEnd(const std::vector<Line>& lines, size_t header) {
  std::string name;
  size_t i = header + 1;
  while (i < lines.size() && !SectionOf(lines[i].text, &name)) ++i;
  return i;
}

size_t FindKey(const std::vector<Line>& lines, size_t header, const std::string& key,
               std::string* value) {
  std::string k;
  size_t end = SectionEnd(lines, header);
  for (size_t i = header + 1; i < end; ++i) {
    if (KeyOf(lines[i].text, &k, value) && EqualIgnoringAsciiCase(k, key)) return i;
  }
  return lines.size();
}

// New lines follow the file's own convention: CR LF when it already uses it.
std::string LineEnding(const std::vector<Line>& lines) {
  for (const Line& line : lines) {
    if (!line.ending.empty()) return line.ending;
  }
  return "\n";
}

void InsertLine(std::vector<Line>* lines, size_t at, const std::string& text,
                const std::string& ending) {
  if (at > 0 && (*lines)[at - 1].ending.empty()) (*lines)[at - 1].ending = ending;
  lines->insert(lines->begin() + static_cast<std::ptrdiff_t>(at), Line{text, ending});
}

// Puts KEY=value into the lines: rewrites the key's line, or adds it after
// the last non-blank line of the section, or adds the section at the end.
void SetValue(std::vector<Line>* lines, const std::string& section, const std::string& key,
              const std::string& value) {
  const std::string ending = LineEnding(*lines);
  const std::string text = key + "=" + value;
  size_t header = FindSection(*lines, section);
  if (header == lines->size()) {
    if (!lines->empty() && !Trim(lines->back().text).empty())
      InsertLine(lines, lines->size(), "", ending);
    InsertLine(lines, lines->size(), "[" + section + "]", ending);
    InsertLine(lines, lines->size(), text, ending);
    return;
  }
  std::string old;
  size_t at = FindKey(*lines, header, key, &old);
  if (at != lines->size()) {
    std::string spelled;  // the key keeps the spelling the file gave it
    KeyOf((*lines)[at].text, &spelled, &old);
    (*lines)[at].text = spelled + "=" + value;
    return;
  }
  size_t insert_at = header + 1;
  for (size_t i = header + 1; i < SectionEnd(*lines, header); ++i) {
    if (!Trim((*lines)[i].text).empty()) insert_at = i + 1;
  }
  InsertLine(lines, insert_at, text, ending);
}

// Names and values that would break the line structure are refused.
bool IsStorable(const std::string& section, const std::string& key, const std::string& value) {
  auto has_break = [](const std::string& s) {
    return s.find_first_of("\r\n") != std::string::npos;
  };
  if (section.empty() || key.empty() || has_break(section) || has_break(key) || has_break(value)) {
    return false;
  }
  return section.find(']') == std::string::npos && key.find('=') == std::string::npos &&
         key[0] != '[' && key[0] != ';';
}

// The file a write must replace: the target of a symbolic link, so that the
// link itself survives.
std::string WriteTarget(const std::string& file) {
  struct stat st;
  if (::lstat(file.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return file;
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(file.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : file;
}

std::string TempNameBeside(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  return ExtractFilePath(target) + "." + ExtractFileName(target) + "." +
         std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
}

bool WriteAllAndSync(int fd, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return ::fsync(fd) == 0;
}

void SyncDirectoryOf(const std::string& path) {
  std::string dir = ExtractFilePath(path);
  int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Writes content to a new file beside target and renames it over target, so
// that a crash leaves either the old file or the new one, never half of one.
bool ReplaceFile(const std::string& target, const std::string& content) {
  struct stat old;
  bool existed = ::stat(target.c_str(), &old) == 0;
  const std::string temp = TempNameBeside(target);
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return Fail(errno);
  bool ok = (!existed || ::fchmod(fd, old.st_mode & 07777) == 0) && WriteAllAndSync(fd, content);
  int err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) == 0) {
    SyncDirectoryOf(target);
    return true;
  }
  if (ok) err = errno;
  ::unlink(temp.c_str());
  return Fail(err);
}

std::string JoinLines(const std::vector<Line>& lines) {
  std::string content;
  for (const Line& line : lines) content += line.text + line.ending;
  return content;
}

}  // namespace

std::string ReadProfileString(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& default_value) {
  std::string content;
  if (!ReadWholeFile(file, &content)) {
    SetLastOsError(errno);
    return default_value;
  }
  std::vector<Line> lines = SplitLines(content);
  size_t header = FindSection(lines, Trim(section));
  if (header == lines.size()) return default_value;
  std::string value;
  if (FindKey(lines, header, Trim(key), &value) == lines.size()) return default_value;
  return value;
}

bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value) {
  const std::string s = Trim(section);
  const std::string k = Trim(key);
  if (!IsStorable(s, k, value)) return Fail(EINVAL);
  const std::string target = WriteTarget(file);
  std::string content;
  // A file that exists but cannot be read is never replaced: its other
  // settings would be lost.
  if (!ReadWholeFile(target, &content) && errno != ENOENT) return Fail(errno);
  std::vector<Line> lines = SplitLines(content);
  SetValue(&lines, s, k, value);
  return ReplaceFile(target, JoinLines(lines));
}

}  // namespace vevura::platform
