#pragma once
// Whether a LIC file describes an image, and where that image is.
//
// A LIC file is usable when File, Well and Group are all non-empty and File
// holds no "{". Its image is looked for beside the LIC file under the
// file-name part of File only: whatever directory File names (LIC files often
// hold paths of other systems, "C:\LOGS\A.TIF") is ignored. The image is found
// under that exact name or, failing that, under a name of its directory that
// differs from it only in ASCII letter case, since the files were written on
// systems that ignore case.

#include <string>
#include <string_view>

#include "app/lic_reader.h"

namespace vevura::app {

//! True when the values name an image and identify a well and a log group.
bool IsUsableLic(const TLicValues& values);

//! The part of file after its last "\", ":" or "/" (all of it when none).
std::string_view ImageNamePart(std::string_view file);

//! The path of the existing regular file (or link to one) that is the image
//! name_part in directory lic_directory (a full path, with or without a final
//! "/"), spelled as on disk; "" when there is none.
std::string FindImageFile(const std::string& lic_directory, std::string_view name_part);

}  // namespace vevura::app
