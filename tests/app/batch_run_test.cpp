// Batch mode over a generated tree of a few thousand LIC files: the list on
// standard output, the catalog table read back record by record, the list
// file, the structural check, and a second run that appends.

#include "app/batch_run.h"

#include <sstream>

#include <gtest/gtest.h>

#include "app/catalog_table.h"
#include "app/list_file.h"
#include "components/session_list.h"
#include "components/vevura_session.h"
#include "components/vevura_table.h"
#include "engine/core/data_directory.h"
#include "engine/core/table_verify.h"
#include "tests/app/random_lic_tree.h"

namespace vevura::app {
namespace {

using test::Lines;

Lines SplitLines(const std::string& text) {
  Lines lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

//! The catalog's records in RECID order, with their RECIDs.
std::vector<TCatalogRecord> ReadCatalog(const std::string& dir, std::vector<int32_t>* ids) {
  std::vector<TCatalogRecord> records;
  TVEVURATable table;
  table.SetTableName(dir + "/" + kCatalogTableName);
  table.SetReadOnly(true);
  table.Open();
  for (table.First(); !table.Eof(); table.Next()) {
    ids->push_back(table.FieldByName("RECID")->AsInteger());
    EXPECT_TRUE(table.FieldByName("Path")->IsNull());
    records.push_back(TCatalogRecord{
        table.FieldByName("API")->AsString(), table.FieldByName("LogMnems")->AsString(),
        table.FieldByName("Measure")->AsString(), table.FieldByName("IndexUOM")->AsString(),
        table.FieldByName("TLI")->AsFloat(), table.FieldByName("BLI")->AsFloat(),
        table.FieldByName("TIFF_Filename")->AsString(),
        table.FieldByName("LIC_Filename")->AsString()});
  }
  return records;
}

TEST(BatchRun, ATreeOfThousandsOfLicFilesBecomesTheCatalogItsListDescribes) {
  test::CurrentDirectoryGuard cwd_guard;
  test::TempTree tree;
  const std::string root = tree.Dir("root");
  const std::string catalog = tree.Dir("catalog");
  test::TempTree source;
  test::RandomTree random_tree(source, 99, 60, 8);
  std::vector<TCatalogRecord> expected_records;
  Lines expected = random_tree.ExpectedLines(&expected_records);
  ASSERT_GT(expected_records.size(), 1000u);
  expected.insert(expected.begin(), {RootDirLine(source.Root()), CatalogDirLine(catalog)});

  std::ostringstream out, err;
  ASSERT_EQ(RunBatch(source.Root(), catalog, false, out, err, false), 0) << err.str();
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(SplitLines(out.str()), expected);
  EXPECT_EQ(test::ReadWholeFile(catalog + "/" + kListFileName), ListFileText(expected));

  std::vector<int32_t> ids;
  const std::vector<TCatalogRecord> records = ReadCatalog(catalog, &ids);
  ASSERT_EQ(records.size(), expected_records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(expected_records[i].LIC_FileName);
    EXPECT_EQ(ids[i], static_cast<int32_t>(i + 1));
    EXPECT_EQ(records[i].API, expected_records[i].API);
    EXPECT_EQ(records[i].LogMnems, expected_records[i].LogMnems);
    EXPECT_EQ(records[i].Measure, expected_records[i].Measure);
    EXPECT_EQ(records[i].IndexUOM, expected_records[i].IndexUOM);
    EXPECT_EQ(records[i].TLI, expected_records[i].TLI);
    EXPECT_EQ(records[i].BLI, expected_records[i].BLI);
    EXPECT_EQ(records[i].TIFF_FileName, expected_records[i].TIFF_FileName);
    EXPECT_EQ(records[i].LIC_FileName, expected_records[i].LIC_FileName);
  }
  {
    TDataSession session(false);
    TDataDirectory directory(session, "", catalog + "/");
    const TTableVerifyReport report = VerifyTable(directory, kCatalogTableName);
    EXPECT_TRUE(report.Clean()) << report.Describe();
    EXPECT_EQ(report.LiveRecords, static_cast<int64_t>(records.size()));
  }

  // Keeping the old entries appends, and RECID goes on counting.
  std::ostringstream again, again_err;
  ASSERT_EQ(RunBatch(source.Root(), catalog, true, again, again_err, false), 0);
  ids.clear();
  EXPECT_EQ(ReadCatalog(catalog, &ids).size(), 2 * expected_records.size());
  EXPECT_EQ(ids.back(), static_cast<int32_t>(2 * expected_records.size()));
  Sessions().CloseAll();
}

TEST(BatchRun, ChecksAndErrorsEndTheRunWithTheirMessage) {
  test::CurrentDirectoryGuard cwd_guard;
  test::TempTree tree;
  const std::string catalog = tree.Dir("catalog");
  std::ostringstream out, err;
  EXPECT_EQ(RunBatch("  ", catalog, false, out, err, false), 1);
  EXPECT_EQ(err.str(), "Missing \"Root\" Directory\n");
  EXPECT_EQ(out.str(), "");

  // A GROUP line without its item ends the walk: the records so far stay,
  // and no list file is written.
  tree.Dir("root/a");
  tree.File("root/a/1.lic", test::UsableLic("GOOD", "1.tif"));
  tree.File("root/a/1.tif", "");
  tree.Dir("root/b");
  tree.File("root/b/2.lic", "WELL,X\r\nGROUP,1\r\nFILE,2.tif\r\n");
  tree.File("root/b/2.tif", "");
  std::ostringstream list, error;
  EXPECT_EQ(RunBatch(tree.Path("root"), catalog, false, list, error, false), 1);
  EXPECT_NE(error.str(), "");
  EXPECT_EQ(test::ReadWholeFile(catalog + "/" + kListFileName), "<missing>");

  // An old catalog another session has open is neither deleted nor changed.
  tree.File("root/b/2.lic", test::UsableLic("SECOND", "2.tif"));
  std::ostringstream fixed_out, fixed_err;
  ASSERT_EQ(RunBatch(tree.Path("root"), catalog, false, fixed_out, fixed_err, false), 0);
  TVEVURASession other;
  other.SetSessionName("Other");
  TVEVURATable holder;
  holder.SetSessionName("Other");
  holder.SetTableName(catalog + "/" + kCatalogTableName);
  holder.Open();
  std::ostringstream held_out, held_err;
  EXPECT_EQ(RunBatch(tree.Path("root"), catalog, false, held_out, held_err, false), 1);
  EXPECT_NE(held_err.str().find("VEVURA Engine Error"), std::string::npos) << held_err.str();
  EXPECT_EQ(holder.RecordCount(), 2);
  holder.Close();
  Sessions().CloseAll();
}

}  // namespace
}  // namespace vevura::app
