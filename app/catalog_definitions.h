#pragma once
// The catalog table as the catalog builder defines it on its table
// component: the ten field definitions and the two index definitions from
// which the component creates "LICCATALOG" (catalog_table.h gives the same
// table as the engine receives it).

#include "components/vevura_table.h"

namespace vevura::app {

//! Replaces table's FieldDefs and IndexDefs with the catalog's.
void DefineCatalogTable(TVEVURATable& table);

}  // namespace vevura::app
