#include "app/message_box.h"

#include <gtest/gtest.h>

#include "foundation/strings.h"

namespace vyn::sfx {
namespace {

constexpr std::int32_t german = 0x407;
constexpr std::int32_t english = 0x409;
const std::wstring log_path = L"C:\\ProgramData\\Orvek\\Logs\\sfx.log";

std::optional<error_box> box_for(const wchar_t* command, std::int32_t user_language, std::int32_t code,
                                 const std::wstring& text, const std::vector<std::wstring>& arguments = {}) {
  return compose_error_box(command_line(command, true), user_language, code, log_path, text, arguments);
}

TEST(ErrorBox, SilentRuns_ShowNothing) {
  for (const wchar_t* command : {L"stub.exe /silent", L"stub.exe /verysilent", L"stub.exe /SILENT:splash",
                                 L"stub.exe --verysilent /lang-id:1031"}) {
    EXPECT_FALSE(box_for(command, english, 44051, L"@Sfx_MissingSfx")) << utils::to_narrow(command);
  }
}

TEST(ErrorBox, Body_IsTheTextThenTheCodeAndTheLogPath) {
  const auto box = box_for(L"stub.exe", english, -1, L"@Sfx_MissingSfx");
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, L"Setup failed.");
  EXPECT_EQ(box->body,
            L"Cannot find setup files, installer is probably corrupted. Please try to download it again."
            L"\n\nError code:'-1'.\n\nMore information in log:\n'" + log_path + L"'.");
}

TEST(ErrorBox, Language_FromTheSwitchesElseTheUsersDefault) {
  const struct {
    const wchar_t* command;
    std::int32_t user_language;
    const wchar_t* caption;
  } cases[] = {
      {L"stub.exe", german, L"Installation fehlgeschlagen."},
      {L"stub.exe", 0x40C, L"Échec de l'installation."},
      {L"stub.exe /lang-id:1031", english, L"Installation fehlgeschlagen."},
      {L"stub.exe /language:1031", english, L"Installation fehlgeschlagen."},
      {L"stub.exe /lang-id:1033 /language:1031", german, L"Setup failed."},
      {L"stub.exe /lang-id:abc", german, L"Setup failed."},
      {L"stub.exe /lang-id:1234", german, L"Setup failed."},
      {L"stub.exe /lang-id:2057", german, L"Setup failed."},  // en-gb reads US English
  };
  for (const auto& c : cases) {
    const auto box = box_for(c.command, c.user_language, 45056, L"@Sfx_UnsupportedOS");
    ASSERT_TRUE(box) << utils::to_narrow(c.command);
    EXPECT_EQ(box->caption, c.caption) << utils::to_narrow(c.command);
  }
}

TEST(ErrorBox, DownloadFailure_NamesItsCodeInTheText) {
  const auto box = box_for(L"stub.exe /lang-id:1031", english, 12029, L"@Sfx_Download_Fail", {L"12029"});
  ASSERT_TRUE(box);
  EXPECT_EQ(box->body, L"Die Installationsdateien konnten nicht heruntergeladen werden. Bitte überprüfen Sie Ihre "
                       L"Internetverbindung oder versuchen Sie es später erneut (12029)."
                       L"\n\nFehlercode:'12029'.\n\nWeitere Informationen im Protokoll:\n'" + log_path + L"'.");
}

TEST(ErrorBox, PlainMessage_IsShownAsItIs) {
  const auto box = box_for(L"stub.exe", german, 44024, L"SFX is not DSA signed!");
  ASSERT_TRUE(box);
  EXPECT_TRUE(box->body.starts_with(L"SFX is not DSA signed!\n\nFehlercode:'44024'.")) << utils::to_narrow(box->body);
}

}  // namespace
}  // namespace vyn::sfx
