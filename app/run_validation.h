#pragma once
// The checks a run makes of its two directory fields before anything else,
// shared by the window (which shows the message in an information box) and the
// batch driver (which prints it on standard error).
//
// Each field is trimmed of leading and trailing blanks and control characters
// (codes 0 to 32); the trimmed text must be non-empty and name an existing
// directory. The root is checked first, and the first failure is the one
// reported.

#include <string>

namespace vevura::app {

inline constexpr const char* kMissingRootMessage = "Missing \"Root\" Directory";
inline constexpr const char* kInvalidRootMessage = "Invalid \"Root\" Directory";
inline constexpr const char* kMissingCatalogMessage = "Missing \"Catalog\" Directory";
inline constexpr const char* kInvalidCatalogMessage = "Invalid \"Catalog\" Directory";

//! text without its leading and trailing characters of codes 0 to 32.
std::string TrimField(const std::string& text);

//! The directories of a run that passed the checks.
struct TRunDirectories {
  std::string RootDir;      //!< trimmed root field
  std::string CatalogDir;   //!< trimmed catalog field
  std::string CatalogPath;  //!< CatalogDir as a full path, fixed before the walk moves
};

//! Checks the two fields as typed. Returns "" and fills *dirs when both name
//! existing directories; otherwise the message of the first failure.
std::string ValidateRunDirectories(const std::string& root_field, const std::string& catalog_field,
                                   TRunDirectories* dirs);

}  // namespace vevura::app
