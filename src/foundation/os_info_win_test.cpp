#include <gtest/gtest.h>

#include "foundation/os_info.h"

namespace vyn::os {
namespace {

TEST(OsInfoQuery, RunningSystem_IsDescribedFromTheNativeQuery) {
  const os_info info = query();
  EXPECT_GE(info.version.major, 6u);
  EXPECT_GT(info.version.build, 0u);
  if (info.version.major >= 6) {
    EXPECT_NE(info.product_info, 0u);
  }
  // This build is a 64-bit process: its system is 64-bit whatever the query offers.
  EXPECT_EQ(info.native, sizeof(void*) == 8 ? platform::x64 : info.native);
  EXPECT_FALSE(describe(info).empty());
  EXPECT_EQ(current().version.build, info.version.build);
}

TEST(OsInfoQuery, Overrides_ReplaceTheRecordAndNest) {
  const os_info real = current();
  os_info arm = real;
  arm.native = platform::arm64;
  {
    const scoped_override outer(arm);
    EXPECT_EQ(current().native, platform::arm64);
    os_info xp = arm;
    xp.version.major = 5, xp.version.minor = 1;
    {
      const scoped_override inner(xp);
      EXPECT_EQ(current().version.major, 5u);
      EXPECT_EQ(current().native, platform::arm64);
    }
    EXPECT_EQ(current().version.major, real.version.major);
    EXPECT_EQ(current().native, platform::arm64);
  }
  EXPECT_EQ(current().native, real.native);
}

}  // namespace
}  // namespace vyn::os
