#include "app/lic_walk.h"

#include <algorithm>

#include "app/lic_image.h"
#include "app/run_errors.h"
#include "app/run_list.h"
#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/os_error.h"

namespace vevura::app {

namespace {

//! True when name's extension (from its last "." on) is ".LIC" in any case.
bool HasLicExtension(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.size() - dot != 4) return false;
  static constexpr char kUpper[] = "LIC";
  for (size_t i = 0; i < 3; ++i) {
    char c = name[dot + 1 + i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != kUpper[i]) return false;
  }
  return true;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  return platform::IncludeTrailingSlash(dir) + name;
}

//! The parent of dir by its name, not by the link it may have been reached
//! through.
std::string ParentDirectory(const std::string& dir) {
  return platform::ExpandFileName(platform::IncludeTrailingSlash(dir) + "..");
}

}  // namespace

TLicWalk::TLicWalk(TLicWalkEvents events, std::string decimal_separator)
    : events_(std::move(events)), reader_(std::move(decimal_separator)) {}

void TLicWalk::SearchForLICS(const std::string& root_field) {
  if (!platform::DirectoryExists(root_field)) {
    AddLine(kRootMissingLine);
    AddLine(root_field);
    return;
  }
  FindLICInFolder(platform::ExpandFileName(root_field));
  AddLine(RecordsAddedLine(added_count_));
}

void TLicWalk::FindLICInFolder(const std::string& folder_text) {
  // Stepping back into a folder named relatively would fail from inside it.
  const std::string folder = folder_text.empty() || folder_text[0] == '/'
                                 ? folder_text
                                 : platform::ExpandFileName(folder_text);
  platform::FileAttributes attributes;
  if (!platform::Fs().GetAttributes(folder, &attributes) || !attributes.is_directory) return;
  TDirectoryId id{attributes.device, attributes.inode};
  if (std::find(walk_path_.begin(), walk_path_.end(), id) != walk_path_.end()) return;
  walk_path_.push_back(id);
  struct TLeave {
    TLicWalk* walk;
    ~TLeave() { walk->LeaveFolder(); }
  } leave{this};
  ChangeDirectory(folder);
  AddLine(FolderLine(folder));
  WalkEntries(folder);
  ChangeDirectory(folder);
  ChangeDirectory(ParentDirectory(folder));
}

void TLicWalk::LeaveFolder() {
  walk_path_.pop_back();
  if (walk_path_.empty()) current_dir_.clear();
}

void TLicWalk::WalkEntries(const std::string& folder) {
  platform::ListOptions options;
  options.include_hidden = false;
  options.include_system = false;
  options.include_directories = true;
  std::vector<platform::DirEntry> entries;
  if (!platform::ListDirectory(".", options, &entries)) {
    throw EInOutError(platform::LastOsError(), folder);
  }
  for (const platform::DirEntry& entry : entries) {
    if (entry.name.empty() || entry.name[0] == '.') continue;
    if (entry.attributes.is_directory || !entry.attributes.exists) {
      ProcessMessages();
      FindLICInFolder(JoinPath(folder, entry.name));
    } else if (HasLicExtension(entry.name)) {
      ProcessLIC(entry.name);
    }
  }
}

void TLicWalk::ProcessLIC(const std::string& name) {
  std::string lic_path = JoinPath(WorkingDirectory(), name);
  TLicValues values;
  try {
    values = reader_.ReadFile(name);
  } catch (const EInOutError& error) {
    throw EInOutError(error.ErrorCode, lic_path);
  }
  if (!IsUsableLic(values)) return;
  std::string image_path =
      FindImageFile(platform::ExtractFilePath(lic_path), ImageNamePart(values.File));
  if (image_path.empty()) return;
  AddLine(LicLine(values.Well, values.Group, platform::ExtractFileName(lic_path)));
  AddToDatabase(values.Well, values.Group, lic_path, image_path, values.DepthType, values.DepthUnit,
                values.Top, values.Bottom);
}

void TLicWalk::AddToDatabase(const std::string& well, const std::string& group,
                             const std::string& lic_path, const std::string& image_path,
                             const std::string& depth_type, const std::string& depth_unit,
                             double top, double bottom) {
  TCatalogRecord record;
  record.API = well;
  record.LogMnems = group;
  record.Measure = depth_type;
  record.IndexUOM = depth_unit;
  record.TLI = top;
  record.BLI = bottom;
  record.TIFF_FileName = image_path;
  record.LIC_FileName = lic_path;
  if (events_.OnAddRecord) events_.OnAddRecord(record);
  ++added_count_;
}

void TLicWalk::ChangeDirectory(const std::string& dir) {
  if (!platform::SetCurrentDirectory(dir)) throw EInOutError(platform::LastOsError(), dir);
  current_dir_ = dir;
}

std::string TLicWalk::WorkingDirectory() const {
  return current_dir_.empty() ? platform::CurrentDirectory() : current_dir_;
}

void TLicWalk::AddLine(const std::string& line) {
  if (events_.OnAddLine) events_.OnAddLine(line);
}

void TLicWalk::ProcessMessages() {
  if (events_.OnProcessMessages) events_.OnProcessMessages();
}

}  // namespace vevura::app
