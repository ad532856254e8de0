#include "foundation/os_info.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "foundation/exceptions.h"

namespace vyn::os {
namespace {

os_info make(std::uint32_t major, std::uint32_t minor, std::uint32_t build, std::uint8_t type,
             std::uint16_t sp = 0, platform native = platform::x64, std::uint16_t suite = 0,
             bool r2 = false) {
  os_info info;
  info.version = {major, minor, build, sp, 0, suite, type};
  info.native = native;
  info.server_r2 = r2;
  return info;
}

TEST(OsDescription, VersionRecords_GiveTheirNames) {
  constexpr auto ws = product_workstation;
  constexpr auto srv = product_server;
  constexpr auto dc = product_domain_controller;
  const struct {
    os_info info;
    const char* expected;
  } cases[] = {
      {make(5, 0, 2195, ws, 4, platform::x86), "Windows 2000 SP4 x86"},
      {make(5, 1, 2600, ws, 3, platform::x86), "Windows XP SP3 x86"},
      {make(5, 2, 3790, ws, 2), "Windows XP SP2 x64"},
      {make(5, 2, 3790, srv, 0, platform::x86, suite_home_server), "Windows Home Server x86"},
      {make(5, 2, 3790, srv, 2, platform::x64, 0, true), "Windows Server 2003 R2 SP2 x64"},
      {make(5, 2, 3790, dc, 1, platform::ia64), "Windows Server 2003 SP1 ia64"},
      {make(6, 0, 6002, ws, 2, platform::x86), "Windows Vista SP2 x86"},
      {make(6, 0, 6002, srv, 2), "Windows Server 2008 SP2 x64"},
      {make(6, 1, 7601, ws, 1), "Windows 7 SP1 x64"},
      {make(6, 1, 7601, dc, 1), "Windows Server 2008 R2 SP1 x64"},
      {make(6, 2, 9200, ws), "Windows 8 x64"},
      {make(6, 2, 9200, srv), "Windows Server 2012 x64"},
      {make(6, 3, 9600, ws, 0, platform::arm), "Windows 8.1 arm"},
      {make(6, 3, 9600, srv), "Windows Server 2012 R2 x64"},
      {make(10, 0, 19045, ws), "Windows 10 (10.0.19045) x64"},
      {make(10, 0, 22631, ws, 0, platform::arm64), "Windows 10 (10.0.22631) arm64"},
      {make(10, 0, 14393, srv), "Windows Server 2016 (10.0.14393) x64"},
      {make(10, 0, 17762, dc), "Windows Server 2016 (10.0.17762) x64"},
      {make(10, 0, 17763, srv), "Windows Server 2019 (10.0.17763) x64"},
      {make(10, 0, 20348, srv), "Windows Server 2019 (10.0.20348) x64"},
      {make(6, 4, 9841, ws), "Windows 6.4.9841 x64"},
      {make(4, 0, 1381, ws, 6, platform::x86), "Windows 4.0.1381 SP6 x86"},
  };
  for (const auto& c : cases) EXPECT_EQ(describe(c.info), c.expected);
}

TEST(OsDescription, UnknownPlatformValue_FailsWithItsNumber) {
  os_info info = make(10, 0, 19045, product_workstation);
  info.native = static_cast<platform>(9);
  EXPECT_THAT([&] { (void)describe(info); },
              testing::ThrowsMessage<exceptions::error>(
                  testing::StrEq("Unable to translate platform name (9)!")));
}

TEST(NativePlatform, Facts_DecideThePlatform) {
  const struct {
    platform_facts facts;
    platform expected;
  } cases[] = {
      // 32-bit build on 64-bit ARM Windows: the native-machine query says arm64.
      {{true, machine_arm64, true, platform::x86}, platform::arm64},
      // 32-bit build on an older 64-bit Windows without the query: emulated, so x64.
      {{false, 0, true, platform::x86}, platform::x64},
      // 32-bit build on 32-bit Windows.
      {{false, 0, false, platform::x86}, platform::x86},
      {{true, machine_i386, false, platform::x86}, platform::x86},
      // 64-bit build: not emulated, and without the query it runs on its own platform.
      {{false, 0, false, platform::x64}, platform::x64},
      {{true, machine_amd64, false, platform::x64}, platform::x64},
      {{false, 0, false, platform::arm64}, platform::arm64},
      {{true, machine_ia64, false, platform::x86}, platform::ia64},
      {{true, machine_armnt, false, platform::arm}, platform::arm},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(native_platform(c.facts), c.expected)
        << "query " << c.facts.has_native_machine_query << " machine " << c.facts.native_machine
        << " wow64 " << c.facts.wow64;
  }
}

TEST(NativePlatform, UnknownNativeMachine_FailsWithTheMachineNumber) {
  EXPECT_THAT([] { (void)native_platform({true, 0x5032, false, platform::x86}); },
              testing::ThrowsMessage<exceptions::error>(testing::StrEq(
                  "Unable to convert image machine (20530) to platform enumeration!")));
}

}  // namespace
}  // namespace vyn::os
