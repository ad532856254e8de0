// Runs the built stub the way a user or a launching program does and checks how each run ends.
#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <cstdint>
#include <string>

#include "stub_process.h"

namespace {

constexpr DWORD invalid_signature = 44024;
constexpr DWORD unsupported_os = 45056;

// The stub's path as the build gives it: inside Wine a Linux path /a/b is Z:\a\b.
std::wstring built_stub() {
  const std::string path = VYN_SFX_EXE;
  std::wstring wide(path.begin(), path.end());
  if (wide.starts_with(L'/')) {
    for (wchar_t& c : wide) c = c == L'/' ? L'\\' : c;
    wide = L"Z:" + wide;
  }
  return wide;
}

// Starts the stub with the argument text and returns its exit code; a stub that does not end
// within a minute fails the test.
DWORD run_stub(const std::wstring& exe, const std::wstring& arguments) {
  return vyn::testing_support::run_and_wait(exe, L"\"" + exe + L"\" " + arguments, 60000);
}

// A private copy of the stub under a name of its own, so that a per-program setting made for it
// never reaches another test's run. Removed with its folder at the end.
class StubCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1];
    ASSERT_GT(::GetTempPathW(MAX_PATH + 1, temp), 0u);
    const std::wstring unique = std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(::GetTickCount64());
    folder_ = std::wstring(temp) + L"vyn-stub-test-" + unique;
    ASSERT_TRUE(::CreateDirectoryW(folder_.c_str(), nullptr)) << ::GetLastError();
    name_ = L"vyn-sfx-" + unique + L".exe";
    exe_ = folder_ + L"\\" + name_;
    ASSERT_TRUE(::CopyFileW(built_stub().c_str(), exe_.c_str(), TRUE)) << ::GetLastError();
  }

  void TearDown() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, app_defaults_key().c_str());
    ::DeleteFileW(exe_.c_str());
    ::RemoveDirectoryW(folder_.c_str());
  }

  // Makes Wine report this Windows version to the copy only.
  void set_reported_version(const wchar_t* version) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, app_defaults_key().c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                &key, nullptr),
              ERROR_SUCCESS);
    const auto bytes = static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t));
    EXPECT_EQ(::RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), bytes), ERROR_SUCCESS);
    ::RegCloseKey(key);
  }

  std::wstring app_defaults_key() const { return L"Software\\Wine\\AppDefaults\\" + name_; }

  std::wstring folder_;
  std::wstring name_;
  std::wstring exe_;
};

std::wstring signed_stub() {
  std::wstring path = built_stub();
  return path.substr(0, path.size() - 4) + L"-signed.exe";
}

// An unsigned stub refuses to run, whatever its command line holds.
TEST(Stub, UnsignedStub_EndsWithInvalidSignature) {
  const wchar_t* command_lines[] = {
      L"/silent",
      L"/VERYSILENT /LANG=L1031 /DIR=\"C:\\Program Files\\x\"",
      L"/silent /track-guid:11111111-2222-3333-4444-555555555555 /ga_clientid:short",
      L"/silent /tmp-path:C:\\nowhere /xperf /lang-id:abc /language:99999999999",
  };
  for (const wchar_t* arguments : command_lines) {
    EXPECT_EQ(run_stub(built_stub(), arguments), invalid_signature) << arguments;
  }
}

// Command lines are untrusted input: odd quoting, empty names and very long values end the
// same way as a plain run.
TEST(Stub, MalformedCommandLines_EndLikeAnyOther) {
  const std::wstring command_lines[] = {
      L"/silent \"unterminated /tmp-path:C:\\x",
      L"/silent / -- --= /: \"\" \"\"\"",
      L"/silent /lang-id:" + std::wstring(20000, L'9'),
      L"/silent /track-guid:\"" + std::wstring(30000, L'-') + L"\"",
  };
  for (const auto& arguments : command_lines) {
    EXPECT_EQ(run_stub(built_stub(), arguments), invalid_signature) << arguments.substr(0, 60);
  }
}

// The log of the default brand's data folder, as the stub writes it.
std::wstring stub_log_path() {
  wchar_t common[MAX_PATH];
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, common))) return {};
  return std::wstring(common) + L"\\Orvek Software\\Kestro\\Logs\\sfx.log";
}

// Each run leaves its start, its command line and its end in the brand's log, in that order and
// in one process's lines.
TEST(Stub, Run_WritesStartAndEndLinesToTheBrandLog) {
  const std::string marker = "log-check-" + std::to_string(::GetTickCount64());
  EXPECT_EQ(run_stub(built_stub(), L"/silent /" + std::wstring(marker.begin(), marker.end())), invalid_signature);
  const std::string log = vyn::testing_support::read_shared(stub_log_path()).value_or("");
  ASSERT_TRUE(log.starts_with("\xEF\xBB\xBF")) << "the log starts with a byte-order mark";
  const std::size_t started = log.find("SFX started with command line '/silent /" + marker + "'");
  ASSERT_NE(started, std::string::npos);
  // The run's process id is the first field after the level and module columns.
  const std::size_t line_start = log.rfind('\n', started) + 1;
  const std::string pid_field = log.substr(line_start + 50, 13);  // "[  pid:  tid]"
  ASSERT_TRUE(pid_field.front() == '[' && pid_field.back() == ']' && pid_field[6] == ':') << pid_field;
  const std::string pid = pid_field.substr(0, pid_field.find(':'));
  const std::size_t begin = log.rfind("*** Starting SFX (", started);
  ASSERT_NE(begin, std::string::npos);
  EXPECT_NE(log.substr(log.rfind('\n', begin) + 1, 120).find(pid), std::string::npos);
  const std::size_t end = log.find("*** Ending SFX after exception (44024, abf8) ***", started);
  ASSERT_NE(end, std::string::npos);
  EXPECT_NE(log.substr(log.rfind('\n', end) + 1, 120).find(pid), std::string::npos);
}

// The signed stub gets past its signature check; a copy with one byte changed does not.
TEST_F(StubCopy, SignedStub_PassesItsSignatureCheckUnlessAltered) {
  ASSERT_TRUE(::CopyFileW(signed_stub().c_str(), exe_.c_str(), FALSE)) << ::GetLastError();
  const DWORD signed_run = run_stub(exe_, L"/silent");
  // Its payload is empty, so the run ends for want of its configuration.
  EXPECT_EQ(signed_run, 44051u);

  const HANDLE file = ::CreateFileW(exe_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ::SetFilePointer(file, 0x1000, nullptr, FILE_BEGIN);
  std::uint8_t byte = 0;
  DWORD done = 0;
  ASSERT_TRUE(::ReadFile(file, &byte, 1, &done, nullptr));
  byte ^= 0x01;
  ::SetFilePointer(file, 0x1000, nullptr, FILE_BEGIN);
  ASSERT_TRUE(::WriteFile(file, &byte, 1, &done, nullptr));
  ::CloseHandle(file);
  EXPECT_EQ(run_stub(exe_, L"/silent"), invalid_signature);
}

TEST_F(StubCopy, ReportedWindowsVersion_DecidesWhetherTheStubRuns) {
  const struct {
    const wchar_t* version;
    DWORD exit_code;
  } cases[] = {
      {L"winxp", unsupported_os}, {L"vista", unsupported_os}, {L"win7", invalid_signature},
      {L"win81", invalid_signature}, {L"win10", invalid_signature},
  };
  for (const auto& c : cases) {
    set_reported_version(c.version);
    EXPECT_EQ(run_stub(exe_, L"/silent"), c.exit_code) << c.version;
  }
}

}  // namespace
