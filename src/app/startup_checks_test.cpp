#include "app/startup_checks.h"

#include <gtest/gtest.h>


namespace vyn::sfx {
namespace {

TEST(StartupChecks, OsVersion_SupportedFromWindows7Sp1On) {
  const struct {
    std::uint32_t major, minor;
    std::uint16_t service_pack;
    bool supported;
  } cases[] = {
      {5, 1, 3, false}, {5, 2, 2, false}, {6, 0, 2, false}, {6, 1, 0, false}, {6, 1, 1, true},
      {6, 1, 2, true},  {6, 2, 0, true},  {6, 3, 0, true},  {10, 0, 0, true}, {11, 0, 0, true},
      {7, 0, 0, true},  {4, 9, 9, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_supported_os(c.major, c.minor, c.service_pack), c.supported)
        << c.major << "." << c.minor << " SP" << c.service_pack;
  }
}

TEST(StartupChecks, IntegrityLevel_HighOrAbovePasses) {
  EXPECT_FALSE(has_sufficient_integrity(0));
  EXPECT_FALSE(has_sufficient_integrity(0x2000));
  EXPECT_FALSE(has_sufficient_integrity(0x2FFF));
  EXPECT_TRUE(has_sufficient_integrity(0x3000));
  EXPECT_TRUE(has_sufficient_integrity(0x4000));
}

constexpr const wchar_t* track = L"11111111-2222-3333-4444-555555555555";
constexpr const wchar_t* client = L"aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee";

std::wstring generated() { return L"generated"; }

TEST(StartupChecks, SessionId_TakesTrimmedWellFormedSwitches) {
  command_line cmd(L"/track-guid:\" 11111111-2222-3333-4444-555555555555\t\"", false);
  EXPECT_EQ(choose_session_id(cmd, generated), track);
  EXPECT_TRUE(cmd.has(L"track-guid"));

  cmd.parse(std::wstring(L"/track-guid:") + track + L" /ga_clientid:" + client, false);
  EXPECT_EQ(choose_session_id(cmd, generated), client);

  cmd.parse(std::wstring(L"/ga_clientid:") + client + L" /track-guid:" + track, false);
  EXPECT_EQ(choose_session_id(cmd, generated), client);
}

TEST(StartupChecks, SessionId_MalformedSwitchIsRemovedAndANewIdMade) {
  command_line cmd(L"/track-guid:11111111-2222-3333-4444-55555555555 /x", false);  // 35 characters
  EXPECT_EQ(choose_session_id(cmd, generated), L"generated");
  EXPECT_FALSE(cmd.has(L"track-guid"));
  EXPECT_TRUE(cmd.has(L"x"));

  cmd.parse(std::wstring(L"/track-guid:") + track + L" /ga_clientid:1111111122223333444455555555555555555", false);
  EXPECT_EQ(choose_session_id(cmd, generated), track);
  EXPECT_FALSE(cmd.has(L"ga_clientid"));

  cmd.parse(L"/track-guid", false);
  EXPECT_EQ(choose_session_id(cmd, generated), L"generated");
  EXPECT_FALSE(cmd.has(L"track-guid"));
}

TEST(StartupChecks, SessionIdText_NeedsDashesAtTheirPlaces) {
  EXPECT_TRUE(is_session_id_text(track));
  EXPECT_TRUE(is_session_id_text(L"  zzzzzzzz-zzzz-zzzz-zzzz-zzzzzzzzzzzz\t"));
  EXPECT_FALSE(is_session_id_text(L"111111112-222-3333-4444-555555555555"));
  EXPECT_FALSE(is_session_id_text(L"{1111111-2222-3333-4444-555555555555}"));
  EXPECT_FALSE(is_session_id_text(L""));
}

}  // namespace
}  // namespace vyn::sfx
