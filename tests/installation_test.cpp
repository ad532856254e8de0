// Complete installations under Wine: stubs built by the maker's tool carry the configuration, the
// product description and the setup files; the stand-in setup master records what it received.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/file_digest.h"
#include "foundation/files.h"
#include "foundation/sha256.h"
#include "foundation/strings.h"
#include "foundation/test_support.h"
#include "payload/signature_testing.h"
#include "stub_process.h"

namespace vyn {
namespace {

using testing_support::scoped_environment;
using testing_support::scratch_folder;
using testing_support::read_shared;
using testing_support::windows_path;

constexpr DWORD missing_sfx_file = 44051;
constexpr DWORD message_only_error = 0xFFFFFFFF;  // errors that carry only a message

std::wstring fixture(const wchar_t* name) {
  return windows_path(VYN_INSTALLATION_FIXTURES) + L"\\" + name;
}

std::optional<std::string> read_file(const std::wstring& path) { return read_shared(path); }

std::string sha256_of_file(const std::wstring& path) {
  if (!files::file_exists(path)) return "missing " + utils::to_narrow(path);
  root::sha256 hash;
  return root::digest_of_file(hash, path).hex();
}

std::vector<std::wstring> entries_of(const std::wstring& folder) {
  std::vector<std::wstring> names;
  if (!files::directory_exists(folder)) return names;
  files::enumerate_directory(folder, [&](const files::directory_entry& entry) {
    names.push_back(entry.name);
    return true;
  });
  return names;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// One run of a stub in a scratch folder: the temporary folder is made below "tmp" there, and the
// stand-in setup master records into "record".
class Installation : public ::testing::Test {
 protected:
  Installation() { ::CreateDirectoryW(tmp().c_str(), nullptr); }

  std::wstring tmp() const { return scratch_ / L"tmp"; }
  std::wstring record() const { return scratch_ / L"record"; }
  std::optional<std::string> recorded(const wchar_t* name) const { return read_file(record() + L"\\" + name); }

  // Starts the stub and returns its exit code; a stub that does not end within two minutes fails.
  DWORD run(const std::wstring& exe, const std::wstring& arguments, std::int64_t master_exit = 0) {
    const scoped_environment record_dir(L"VYN_TEST_RECORD_DIR", record());
    const scoped_environment exit_code(L"VYN_TEST_EXIT_CODE", std::to_wstring(master_exit));
    return testing_support::run_and_wait(exe, L"\"" + exe + L"\" /silent /tmp-path:\"" + tmp() + L"\" " + arguments,
                                         120000);
  }

  // The temporary folders a run left behind.
  std::vector<std::wstring> left_in_tmp() const { return entries_of(tmp()); }

  scratch_folder scratch_;
};

TEST_F(Installation, OfflineStub_PlacesEveryFileStartsTheMasterAndPassesItsExitCodeOn) {
  const std::string kestro = sha256_of_file(windows_path(VYN_TEST_KESTRO_EXE));
  const std::string bug_report = sha256_of_file(windows_path(VYN_TEST_BUG_REPORT_EXE));
  const std::string readme = sha256_of_file(windows_path(VYN_FIXTURES_SOURCE) + L"\\product\\readme.txt");
  for (const std::int64_t code : {0, 3, 44080}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(run(fixture(L"offline.exe"), L"", code), static_cast<DWORD>(code));

    const std::string files = recorded(L"files.txt").value_or("");
    EXPECT_TRUE(contains(files, kestro + "  common\\kestro.exe")) << files;
    EXPECT_TRUE(contains(files, bug_report + "  common\\bug_report.exe")) << files;
    EXPECT_TRUE(contains(files, readme + "  common\\readme.txt")) << files;
    EXPECT_TRUE(contains(files, "  common\\product-info.xml")) << files;

    const std::string arguments = recorded(L"arguments.txt").value_or("");
    EXPECT_TRUE(arguments.starts_with("/kestro-info-path:")) << arguments;
    EXPECT_TRUE(contains(arguments, "\n/install")) << arguments;
    EXPECT_FALSE(contains(arguments, "clear")) << arguments;
    EXPECT_FALSE(contains(arguments, "tmp-path")) << arguments;

    const std::string info = recorded(L"kestro-info.xml").value_or("");
    for (const char* part : {"<file-list>", "<file-mapping-sfx>", "<sfx-cmd>", "<session-id>", "<temp-base-dir>",
                             "<config-def>", "<repository>", "channel=\"release\"", "<title lang=\"de-de\">"}) {
      EXPECT_TRUE(contains(info, part)) << part << "\n" << info;
    }
    EXPECT_FALSE(contains(info, "average-download-speed")) << "an offline run downloads nothing";
    EXPECT_TRUE(left_in_tmp().empty()) << "the temporary folder is removed at the end";
    testing_support::remove_tree(record());
  }
}

TEST_F(Installation, ClearFromConfigurationOrCommandLine_AsksTheMasterToClear) {
  const struct {
    const wchar_t* stub;
    const wchar_t* arguments;
  } cases[] = {{L"clear.exe", L""}, {L"offline.exe", L"/clear"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(utils::to_narrow(c.stub));
    EXPECT_EQ(run(fixture(c.stub), c.arguments), 0u);
    const std::string arguments = recorded(L"arguments.txt").value_or("");
    EXPECT_TRUE(contains(arguments, "\n/clear")) << arguments;
    EXPECT_FALSE(contains(arguments, "/install")) << arguments;
    testing_support::remove_tree(record());
  }
}

TEST_F(Installation, InstallerStyleSwitchesAndXperf_ArriveMigratedAndKeepTheFolder) {
  EXPECT_EQ(run(fixture(L"offline.exe"), L"/VERYSILENT /LANG=L1031 /DIR=\"C:\\a b\" /xperf"), 0u);
  const std::string command = recorded(L"command-line.txt").value_or("");
  for (const char* part : {"/lang-id:1031", "/install-path:\"C:\\a b\"", "/xperf"}) {
    EXPECT_TRUE(contains(command, part)) << part << "\n" << command;
  }
  EXPECT_FALSE(contains(command, "tmp-path")) << command;
  EXPECT_FALSE(contains(command, "/LANG=")) << command;

  const auto kept = left_in_tmp();
  ASSERT_EQ(kept.size(), 1u) << "xperf keeps the temporary folder";
  EXPECT_TRUE(kept[0].starts_with(L"vyn-"));
  const std::string info = read_file(tmp() + L"\\" + kept[0] + L"\\kestro-info.xml").value_or("");
  EXPECT_TRUE(info.starts_with("<?xml version=\"1.0\"")) << info;
  EXPECT_TRUE(contains(info, "<session-id>")) << info;
  EXPECT_EQ(sha256_of_file(tmp() + L"\\" + kept[0] + L"\\common\\kestro.exe"),
            sha256_of_file(windows_path(VYN_TEST_KESTRO_EXE)));
}

// "noupdate" pins the product to its version: the description comes from the pinned channel, and
// the setup master sees the rewritten channel in its copy of the configuration.
TEST_F(Installation, NoUpdate_UsesThePinnedChannelAndHandsItOn) {
  EXPECT_EQ(run(fixture(L"pinned.exe"), L"/noupdate"), 0u);
  const std::string info = recorded(L"kestro-info.xml").value_or("");
  EXPECT_TRUE(contains(info, "<product name=\"demo\" channel=\"1/0/0/1/release\" version=\"1.0.0.1\"")) << info;
  EXPECT_TRUE(contains(recorded(L"files.txt").value_or(""), "  common\\kestro.exe"));
  // Without "noupdate" the same stub has no description for its channel.
  testing_support::remove_tree(record());
  EXPECT_EQ(run(fixture(L"pinned.exe"), L""), missing_sfx_file);
}

TEST_F(Installation, BrokenConfigurations_EndWithTheirExitCodesBeforeTheMasterRuns) {
  const struct {
    const wchar_t* stub;
    DWORD exit_code;
  } cases[] = {
      {L"no-sfx-info.exe", missing_sfx_file},
      {L"unsigned-sfx-info.exe", message_only_error},
      {L"no-products.exe", message_only_error},
      {L"missing-file.exe", message_only_error},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(utils::to_narrow(c.stub));
    EXPECT_EQ(run(fixture(c.stub), L""), c.exit_code);
    EXPECT_FALSE(recorded(L"command-line.txt").has_value()) << "the setup master must not start";
    EXPECT_TRUE(left_in_tmp().empty());
  }
}

// A record changed after the stub was built, and the stub signed again as a maker would: the
// signature holds, the record's checksum does not. The stub then tries the repository, even
// offline, whose name here does not resolve: the run ends as a failed download, and nothing of
// that file is left.
TEST_F(Installation, AlteredPayloadFile_FailsWithTheChecksumErrorAndLeavesNoFile) {
  auto image = read_file(fixture(L"stored.exe"));
  ASSERT_TRUE(image.has_value());
  const std::string marker = "Installed by the online installer stub";
  const std::size_t at = image->find(marker);
  ASSERT_NE(at, std::string::npos);
  (*image)[at] = 'i';
  std::vector<std::uint8_t> unsigned_image(image->begin(), image->end() - 72);  // signature + marker
  sfx::signature::sign_options options;
  options.version = 3;
  const std::wstring altered = scratch_ / L"altered.exe";
  ASSERT_NO_THROW(files::set_file_content(altered, sfx::testing::sign(unsigned_image, options), true));

  EXPECT_EQ(run(altered, L"/xperf"), 44002u);
  EXPECT_FALSE(recorded(L"command-line.txt").has_value());
  const auto kept = left_in_tmp();
  ASSERT_EQ(kept.size(), 1u);
  const std::wstring common = tmp() + L"\\" + kept[0] + L"\\common";
  EXPECT_FALSE(read_file(common + L"\\readme.txt").has_value());
  EXPECT_TRUE(read_file(common + L"\\kestro.exe").has_value());
}

// The crash reporter is waited for only after an abnormal end of the setup master.
TEST_F(Installation, CrashReporter_WaitedForOnlyAfterAnAbnormalEnd) {
  const scoped_environment start(L"VYN_TEST_START_BUG_REPORT", L"1");
  const scoped_environment delay(L"VYN_TEST_BUG_REPORT_DELAY_MS", L"1500");
  const struct {
    std::int64_t code;
    bool waited;
  } cases[] = {{0, false}, {-2, false}, {111111, false}, {44000, false}, {45999, false},
               {0xE06D7363, true}, {3, true}, {46000, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(run(fixture(L"offline.exe"), L"", c.code), static_cast<DWORD>(c.code));
    EXPECT_EQ(recorded(L"bug_report-done.txt").has_value(), c.waited);
    // Let a reporter that was not waited for end before the next run.
    for (int i = 0; i < 50 && !recorded(L"bug_report-done.txt"); ++i) ::Sleep(100);
    testing_support::remove_tree(record());
  }
}

}  // namespace
}  // namespace vyn
