#pragma once
// Helpers of the launcher's tests: the stand-in programs copied into a private folder, their
// records, and cleanup of stand-ins that outlive a test.

#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/directories.h"
#include "foundation/files.h"
#include "foundation/handle.h"
#include "foundation/strings.h"
#include "foundation/test_support.h"

namespace vyn::sfx::testing {

inline std::wstring kestro_exe() { return testing_support::windows_path(VYN_TEST_KESTRO_EXE); }
inline std::wstring bug_report_exe() { return testing_support::windows_path(VYN_TEST_BUG_REPORT_EXE); }

// Copies a stand-in into folder (created with its parents) and returns the copy's path.
inline std::wstring place(const std::wstring& program, const std::wstring& folder, const std::wstring& name) {
  files::create_directory(folder);
  const std::wstring target = folder + L"\\" + name;
  EXPECT_TRUE(::CopyFileW(program.c_str(), target.c_str(), FALSE)) << ::GetLastError();
  return target;
}

// The file's bytes; empty when there is no such file.
inline std::string read_text(const std::wstring& path) {
  if (!files::file_exists(path)) return {};
  const std::vector<std::uint8_t> bytes = files::get_file_content(path);
  return {bytes.begin(), bytes.end()};
}

using files::path_exists;

// Ends every process whose image lies below folder (stand-ins a test left running).
inline void terminate_programs_in(const std::wstring& folder) {
  const win::unique_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    const win::unique_handle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (!process) continue;
    wchar_t image[MAX_PATH * 4];
    DWORD length = MAX_PATH * 4;
    if (!::QueryFullProcessImageNameW(process.get(), 0, image, &length)) continue;
    if (utils::ifind(std::wstring_view(image, length), folder + L"\\") != 0) continue;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 5000);
  }
}

// A private folder with the test's record folder in the environment of every child.
class stand_in_test : public ::testing::Test {
 protected:
  stand_in_test() : record_variable_(L"VYN_TEST_RECORD_DIR", record()) {}
  ~stand_in_test() override { terminate_programs_in(scratch_.path()); }

  std::wstring record() const { return scratch_ / L"record"; }
  // A copy of the setup master stand-in in a folder of its own ("master"), placed on first use.
  const std::wstring& master() {
    if (master_.empty()) master_ = place(kestro_exe(), scratch_ / L"master", L"kestro.exe");
    return master_;
  }
  std::string recorded(const wchar_t* name) const { return read_text(record() + L"\\" + name); }

  testing_support::scratch_folder scratch_;

 private:
  testing_support::scoped_environment record_variable_;
  std::wstring master_;
};

}  // namespace vyn::sfx::testing
