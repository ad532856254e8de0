#include "launch/secure_process_launcher.h"

#include <gtest/gtest.h>

#include <chrono>

#include "app/command_line.h"
#include "foundation/exceptions.h"
#include "foundation/file_digest.h"
#include "foundation/sha256.h"
#include "launch/bug_report_path.h"
#include "launch/launch_test_support.h"
#include "payload/testing/test_support.h"

namespace vyn::sfx {
namespace {

using namespace std::chrono_literals;
using testing::bug_report_exe;
using testing::path_exists;
using testing::kestro_exe;
using testing::place;
using testing_support::scoped_environment;

// Waits for the crash reporter no longer than the test allows, looking every 50 ms.
class quick_launcher : public secure_process_launcher {
 public:
  explicit quick_launcher(std::chrono::milliseconds limit) : secure_process_launcher(limit, 50ms) {}
};

std::string lower(std::wstring text) {
  for (wchar_t& c : text) c = utils::fold_case(c);
  return utils::to_narrow(text);
}

class Launcher : public testing::stand_in_test {
 protected:
  // Milliseconds the wait for the crash reporter of folder took.
  long long timed_wait(std::chrono::milliseconds limit, const std::wstring& folder) {
    const auto start = std::chrono::steady_clock::now();
    quick_launcher(limit).wait_for_bug_report(folder);
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  }
  // Starts a crash reporter from folder that stays for delay_ms, without waiting for it.
  void start_reporter(const std::wstring& folder, const wchar_t* delay_ms) {
    const scoped_environment delay(L"VYN_TEST_BUG_REPORT_DELAY_MS", delay_ms);
    const std::wstring exe = place(bug_report_exe(), folder, L"bug_report.exe");
    ASSERT_EQ(launcher_.run(exe, L"", 0), systools::still_active);
  }
  bool reporter_done() const { return path_exists(record() + L"\\bug_report-done.txt"); }

  secure_process_launcher launcher_;
  testing::log_capture log_;
};

TEST_F(Launcher, Run_ReturnsTheChildsExitCodeAndLogsStartAndEnd) {
  const std::string exe = utils::to_narrow(quote_argument(master()));
  for (const std::uint32_t code : {0u, 3u, 44080u, 0xE06D7363u, 0xFFFFFFFEu}) {
    const scoped_environment exit_code(L"VYN_TEST_EXIT_CODE", std::to_wstring(code));
    EXPECT_EQ(launcher_.run(master(), L"/install", systools::infinite_wait), code);
    EXPECT_EQ(log_.count("Process '" + exe + " /install' finished with exit code '" + std::to_string(code) + "'"), 1)
        << log_.text();
  }
  EXPECT_EQ(log_.count("Start of run_process '" + utils::to_narrow(master()) + "', cmdline '/install', timeout '4294967295'"), 5);
}

TEST_F(Launcher, Run_PassesTheArgumentTextExactly) {
  const std::wstring exe = place(kestro_exe(), scratch_ / L"setup master", L"kestro.exe");
  const std::wstring info = scratch_ / L"kestro-info.xml";  // beside the master's folder
  const std::wstring quoted_info = scratch_ / L"temp dir\\kestro-info.xml";
  ::CreateDirectoryW((scratch_ / L"temp dir").c_str(), nullptr);
  testing::write_file(quoted_info, "<kestro-info/>");
  testing::write_file(info, "<listed beside the folder of the master/>");
  const std::wstring arguments = L"/kestro-info-path:\"" + quoted_info + L"\" /install /x:say\"\"hi \"two words\"";

  EXPECT_EQ(launcher_.run(exe, arguments, systools::infinite_wait), 0u);

  EXPECT_EQ(recorded(L"command-line.txt"), utils::to_narrow(L"\"" + exe + L"\" " + arguments));
  EXPECT_EQ(recorded(L"arguments.txt").substr(0, recorded(L"arguments.txt").find('\n')),
            utils::to_narrow(L"/kestro-info-path:" + quoted_info));
  EXPECT_EQ(recorded(L"kestro-info.xml"), "<kestro-info/>");
  root::sha256 hash;
  const std::string listed = recorded(L"files.txt");
  EXPECT_NE(listed.find(root::digest_of_file(hash, exe).hex() + "  setup master\\kestro.exe\n"), std::string::npos)
      << listed;
  EXPECT_NE(listed.find(root::digest_of_file(hash, info).hex() + "  kestro-info.xml\n"), std::string::npos) << listed;
}

TEST_F(Launcher, Run_TimeoutExpires_Returns259AndWarns) {
  const scoped_environment delay(L"VYN_TEST_BUG_REPORT_DELAY_MS", L"3000");
  const std::wstring exe = place(bug_report_exe(), scratch_.path(), L"bug_report.exe");
  EXPECT_EQ(launcher_.run(exe, L"/a", 200), systools::still_active);
  EXPECT_EQ(log_.count("Process '" + utils::to_narrow(quote_argument(exe)) + " /a', timeout '200' is still running"), 1) << log_.text();
  EXPECT_EQ(log_.count("finished with exit code"), 0);
}

TEST_F(Launcher, Run_MissingExecutable_RaisesWithTheSystemCodeAndLogsIt) {
  const std::string missing = utils::to_narrow(quote_argument(scratch_ / L"missing.exe"));
  try {
    launcher_.run(scratch_ / L"missing.exe", L"/install", systools::infinite_wait);
    FAIL() << "a missing program was started";
  } catch (const exceptions::error& e) {
    EXPECT_EQ(e.code(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(e.message(), "Unable to create process '" + missing + " /install'!");
  }
  EXPECT_EQ(log_.count("Starting '" + missing + " /install' failed, error 2"), 1) << log_.text();
}

TEST_F(Launcher, WaitForBugReport_NoneRunning_EndsAfterTheFirstLook) {
  const std::wstring folder = scratch_ / L"tmp\\common";
  EXPECT_LT(timed_wait(20s, folder), 1000);
  EXPECT_EQ(log_.count("Wait for bug_report (" + lower(expected_bug_report_path(folder)) + ") start"), 1) << log_.text();
  EXPECT_EQ(log_.count("Wait for bug_report end"), 1);
  EXPECT_EQ(log_.count("Waiting for bug_report"), 0);
}

TEST_F(Launcher, WaitForBugReport_ReporterFromTheFolder_WaitsUntilItEnds) {
  const std::wstring folder = scratch_ / L"tmp\\common";
  start_reporter(folder, L"1500");
  EXPECT_GE(timed_wait(20s, folder), 1000);
  EXPECT_TRUE(reporter_done());
  EXPECT_EQ(log_.count("Waiting for bug_report..."), 1) << log_.text();
  EXPECT_EQ(log_.count("Waiting for bug_report finish timeout"), 0);
  EXPECT_EQ(log_.count("Wait for bug_report end"), 1);
}

TEST_F(Launcher, WaitForBugReport_ReporterFromAnotherFolder_DoesNotDelay) {
  start_reporter(scratch_ / L"other\\common", L"10000");
  start_reporter(scratch_ / L"tmp\\common\\deeper", L"10000");
  EXPECT_LT(timed_wait(20s, scratch_ / L"tmp\\common"), 1000);
  EXPECT_FALSE(reporter_done());
  EXPECT_EQ(log_.count("Waiting for bug_report"), 0) << log_.text();
}

TEST_F(Launcher, WaitForBugReport_ReporterOutlivesTheLimit_StopsAtTheLimit) {
  const std::wstring folder = scratch_ / L"tmp\\common";
  start_reporter(folder, L"10000");
  const long long waited = timed_wait(300ms, folder);
  EXPECT_GE(waited, 300);
  EXPECT_LT(waited, 3000);
  EXPECT_FALSE(reporter_done());
  EXPECT_EQ(log_.count("Waiting for bug_report finish timeout"), 1) << log_.text();
  EXPECT_EQ(log_.count("Wait for bug_report end"), 1);
}

TEST_F(Launcher, WaitForBugReport_FolderGivenInShortForm_StillWaits) {
  const std::wstring folder = scratch_ / L"a rather long folder name\\common";
  start_reporter(folder, L"1000");
  std::wstring short_form(MAX_PATH * 4, L'\0');
  short_form.resize(::GetShortPathNameW(folder.c_str(), short_form.data(), MAX_PATH * 4));
  ASSERT_FALSE(short_form.empty()) << ::GetLastError();
  if (utils::iequals(short_form, folder)) GTEST_SKIP() << "the file system gives no short names";
  timed_wait(20s, short_form);
  EXPECT_TRUE(reporter_done());
}

TEST_F(Launcher, CrashedSetupMaster_ItsReporterIsWaitedFor) {
  const std::wstring folder = scratch_ / L"tmp\\common";
  const std::wstring exe = place(kestro_exe(), folder, L"kestro.exe");
  place(bug_report_exe(), folder, L"bug_report.exe");
  const scoped_environment code(L"VYN_TEST_EXIT_CODE", L"0xE06D7363");
  const scoped_environment start(L"VYN_TEST_START_BUG_REPORT", L"1");
  const scoped_environment delay(L"VYN_TEST_BUG_REPORT_DELAY_MS", L"1000");

  EXPECT_EQ(launcher_.run(exe, L"/install", systools::infinite_wait), 0xE06D7363u);
  EXPECT_FALSE(reporter_done());
  timed_wait(20s, folder);
  EXPECT_TRUE(reporter_done());
}

}  // namespace
}  // namespace vyn::sfx
