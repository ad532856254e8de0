#include "app/sfx_migrate_cmd_params.h"

#include <gtest/gtest.h>

#include "app/command_line.h"

namespace vyn::sfx {
namespace {

struct conversion_case {
  const wchar_t* text;
  const wchar_t* expected;
};

TEST(SfxMigrateCmdParams, FirstConversion_RenamesOlderSwitches) {
  const conversion_case cases[] = {
      {L"/VERYSILENT", L"/silent"},
      {L"/verysilent /x", L"/silent /x"},
      {L"/VERYSILENT /SILENT", L"/VERYSILENT /SILENT"},
      {L"/LANG=L1031 /a /b:c", L" /lang-id:1031 /a /b:c"},
      {L"/x /lang=l1040", L"/x  /lang-id:1040"},
      {L"/LANG=\"L1031\" /a", L" /lang-id:1031 /a"},
      {L"/LANG=de /a", L"/LANG=de /a"},
      {L"/LANG= /a", L"/LANG= /a"},
      {L"/LANG=L1031 /lang-id:1040", L"/LANG=L1031 /lang-id:1040"},
      {L"/DIR=\"C:\\a b\" /x", L"/install-path:\"C:\\a b\" /x"},
      {L"/dir=C:\\x", L"/install-path:C:\\x"},
      {L"/DIR=C:\\x /install-path:C:\\y", L"/DIR=C:\\x /install-path:C:\\y"},
      {L"/VERYSILENT /LANG=L1031 /DIR=C:\\x", L"/silent  /lang-id:1031 /install-path:C:\\x"},
      {L"/silent /track-guid:x", L"/silent /track-guid:x"},
      {L"", L""},
  };
  sfx_migrate_cmd_params migration;
  for (const auto& c : cases) EXPECT_EQ(migration.first_conversion(c.text), c.expected) << c.text;
}

// The entry point hands over the command line rendered from its parse, which writes every
// switch with ":"; the older switches must migrate in that form too.
TEST(SfxMigrateCmdParams, FirstConversion_AcceptsRenderedSwitches) {
  const conversion_case cases[] = {
      {L"/LANG:L1031 /a", L" /lang-id:1031 /a"},
      {L"/DIR:\"C:\\a b\"", L"/install-path:\"C:\\a b\""},
      {L"/LANG:de", L"/LANG:de"},
      {L"/DIR:C:\\x /LANG:L1049", L"/install-path:C:\\x  /lang-id:1049"},
      {L"/LANG:L1031 /LANG=L1040", L" /lang-id:1031 /LANG=L1040"},  // only the first counts
  };
  sfx_migrate_cmd_params migration;
  for (const auto& c : cases) EXPECT_EQ(migration.first_conversion(c.text), c.expected) << c.text;
}

TEST(SfxMigrateCmdParams, SecondConversion_RenamesClientIdUnlessTrackGuidIsThere) {
  const conversion_case cases[] = {
      {L"/ga_clientid:abc", L"/track-guid:abc"},
      {L"/GA_CLIENTID=abc /x", L"/track-guid=abc /x"},
      {L"/ga_clientid:abc /track-guid:def", L"/ga_clientid:abc /track-guid:def"},
      {L"/other", L"/other"},
  };
  sfx_migrate_cmd_params migration;
  for (const auto& c : cases) EXPECT_EQ(migration.second_conversion(c.text), c.expected) << c.text;
}

TEST(SfxMigrateCmdParams, MigratedQuotedDirectory_ParsesToThePlainPath) {
  sfx_migrate_cmd_params migration;
  const command_line cmd(migration.first_conversion(L"/DIR=\"C:\\Program Files\\Vyn\" /LANG=L1031"), false);
  EXPECT_EQ(cmd.find(L"install-path"), L"C:\\Program Files\\Vyn");
  EXPECT_EQ(cmd.find(L"lang-id"), L"1031");
  EXPECT_FALSE(cmd.has(L"DIR"));
  EXPECT_FALSE(cmd.has(L"LANG"));
}

// From the process command line through the parse and rendering the entry point does, to the
// text the run migrates.
TEST(SfxMigrateCmdParams, ProcessCommandLine_MigratesAfterRendering) {
  const command_line process(L"C:\\dl\\stub.exe /LANG=L1031 /DIR=\"C:\\a b\" /VERYSILENT /ga_clientid=id", true);
  const std::wstring handed_over = process.render(false);
  EXPECT_EQ(handed_over, L"/LANG:L1031 /DIR:\"C:\\a b\" /VERYSILENT /ga_clientid:id");

  sfx_migrate_cmd_params migration;
  const command_line run(migration.second_conversion(migration.first_conversion(handed_over)), false);
  EXPECT_EQ(run.render(false), L"/lang-id:1031 /install-path:\"C:\\a b\" /silent /track-guid:id");
}

}  // namespace
}  // namespace vyn::sfx
