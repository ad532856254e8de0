#include "app/temp_dir.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/strings.h"
#include "payload/testing/test_support.h"

namespace vyn::sfx {
namespace {

constexpr const wchar_t* session_manager = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* pending_value = L"PendingFileRenameOperations";

bool is_directory(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool is_file(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void write_file(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << ::GetLastError();
  DWORD written = 0;
  ::WriteFile(file, "data", 4, &written, nullptr);
  ::CloseHandle(file);
}

std::wstring windows_temp() {
  wchar_t windows[MAX_PATH];
  const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows, length) + L"\\Temp";
}

// The name the folder got below its base: "vyn-" and a lower-case version-4 UUID.
void expect_folder_name(const std::wstring& path, const std::wstring& base) {
  ASSERT_EQ(path.substr(0, base.size() + 5), base + L"\\vyn-") << path;
  const std::wstring uuid = path.substr(base.size() + 5);
  ASSERT_EQ(uuid.size(), 36u) << path;
  for (std::size_t i = 0; i < uuid.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      EXPECT_EQ(uuid[i], L'-') << path;
    } else {
      EXPECT_TRUE((uuid[i] >= L'0' && uuid[i] <= L'9') || (uuid[i] >= L'a' && uuid[i] <= L'f')) << path;
    }
  }
  EXPECT_EQ(uuid[14], L'4') << path;
}

// The pending restart operations as one text, entries separated by NULs; empty when none.
std::wstring pending_operations() {
  DWORD size = 0;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, session_manager, pending_value, RRF_RT_REG_MULTI_SZ, nullptr, nullptr,
                     &size) != ERROR_SUCCESS) {
    return {};
  }
  std::wstring data(size / sizeof(wchar_t), L'\0');
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, session_manager, pending_value, RRF_RT_REG_MULTI_SZ, nullptr, data.data(),
                     &size) != ERROR_SUCCESS) {
    return {};
  }
  data.resize(size / sizeof(wchar_t));
  return data;
}

// Removes the source-target pairs whose source lies below folder, leaving other programs' ones,
// so that the shared Wine prefix does not carry this test's operations into later restarts.
void forget_pending_operations_below(const std::wstring& folder) {
  const std::wstring data = pending_operations();
  if (data.empty()) return;
  std::vector<std::wstring> parts;
  for (std::size_t start = 0; start + 1 < data.size();) {
    const std::size_t end = data.find(L'\0', start);
    parts.push_back(data.substr(start, end - start));
    start = end + 1;
  }
  std::wstring kept;
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].find(folder) != std::wstring::npos) continue;
    kept += parts[i] + L'\0' + parts[i + 1] + L'\0';
  }
  HKEY key = nullptr;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, session_manager, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  if (kept.empty()) {
    ::RegDeleteValueW(key, pending_value);
  } else {
    kept += L'\0';
    ::RegSetValueExW(key, pending_value, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                     static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
  }
  ::RegCloseKey(key);
}

class TempDir : public ::testing::Test {
 protected:
  testing::temp_folder folder_;
  const std::wstring base_ = folder_.path().wstring();
  testing::log_capture log_;
};

std::string narrow(const std::wstring& text) { return utils::to_narrow(text); }

TEST_F(TempDir, ExistingBase_HoldsTheNewFolderWhichIsDeletedWithAllItsContent) {
  std::wstring path;
  {
    const temp_dir folder(base_, true);
    path = folder.get_path();
    expect_folder_name(path, base_);
    ASSERT_TRUE(is_directory(path));
    write_file(path + L"\\kestro-info.xml");
    write_file(path + L"\\read-only.dll", FILE_ATTRIBUTE_READONLY);
    write_file(path + L"\\hidden.dat", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    ASSERT_TRUE(::CreateDirectoryW((path + L"\\common").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((path + L"\\common\\deeper").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((path + L"\\empty").c_str(), nullptr));
    write_file(path + L"\\common\\deeper\\setup.exe", FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(::SetFileAttributesW((path + L"\\common").c_str(), FILE_ATTRIBUTE_READONLY));
  }
  EXPECT_FALSE(is_directory(path));
  EXPECT_TRUE(is_directory(base_));
  EXPECT_EQ(log_.count("SFX temp folder '" + narrow(path) + "' created."), 1);
  EXPECT_EQ(log_.count("SFX temp folder '" + narrow(path) + "\\common\\deeper' deleted."), 1);
  EXPECT_EQ(log_.count("SFX temp folder '" + narrow(path) + "' deleted."), 1);
  EXPECT_EQ(log_.count("Temp folder (" + narrow(path) + ") deleted"), 1);
}

TEST_F(TempDir, BaseWithTrailingSeparator_JoinedWithASingleBackslash) {
  const temp_dir folder(base_ + L"\\", true);
  expect_folder_name(folder.get_path(), base_);
}

TEST_F(TempDir, RelativeBase_BecomesAnAbsolutePath) {
  wchar_t previous[MAX_PATH];
  ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, previous), 0u);
  ASSERT_TRUE(::SetCurrentDirectoryW(base_.c_str()));
  ASSERT_TRUE(::CreateDirectoryW(L"relative", nullptr));
  std::wstring path;
  {
    const temp_dir folder(L"relative", true);
    path = folder.get_path();
  }
  ::SetCurrentDirectoryW(previous);
  expect_folder_name(path, base_ + L"\\relative");
}

TEST_F(TempDir, BaseNamingAFileOrNothing_TheWindowsTemporaryFolderIsUsed) {
  write_file(base_ + L"\\a-file");
  for (const std::wstring& requested : {base_ + L"\\a-file", base_ + L"\\missing", std::wstring()}) {
    std::wstring path;
    {
      const temp_dir folder(requested, true);
      path = folder.get_path();
      expect_folder_name(path, windows_temp());
      EXPECT_TRUE(is_directory(path));
    }
    EXPECT_FALSE(is_directory(path)) << path;
  }
  EXPECT_FALSE(is_directory(base_ + L"\\missing"));
}

TEST_F(TempDir, TwoFoldersAtTheSameTime_AreDifferent) {
  const temp_dir first(base_, true);
  const temp_dir second(base_, true);
  EXPECT_NE(first.get_path(), second.get_path());
  EXPECT_TRUE(is_directory(first.get_path()));
  EXPECT_TRUE(is_directory(second.get_path()));
}

TEST_F(TempDir, KeepRequested_FolderAndContentRemain) {
  std::wstring path;
  {
    const temp_dir folder(base_, false);
    path = folder.get_path();
    write_file(path + L"\\trace.etl");
  }
  EXPECT_TRUE(is_file(path + L"\\trace.etl"));
  EXPECT_EQ(log_.count("Skipping temp folder (" + narrow(path) + ") delete"), 1);
}

TEST_F(TempDir, LockedFile_FileAndItsFolderAreScheduledForDeletionAtRestart) {
  std::wstring path;
  HANDLE locked = INVALID_HANDLE_VALUE;
  {
    const temp_dir folder(base_, true);
    path = folder.get_path();
    write_file(path + L"\\free.txt");
    locked = ::CreateFileW((path + L"\\locked.exe").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  }
  const std::wstring pending = pending_operations();
  ::CloseHandle(locked);
  forget_pending_operations_below(path);

  EXPECT_FALSE(is_file(path + L"\\free.txt"));
  EXPECT_TRUE(is_file(path + L"\\locked.exe"));
  EXPECT_NE(pending.find(L"\\??\\" + path + L"\\locked.exe" + L'\0' + L'\0'), std::wstring::npos);
  EXPECT_NE(pending.find(L"\\??\\" + path + L'\0' + L'\0'), std::wstring::npos);
  EXPECT_EQ(pending_operations().find(path), std::wstring::npos);
  EXPECT_EQ(log_.count("Could not delete file '" + narrow(path) + "\\locked.exe', 32, plan it for restart!"), 1);
  EXPECT_EQ(log_.count("Could not delete directory '" + narrow(path) + "', 145, plan it for restart!"), 1);
  EXPECT_EQ(log_.count("delete after reboot fail"), 0);
}

// The setup may leave a link to a folder elsewhere; deleting follows no link.
TEST_F(TempDir, LinkToAFolderElsewhere_LinkIsRemovedAndItsTargetKept) {
  const std::wstring outside = base_ + L"\\outside";
  ASSERT_TRUE(::CreateDirectoryW(outside.c_str(), nullptr));
  write_file(outside + L"\\precious.txt");
  std::wstring path;
  {
    const temp_dir folder(base_, true);
    path = folder.get_path();
    // Wine 8 reports success without making the link.
    if (!::CreateSymbolicLinkW((path + L"\\link").c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) ||
        !is_file(path + L"\\link\\precious.txt")) {
      GTEST_SKIP() << "folder links cannot be made here";
    }
  }
  EXPECT_TRUE(is_file(outside + L"\\precious.txt"));
  EXPECT_FALSE(is_directory(path));
}

}  // namespace
}  // namespace vyn::sfx
