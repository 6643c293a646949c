#include "app/lic_reader.h"

#include <memory>
#include <utility>

#include "app/comma_list.h"
#include "app/run_errors.h"
#include "platform/file_system.h"
#include "platform/os_error.h"

namespace vevura::app {

namespace {

constexpr size_t kChunkSize = 64 * 1024;
constexpr char kCtrlZ = 26;
//! The keyword and the two items after it are all a line can give.
constexpr size_t kItemsUsed = 3;

//! True when item equals keyword (upper case) after upper-casing a to z only.
bool IsKeyword(const std::string& item, std::string_view keyword) {
  if (item.size() != keyword.size()) return false;
  for (size_t i = 0; i < item.size(); ++i) {
    char c = item[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != keyword[i]) return false;
  }
  return true;
}

//! Sets value to zero_text or one_text when code is exactly "0" or "1".
void ApplyCode(const std::string& code, const char* zero_text, const char* one_text,
               std::string* value) {
  if (code == "0") {
    *value = zero_text;
  } else if (code == "1") {
    *value = one_text;
  }
}

}  // namespace

TLicReader::TLicReader(std::string decimal_separator)
    : decimal_separator_(std::move(decimal_separator)) {}

TLicValues TLicReader::ReadFile(const std::string& path) {
  platform::OpenOptions options;
  options.access = platform::OpenAccess::ReadOnly;
  options.share = platform::ShareMode::Shared;
  options.sequential = false;  // small files, read once
  std::unique_ptr<platform::OsFile> file = platform::Fs().Open(path, options);
  if (!file) throw EInOutError(platform::LastOsError(), path);
  chunk_.resize(kChunkSize);
  BeginFile();
  int64_t pos = 0;
  while (true) {
    int64_t count = file->ReadAt(pos, chunk_.data(), static_cast<int64_t>(chunk_.size()));
    if (count < 0) throw EInOutError(platform::LastOsError(), path);
    if (count == 0) break;
    pos += count;
    if (!FeedText(std::string_view(chunk_.data(), static_cast<size_t>(count)))) break;
  }
  EndFile();
  return values_;
}

TLicValues TLicReader::ReadText(std::string_view text) {
  BeginFile();
  FeedText(text);
  EndFile();
  return values_;
}

size_t TLicReader::BufferBytes() const {
  size_t bytes =
      chunk_.capacity() + partial_line_.capacity() + items_.capacity() * sizeof(std::string);
  for (const std::string& item : items_) bytes += item.capacity();
  return bytes;
}

void TLicReader::BeginFile() {
  values_ = TLicValues();
  partial_line_.clear();
}

bool TLicReader::FeedText(std::string_view text) {
  size_t ctrl_z = text.find(kCtrlZ);
  bool ended = ctrl_z != std::string_view::npos;
  if (ended) text = text.substr(0, ctrl_z);
  while (!text.empty()) {
    size_t line_feed = text.find('\n');
    if (line_feed == std::string_view::npos) {
      partial_line_.append(text);
      break;
    }
    std::string_view line = text.substr(0, line_feed);
    text.remove_prefix(line_feed + 1);
    if (partial_line_.empty()) {
      ApplyLine(line);
    } else {
      partial_line_.append(line);
      ApplyLine(partial_line_);
      partial_line_.clear();
    }
  }
  return !ended;
}

void TLicReader::EndFile() {
  if (!partial_line_.empty()) ApplyLine(partial_line_);
  partial_line_.clear();
}

void TLicReader::ApplyLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  SplitCommaList(line, &items_, kItemsUsed);
  if (items_.size() >= 2) ApplyKeyword(items_);
}

void TLicReader::ApplyKeyword(const std::vector<std::string>& items) {
  const std::string& keyword = items[0];
  if (IsKeyword(keyword, "FILE")) {
    values_.File = items[1];
  } else if (IsKeyword(keyword, "GROUP")) {
    if (items.size() < 3) throw EListError(2);
    values_.Group = items[2];
  } else if (IsKeyword(keyword, "WELL")) {
    values_.Well = items[1];
  } else if (IsKeyword(keyword, "DEPTHTYPE")) {
    ApplyCode(items[1], "MD", "TVD", &values_.DepthType);
  } else if (IsKeyword(keyword, "DEPTHUNITS")) {
    ApplyCode(items[1], "F", "M", &values_.DepthUnit);
  } else if (IsKeyword(keyword, "DEPPIX")) {
    double depth = DepthValue(items[1], decimal_separator_);
    if (values_.Top == 0) values_.Top = depth;
    values_.Bottom = depth;
  }
}

}  // namespace vevura::app
