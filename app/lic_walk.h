#pragma once
// The walk of a catalog run: every LIC file in the tree under the root, read,
// checked, listed and handed over as one catalog record.
//
// The walk uses the process's current directory as its working position: it
// makes each directory current while it enumerates it, reads LIC files by
// their bare names, and steps back to the parent afterwards, so that after the
// walk the current directory is the root's parent. The root is taken as a
// full path (the current directory joined with the root's text), so relative
// and absolute roots walk alike and list lines show full paths.
//
// The walk is depth-first in the order the file system lists entries: a
// subdirectory is walked completely where the enumeration meets it. Names
// beginning with "." and entries that are neither regular files nor
// directories are never visited. Symbolic links are followed, except into a
// directory already on the path from the root to where the walk stands, so a
// link loop ends.
//
// The walk reaches its owner (the window, or the batch driver) only through
// TLicWalkEvents: it adds list lines, hands over records to be appended and
// posted, and lets pending events be processed once per subdirectory before
// descending into it. Errors are not caught: an unreadable directory or LIC
// file (EInOutError), a GROUP line without its item (EListError) or a refused
// record (whatever OnAddRecord throws) ends the walk where it stands.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/catalog_record.h"
#include "app/depth_number.h"
#include "app/lic_reader.h"

namespace vevura::app {

//! The seams between the walk and its owner; any of them may be empty.
struct TLicWalkEvents {
  //! Adds one line to the run's list.
  std::function<void(const std::string& line)> OnAddLine;
  //! Appends and posts one record to the catalog table; throws when refused.
  std::function<void(const TCatalogRecord& record)> OnAddRecord;
  //! Processes the owner's pending events.
  std::function<void()> OnProcessMessages;
};

class TLicWalk {
 public:
  //! A walk reporting through events, reading depths with decimal_separator.
  explicit TLicWalk(TLicWalkEvents events,
                    std::string decimal_separator = LocaleDecimalSeparator());
  TLicWalk(const TLicWalk&) = delete;
  TLicWalk& operator=(const TLicWalk&) = delete;

  //! Walks the tree named by root_field (the root's text as typed, untrimmed)
  //! and ends the list with the count line; when root_field is no existing
  //! directory, lists "Root Directory Does NOT Exist" and the text instead.
  void SearchForLICS(const std::string& root_field);
  //! Walks folder and everything below it; returns at once when folder is no
  //! existing directory or is already on the walk's path. A relative folder
  //! is taken from the current directory and listed as a full path.
  void FindLICInFolder(const std::string& folder);
  //! Reads the LIC file name (relative to the current directory) and, when it
  //! is usable and its image exists, lists it and adds its record.
  void ProcessLIC(const std::string& name);
  //! Hands the record made of these values to OnAddRecord; once that returns,
  //! raises AddedCount by one.
  void AddToDatabase(const std::string& well, const std::string& group, const std::string& lic_path,
                     const std::string& image_path, const std::string& depth_type,
                     const std::string& depth_unit, double top, double bottom);

  //! Number of records added since AddedCount was last set.
  int32_t AddedCount() const { return added_count_; }
  //! A run sets it to 0 before it walks.
  void SetAddedCount(int32_t count) { added_count_ = count; }

 private:
  using TDirectoryId = std::pair<uint64_t, uint64_t>;  //!< device and inode

  //! Makes dir the current directory; throws EInOutError when that fails.
  void ChangeDirectory(const std::string& dir);
  //! Takes the directory the walk stands in off its path, on every way out.
  void LeaveFolder();
  //! Enumerates the current directory, folder, and visits its entries.
  void WalkEntries(const std::string& folder);
  //! The current directory as the walk names it.
  std::string WorkingDirectory() const;
  void AddLine(const std::string& line);
  void ProcessMessages();

  TLicWalkEvents events_;                //!< the owner's seams
  TLicReader reader_;                    //!< reads every LIC file of the walk
  int32_t added_count_ = 0;              //!< records added
  std::string current_dir_;              //!< current directory while a walk is under way
  std::vector<TDirectoryId> walk_path_;  //!< directories from the root to where the walk stands
};

}  // namespace vevura::app
