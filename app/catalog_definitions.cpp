#include "app/catalog_definitions.h"

namespace vevura::app {

void DefineCatalogTable(TVEVURATable& table) {
  TFieldDefs& fields = table.FieldDefs();
  fields.Clear();
  fields.Add("RECID", ftAutoInc, 0, true);
  fields.Add("API", ftString, 18);
  fields.Add("TLI", ftFloat);
  fields.Add("BLI", ftFloat);
  fields.Add("Measure", ftString, 10);
  fields.Add("IndexUOM", ftString, 10);
  fields.Add("LogMnems", ftString, 50);
  fields.Add("TIFF_Filename", ftString, 250);
  fields.Add("LIC_Filename", ftString, 250);
  fields.Add("Path", ftString, 250);
  TIndexDefs& indexes = table.IndexDefs();
  indexes.Clear();
  indexes.Add("", "RECID", {ixPrimary, ixUnique});
  indexes.Add("API", "API", {ixCaseInsensitive});
}

}  // namespace vevura::app
