// The catalog table defined on a table component: what the component hands
// the engine, and the table it makes working as the run uses it.

#include <gtest/gtest.h>

#include "app/catalog_definitions.h"
#include "app/catalog_table.h"
#include "components/session_list.h"
#include "engine/core/table_verify.h"
#include "tests/platform/platform_test_support.h"

namespace vevura::app {
namespace {

TEST(CatalogDefinitions, TheComponentCreatesTheCatalogAndTheRunCanFillIt) {
  platform::testing::ScratchDir dir;
  {
    TVEVURATable table;
    table.SetName("CatTable");
    table.SetTableName(dir.path() + kCatalogTableName);
    EXPECT_EQ(table.DatabaseName(), dir.path());
    EXPECT_EQ(table.TableName(), kCatalogTableName);
    DefineCatalogTable(table);
    EXPECT_FALSE(table.Exists());
    table.CreateTable();
    EXPECT_TRUE(table.Exists());

    table.SetIndexName("API");
    table.Open();
    TDataCursor& cursor = *table.Handle();
    const auto expected = CatalogFields();
    ASSERT_EQ(cursor.Fields().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      const TFieldDescriptor& d = cursor.Fields()[i];
      SCOPED_TRACE(d.Name);
      EXPECT_EQ(d.FieldNumber, i + 1);
      EXPECT_EQ(d.Name, expected[i].Name);
      EXPECT_EQ(d.Type, expected[i].Type);
      EXPECT_EQ(d.Subtype, expected[i].Subtype);
      EXPECT_EQ(d.Size, expected[i].Size);
      EXPECT_EQ(d.Required, expected[i].Required);
    }
    const TTableDefinition wanted = CatalogTableDefinition();
    EXPECT_TRUE(cursor.HasPrimaryIndex());
    EXPECT_EQ(cursor.SecondaryIndexCount(), 1);
    for (uint8_t n : {uint8_t{0}, uint8_t{1}, uint8_t{kTextIndex}}) {
      const TIndexDescriptor d = cursor.IndexDescriptor(n);
      SCOPED_TRACE(static_cast<int>(n));
      EXPECT_EQ(d.Name, wanted.Indexes[n].Name);
      EXPECT_EQ(d.Unique, n == 0 ? 1 : 0);
      EXPECT_EQ(d.CaseInsensitive, n == 1 ? 1 : 0);
      EXPECT_EQ(d.Compression, wanted.Indexes[n].Compression);
      EXPECT_EQ(d.FieldNumbers[0], wanted.Indexes[n].FieldNumbers[0]);
    }
    EXPECT_EQ(cursor.ActiveIndexName(), "API");

    // The run's spellings of the file-name fields reach fields 8 and 9.
    const char* apis[] = {"b-well", "A-WELL-0123456789-LONGER", "c-well"};
    for (const char* api : apis) {
      table.Append();
      table.FieldByName("API")->SetAsString(api);
      table.FieldByName("TLI")->SetAsFloat(100.5);
      table.FieldByName("BLI")->SetAsFloat(2000);
      table.FieldByName("TIFF_FileName")->SetAsString(std::string("/logs/") + api + ".tif");
      table.FieldByName("LIC_FileName")->SetAsString(std::string("/logs/") + api + ".lic");
      table.Post();
    }
    EXPECT_EQ(table.RecordCount(), 3);
    EXPECT_TRUE(VerifyTable(cursor.Directory(), kCatalogTableName).Clean());
    table.Close();

    table.Open();
    std::vector<std::string> order;
    for (table.First(); !table.Eof(); table.Next()) {
      order.push_back(table.FieldByName("API")->AsString());
      EXPECT_TRUE(table.FieldByName("Path")->IsNull());
      const std::string tiff = table.FieldByName("TIFF_Filename")->AsString();
      EXPECT_EQ(table.FieldByName("LIC_Filename")->AsString(),
                tiff.substr(0, tiff.size() - 4) + ".lic");
    }
    // Cut to 18 characters, in the case-insensitive order of the API index.
    EXPECT_EQ(order, (std::vector<std::string>{"A-WELL-0123456789-", "b-well", "c-well"}));
    EXPECT_TRUE(table.Locate("RECID", {int64_t{3}}, {}));
    EXPECT_EQ(table.FieldByName("API")->AsString(), "c-well");
    table.Close();
  }
  Sessions().CloseAll();
}

}  // namespace
}  // namespace vevura::app
