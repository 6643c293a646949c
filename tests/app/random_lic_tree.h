#pragma once
// A random tree of LIC files for tests of the walk and the run: usable LIC
// files (their images named with Windows paths and in another letter case),
// LIC files without an image or without the values a record needs, files
// whose names are no LIC extension, and hidden entries; and the list and
// records a walk of it must give.

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/catalog_record.h"
#include "app/run_list.h"
#include "platform/directory.h"
#include "tests/app/temp_tree.h"

namespace vevura::app::test {

using Lines = std::vector<std::string>;

inline std::string UsableLic(const std::string& well, const std::string& file,
                             const std::string& extra = "") {
  return "WELL,\"" + well + "\"\r\nGROUP,1,GR\r\nFILE,\"" + file + "\"\r\n" + extra;
}

inline std::string UpperCaseAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// A random tree and the list a walk of it must give ----------------------

//! What the generator knows about a file it made: the list line and record
//! expected when the walk meets it, if any.
struct ExpectedLic {
  std::string line;
  TCatalogRecord record;
};

class RandomTree {
 public:
  //! A tree of directories up to three levels deep, each with up to
  //! max_files - 1 files and max_subdirectories - 1 subdirectories.
  RandomTree(const TempTree& tree, uint32_t seed, int max_files = 7, int max_subdirectories = 4)
      : tree_(tree), random_(seed), max_files_(max_files), max_subdirectories_(max_subdirectories) {
    MakeDirectory("", 0);
  }

  //! The list of a walk of the tree, made from the listing order the file
  //! system gives now.
  Lines ExpectedLines(std::vector<TCatalogRecord>* records) const {
    Lines lines;
    ExpectDirectory(tree_.Root(), &lines, records);
    lines.push_back(RecordsAddedLine(static_cast<int32_t>(records->size())));
    return lines;
  }

 private:
  void ExpectDirectory(const std::string& dir, Lines* lines,
                       std::vector<TCatalogRecord>* records) const {
    lines->push_back(FolderLine(dir));
    std::vector<platform::DirEntry> entries;
    EXPECT_TRUE(platform::ListDirectory(dir, platform::ListOptions(), &entries));
    for (const platform::DirEntry& entry : entries) {
      std::string path = dir + "/" + entry.name;
      if (entry.attributes.is_directory) {
        ExpectDirectory(path, lines, records);
      } else if (auto found = expected_.find(path); found != expected_.end()) {
        lines->push_back(found->second.line);
        records->push_back(found->second.record);
      }
    }
  }

  std::string Name(const char* stem, const char* extension) {
    return stem + std::to_string(++counter_) + extension;
  }

  void MakeDirectory(const std::string& relative, int depth) {
    std::string dir = tree_.Dir(relative);
    std::string prefix = relative.empty() ? "" : relative + "/";
    int files = static_cast<int>(random_() % static_cast<uint32_t>(max_files_));
    for (int i = 0; i < files; ++i) MakeFile(prefix, dir);
    if (depth < 3) {
      int subdirs = static_cast<int>(random_() % static_cast<uint32_t>(max_subdirectories_));
      for (int i = 0; i < subdirs; ++i) MakeDirectory(prefix + Name("d", ""), depth + 1);
    }
    if (random_() % 4 == 0) {
      std::string hidden = prefix + Name(".h", "");
      tree_.Dir(hidden);
      tree_.File(hidden + "/in.lic", UsableLic("HIDDEN", "in.tif"));
      tree_.File(hidden + "/in.tif", "");
    }
  }

  void MakeFile(const std::string& prefix, const std::string& dir) {
    static const char* const kExtensions[] = {".lic", ".LIC", ".Lic", ".lIc"};
    static const char* const kOthers[] = {".lic.bak", ".licx", "", ".li", "lic"};
    std::string well = "W" + std::to_string(++counter_);
    switch (random_() % 6) {
      case 0: {  // no image
        tree_.File(prefix + Name("m", ".lic"), UsableLic(well, "none.tif"));
        break;
      }
      case 1: {  // not a LIC by its name, or hidden
        std::string name = random_() % 2 ? Name("x", kOthers[random_() % 5]) : Name(".x", ".lic");
        tree_.File(prefix + name + ".tif", "");
        tree_.File(prefix + name, UsableLic(well, name + ".tif"));
        break;
      }
      case 2: {  // unusable
        tree_.File(prefix + Name("i", ".tif"), "");
        tree_.File(prefix + Name("u", ".lic"), "WELL," + well + "\nFILE,i.tif\n");
        break;
      }
      default: {  // usable, its image named with a Windows path and in another case
        std::string name = Name("g", kExtensions[random_() % 4]);
        std::string image = Name("Img", ".Tif");
        tree_.File(prefix + image, "");
        double top = static_cast<double>(random_() % 1000) + 0.5;
        tree_.File(prefix + name, UsableLic(well, "C:\\LOGS\\" + UpperCaseAscii(image),
                                            "DEPTHTYPE,1\nDEPTHUNITS,0\nDEPPIX,0\nDEPPIX," +
                                                std::to_string(top) + "\nDEPPIX,7\n"));
        ExpectedLic expected;
        expected.line = LicLine(well, "GR", name);
        expected.record =
            TCatalogRecord{well, "GR", "TVD", "F", top, 7, dir + "/" + image, dir + "/" + name};
        expected_[dir + "/" + name] = expected;
      }
    }
  }

  const TempTree& tree_;
  std::mt19937 random_;
  int max_files_;
  int max_subdirectories_;
  int counter_ = 0;
  std::map<std::string, ExpectedLic> expected_;  //!< by the LIC's full path
};

}  // namespace vevura::app::test
