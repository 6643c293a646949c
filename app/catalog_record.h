#pragma once
// One record of the catalog table as the run hands it over: the eight values
// it sets, under the field names it uses for them. The table finds fields
// without regard to letter case ("TIFF_FileName" reaches "TIFF_Filename") and
// cuts strings to their field sizes; "RECID" is assigned by the engine and
// "Path" is never set.

#include <string>

namespace vevura::app {

//! Field names as the run spells them when it sets the record's values.
namespace catalog_field {
inline constexpr const char* kApi = "API";
inline constexpr const char* kLogMnems = "LogMnems";
inline constexpr const char* kMeasure = "Measure";
inline constexpr const char* kIndexUom = "IndexUOM";
inline constexpr const char* kTli = "TLI";
inline constexpr const char* kBli = "BLI";
inline constexpr const char* kTiffFileName = "TIFF_FileName";
inline constexpr const char* kLicFileName = "LIC_FileName";
}  // namespace catalog_field

struct TCatalogRecord {
  std::string API;            //!< the LIC's Well
  std::string LogMnems;       //!< the LIC's Group
  std::string Measure;        //!< DepthType: "MD", "TVD" or empty (stored as null)
  std::string IndexUOM;       //!< DepthUnit: "F", "M" or empty (stored as null)
  double TLI = 0;             //!< top depth
  double BLI = 0;             //!< bottom depth
  std::string TIFF_FileName;  //!< full path of the image file, spelled as on disk
  std::string LIC_FileName;   //!< full path of the LIC file
};

}  // namespace vevura::app
