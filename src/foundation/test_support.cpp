#include "foundation/test_support.h"

#include <fmt/xchar.h>

#include "foundation/random.h"

namespace vyn::testing_support {

void remove_tree(const std::wstring& path) {
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(child);
      } else {
        ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(child.c_str());
      }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
  }
  ::RemoveDirectoryW(path.c_str());
}

scratch_folder::scratch_folder() {
  wchar_t base[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, base);
  path_ = fmt::format(L"{}vyn-test-{:016x}", std::wstring_view(base, length), utils::random_u64());
  ::CreateDirectoryW(path_.c_str(), nullptr);
}

scratch_folder::~scratch_folder() { remove_tree(path_); }

scoped_environment::scoped_environment(const wchar_t* name, std::optional<std::wstring> value)
    : name_(name) {
  wchar_t buffer[32768];
  const DWORD length = ::GetEnvironmentVariableW(name, buffer, 32768);
  if (length > 0 && length < 32768) previous_ = std::wstring(buffer, length);
  ::SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
}

scoped_environment::~scoped_environment() {
  ::SetEnvironmentVariableW(name_.c_str(), previous_ ? previous_->c_str() : nullptr);
}

std::wstring windows_path(std::string_view build_path) {
  std::wstring path(build_path.begin(), build_path.end());
  for (auto& c : path) {
    if (c == L'/') c = L'\\';
  }
  return !build_path.empty() && build_path.front() == '/' ? L"Z:" + path : path;
}

}  // namespace vyn::testing_support
