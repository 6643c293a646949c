// The names of a table's three files.

#include <gtest/gtest.h>

#include "engine/storage/file/table_file_names.h"

namespace vevura {
namespace {

TEST(TableFileNamesTest, DataExtensionOfTheTableNameIsReplacedNotAppended) {
  EXPECT_EQ(DataFileName("/Data", "orders.dat"), "/Data/orders.DAT");
  EXPECT_EQ(IndexFileName("/Data", "orders.dat"), "/Data/orders.IDX");
  EXPECT_EQ(BlobFileName("/Data", "orders.dat"), "/Data/orders.BLB");
  EXPECT_EQ(IndexFileName("/Data/", "CUSTOMER.DAT"), IndexFileName("/Data", "CUSTOMER"));
  EXPECT_EQ(TableNameWithoutExtension(" Customer.Dat "), "Customer");
  // Only a trailing data extension counts, and only that one.
  EXPECT_EQ(DataFileName("/d", "orders.dat.old"), "/d/orders.dat.old.DAT");
  EXPECT_EQ(DataFileName("/d", "orders.IDX"), "/d/orders.IDX.DAT");
  EXPECT_EQ(DataFileName("/d", "dat"), "/d/dat.DAT");
}

TEST(TableFileNamesTest, DirectoryAndNameAreTrimmedAndJoinedByOneSlash) {
  EXPECT_EQ(DataFileName("  /var/db  ", "  LICCATALOG  "), "/var/db/LICCATALOG.DAT");
  EXPECT_EQ(DataFileName("/var/db/", "T"), "/var/db/T.DAT");
  EXPECT_EQ(DataFileName("", "T"), "T.DAT");  // the current directory, not the root
  EXPECT_EQ(DataFileName("/", "T"), "/T.DAT");
  EXPECT_TRUE(EndsWithExtension("x.dAt", kDataFileExtension));
  EXPECT_FALSE(EndsWithExtension("AT", kDataFileExtension));
}

}  // namespace
}  // namespace vevura
