#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "foundation/files.h"
#include "foundation/handle.h"
#include "foundation/test_support.h"
#include "net/ini_file.h"

namespace vyn::utils {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testing_support::scratch_folder;

std::vector<std::uint8_t> bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

win::unique_handle open_without_sharing(const std::wstring& path) {
  return win::unique_handle(
      ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

class IniFileOnDisk : public testing::Test {
 protected:
  scratch_folder scratch_;
  const std::wstring path_ = scratch_ / L"proxy.ini";
};

TEST_F(IniFileOnDisk, Saved_WritesItsEncodingAndReplacesALongerFileWhole) {
  files::set_file_content(path_, std::vector<std::uint8_t>(4096, 'x'), true);
  ini_file ini;
  ini.set(L"S", L"k", L"v");
  ASSERT_TRUE(ini.save(path_));
  EXPECT_EQ(files::get_file_content(path_),
            (std::vector<std::uint8_t>{0xFF, 0xFE, '\r', 0, '\n', 0, '[', 0, 'S', 0, ']', 0, '\r', 0, '\n', 0,
                                       'k', 0, '=', 0, 'v', 0, '\r', 0, '\n', 0}));

  ini_file back;
  ASSERT_TRUE(back.load(path_));
  EXPECT_EQ(back.sections(), ini.sections());
  back.set_encoding(text_encoding::utf8);
  ASSERT_TRUE(back.save(path_));
  EXPECT_EQ(files::get_file_content(path_), bytes_of("\xEF\xBB\xBF\r\n[S]\r\nk=v\r\n"));
}

TEST_F(IniFileOnDisk, UnreadableFiles_FailWithTheirCodeAndLeaveTheDocumentEmpty) {
  files::set_file_content(path_, bytes_of("[s]\nk=\xC3"), true);
  const struct {
    std::wstring path;
    DWORD code;
  } cases[] = {
      {scratch_ / L"missing.ini", ERROR_FILE_NOT_FOUND},
      {scratch_ / L"no folder\\x.ini", ERROR_PATH_NOT_FOUND},
      {path_, ERROR_INVALID_DATA},
  };
  for (const auto& c : cases) {
    ini_file ini;
    ini.set(L"old", L"k", L"v");
    ::SetLastError(0);
    EXPECT_FALSE(ini.load(c.path));
    EXPECT_EQ(::GetLastError(), c.code);
    EXPECT_TRUE(ini.empty());
  }
  ini_file ini;
  ::SetLastError(0);
  EXPECT_FALSE(ini.save(scratch_ / L"no folder\\x.ini"));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(IniFileOnDisk, FileHeldWithoutSharing_IsReadOnceTheOtherProgramLetsGo) {
  files::set_file_content(path_, bytes_of("[s]\nk=v\n"), true);
  win::unique_handle held = open_without_sharing(path_);
  ASSERT_TRUE(held);
  std::thread release([&held] {
    std::this_thread::sleep_for(milliseconds(300));
    held.reset();
  });
  const auto started = steady_clock::now();
  ini_file ini;
  const bool loaded = ini.load(path_);
  const auto waited = steady_clock::now() - started;
  release.join();
  EXPECT_TRUE(loaded);
  EXPECT_EQ(ini.get(L"s", L"k", L""), L"v");
  EXPECT_GE(waited, milliseconds(250));
  EXPECT_LT(waited, milliseconds(2000));
}

TEST_F(IniFileOnDisk, FileHeldWithoutSharingForLong_FailsWithSharingViolationAfterFiveSeconds) {
  files::set_file_content(path_, bytes_of("[s]\nk=v\n"), true);
  const win::unique_handle held = open_without_sharing(path_);
  ASSERT_TRUE(held);
  const auto started = steady_clock::now();
  ini_file ini;
  ini.set(L"s", L"k", L"new");
  EXPECT_FALSE(ini.save(path_));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  const auto waited = steady_clock::now() - started;
  EXPECT_GE(waited, milliseconds(4900));
  EXPECT_LT(waited, milliseconds(7000));
}

TEST_F(IniFileOnDisk, FileLockedByAWriter_IsReadAfterTheLockIsReleased) {
  files::set_file_content(path_, bytes_of("[s]\nk=v\n"), true);
  const win::unique_handle writer(::CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                                nullptr));
  ASSERT_TRUE(writer);
  auto lock = std::make_unique<files::file_lock>(writer.get(), files::lock_kind::exclusive);
  std::thread release([&lock] {
    std::this_thread::sleep_for(milliseconds(300));
    lock.reset();
  });
  const auto started = steady_clock::now();
  ini_file ini;
  const bool loaded = ini.load(path_);
  const auto waited = steady_clock::now() - started;
  release.join();
  EXPECT_TRUE(loaded);
  EXPECT_EQ(ini.get(L"s", L"k", L""), L"v");
  EXPECT_GE(waited, milliseconds(250));
}

}  // namespace
}  // namespace vyn::utils
