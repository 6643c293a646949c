#include "engine/base/os_error_code.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "engine/base/error_codes.h"

namespace vevura {
namespace {

TEST(OsErrorCode, ErrnoValuesMapOntoEngineCodes) {
  EXPECT_EQ(EngineCodeOfOsError(ENOENT), VEVURA_OSENOENT);
  EXPECT_EQ(EngineCodeOfOsError(ENOTDIR), VEVURA_OSENOENT);
  EXPECT_EQ(EngineCodeOfOsError(EMFILE), VEVURA_OSEMFILE);
  EXPECT_EQ(EngineCodeOfOsError(ENFILE), VEVURA_OSEMFILE);
  for (int err : {EACCES, EPERM, EROFS, EAGAIN})
    EXPECT_EQ(EngineCodeOfOsError(err), VEVURA_OSEACCES);
  EXPECT_EQ(EngineCodeOfOsError(EBADF), VEVURA_OSEBADF);
  EXPECT_EQ(EngineCodeOfOsError(ENOMEM), VEVURA_OSENOMEM);
  EXPECT_EQ(EngineCodeOfOsError(ENODEV), VEVURA_OSENODEV);
  EXPECT_EQ(EngineCodeOfOsError(ENXIO), VEVURA_OSENODEV);
  EXPECT_EQ(EngineCodeOfOsError(EXDEV), VEVURA_OSENOTSAM);
  EXPECT_EQ(EngineCodeOfOsError(EIO), VEVURA_OSUNKNOWN);
  EXPECT_EQ(EngineCodeOfOsError(0), VEVURA_OSUNKNOWN);
}

}  // namespace
}  // namespace vevura
