// A stub started by a launching stub that hands over data files and a cookie: the stand-in
// launcher, signed by the maker's tool, starts the stub with "edat_dir"; the stand-in setup
// master records what reached the temporary folder and the setup information.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "foundation/file_digest.h"
#include "foundation/files.h"
#include "foundation/sha256.h"
#include "foundation/strings.h"
#include "foundation/test_support.h"
#include "stub_log.h"
#include "stub_process.h"

namespace vyn {
namespace {

using testing_support::scoped_environment;
using testing_support::scratch_folder;
using testing_support::windows_path;

std::wstring fixture(const wchar_t* name) { return windows_path(VYN_INSTALLATION_FIXTURES) + L"\\" + name; }

std::string digest_of(std::string_view text) {
  root::sha256 hash;
  return root::digest_of(hash, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())).hex();
}

std::string digest_of_file(const std::wstring& path) {
  root::sha256 hash;
  return root::digest_of_file(hash, path).hex();
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The run's lines of the brand's log, one text.
std::string run_log(const std::string& marker) {
  std::string text;
  for (const std::string& line : testing_support::run_log(marker)) text += line + "\n";
  return text.empty() ? "(no run with " + marker + " in the log)" : text;
}

// Each run: the launcher (or nothing) starts the EDAT stub with a temporary folder below "tmp",
// kept afterwards ("xperf"), and the master records into "record".
class LaunchingStub : public ::testing::Test {
 protected:
  LaunchingStub() {
    ::CreateDirectoryW(tmp().c_str(), nullptr);
    ::CreateDirectoryW(edat_dir().c_str(), nullptr);
    for (const auto& [name, content] : launcher_files) {
      files::set_file_content(edat_dir() + L"\\" + name, bytes_of(content), true);
    }
  }

  static std::vector<std::uint8_t> bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

  std::wstring tmp() const { return scratch_ / L"tmp"; }
  std::wstring edat_dir() const { return scratch_ / L"launcher files"; }
  std::wstring record(const wchar_t* name) const { return scratch_ / (std::wstring(L"record\\") + name); }
  std::string recorded(const wchar_t* name) const { return testing_support::read_shared(record(name)).value_or(""); }

  // Starts the EDAT stub through the launcher; returns the exit code. The marker finds the run's
  // log lines afterwards.
  DWORD run(const wchar_t* launcher, const std::wstring& arguments) {
    const scoped_environment record_dir(L"VYN_TEST_RECORD_DIR", scratch_ / L"record");
    const scoped_environment hold(L"VYN_TEST_LAUNCHER_HOLD", edat_dir() + L"\\locked.edat");
    const std::wstring exe = fixture(launcher);
    const std::wstring stub = fixture(L"edat.exe");
    return testing_support::run_and_wait(exe, L"\"" + exe + L"\" \"" + stub + L"\" /silent /xperf /tmp-path:\"" +
                                                  tmp() + L"\" " + arguments + L" /" + utils::to_wide(marker_),
                                         120000);
  }

  // The run's temporary folder, kept by "xperf".
  std::wstring kept_folder() const {
    std::wstring found;
    files::enumerate_directory(tmp(), [&](const files::directory_entry& entry) {
      found = tmp() + L"\\" + entry.name;
      return false;
    });
    return found;
  }

  // What the setup master saw in its parent folder (the temporary folder): "<sha256>  name".
  std::string seen(const std::string& name, std::string_view content) const {
    return digest_of(content) + "  " + name + "\n";
  }

  static inline const std::vector<std::pair<std::wstring, std::string>> launcher_files = {
      {L"ecoo.edat", "cookie-of-the-launcher"},
      {L"trid.edat", "launcher trid"},
      {L"new.edat", "launcher new"},
      {L"locked.edat", "held open by the launcher"},
      {L"notes.txt", "no data file"},
  };

  scratch_folder scratch_;
  std::string marker_ = "edat-run-" + std::to_string(::GetTickCount64()) + "-" + std::to_string(::GetCurrentProcessId());
};

TEST_F(LaunchingStub, SignedWithTheLaunchingStubKeys_ItsCookieAndDataFilesReachTheSetupMaster) {
  ASSERT_EQ(run(L"launcher-set8.exe", L"/edat_dir:\"" + edat_dir() + L"\\\""), 0u);
  const std::string log = run_log(marker_);
  EXPECT_TRUE(contains(log, "DSA for microstub verified with result 'true'")) << log;
  EXPECT_FALSE(contains(log, "Microstub not verified")) << log;

  EXPECT_TRUE(contains(recorded(L"kestro-info.xml"), "<cookie>cookie-of-the-launcher</cookie>"))
      << recorded(L"kestro-info.xml");
  const std::string files = recorded(L"files.txt");
  EXPECT_TRUE(contains(files, seen("trid.edat", "launcher trid"))) << "the launcher's replaces the payload's\n" << files;
  EXPECT_TRUE(contains(files, seen("new.edat", "launcher new"))) << files;
  EXPECT_TRUE(contains(files, seen("ecoo.edat", "cookie-of-the-launcher"))) << files;
  EXPECT_TRUE(contains(files, seen("EREF.EDAT", "payload eref"))) << files;
  EXPECT_FALSE(contains(files, "notes.txt")) << files;
  EXPECT_FALSE(contains(files, "x.eda\n")) << files;

  // The copy the launcher's open file made fail did not stop the others.
  const std::wstring kept = kept_folder();
  const std::string failed = "Copy edat file '" + utils::to_narrow(edat_dir()) + "\\locked.edat'->'" +
                             utils::to_narrow(kept) + "\\locked.edat' fail 32";
  EXPECT_TRUE(contains(log, failed)) << failed << "\n" << log;
  EXPECT_FALSE(files::path_exists(kept + L"\\locked.edat"));
  const std::wstring edat = windows_path(VYN_EDAT_FIXTURES);
  EXPECT_EQ(digest_of_file(kept + L"\\dir\\x.edat.txt"), digest_of_file(edat + L"\\x.edat.txt"));
  EXPECT_EQ(digest_of_file(kept + L"\\sub\\a.edat"), digest_of_file(edat + L"\\a.edat"));
  EXPECT_FALSE(files::path_exists(kept + L"\\x.eda"));
}

TEST_F(LaunchingStub, SignedWithAnotherKey_NothingIsTakenOver) {
  ASSERT_EQ(run(L"launcher-set7.exe", L"/edat_dir:\"" + edat_dir() + L"\\\""), 0u);
  const std::string log = run_log(marker_);
  EXPECT_TRUE(contains(log, "DSA for microstub verified with result 'false'")) << log;
  EXPECT_TRUE(contains(log, "Microstub not verified, skip get cookie")) << log;
  EXPECT_TRUE(contains(log, "Microstub not verified, skip copy edat files")) << log;

  EXPECT_FALSE(contains(recorded(L"kestro-info.xml"), "<cookie>")) << recorded(L"kestro-info.xml");
  const std::string files = recorded(L"files.txt");
  EXPECT_TRUE(contains(files, seen("trid.edat", "payload trid"))) << files;
  EXPECT_TRUE(contains(files, seen("EREF.EDAT", "payload eref"))) << files;
  EXPECT_FALSE(contains(files, "new.edat")) << files;
  EXPECT_FALSE(contains(files, "ecoo.edat")) << files;
}

TEST_F(LaunchingStub, StartedWithoutEdatDir_TheLaunchingStubIsNotLookedAt) {
  ASSERT_EQ(run(L"launcher-set8.exe", L""), 0u);
  const std::string log = run_log(marker_);
  EXPECT_TRUE(contains(log, "*** Ending SFX")) << log;
  EXPECT_FALSE(contains(log, "icrostub")) << log;
  EXPECT_FALSE(contains(recorded(L"kestro-info.xml"), "<cookie>"));
  const std::string files = recorded(L"files.txt");
  EXPECT_TRUE(contains(files, seen("trid.edat", "payload trid"))) << files;
  EXPECT_FALSE(contains(files, "new.edat")) << files;
}

}  // namespace
}  // namespace vyn
