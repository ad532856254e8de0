#pragma once
// What the stand-in programs share: reading the settings a test gives them through inherited
// environment variables, and writing what they saw into the test's record folder.

#include <windows.h>

#include <cerrno>
#include <cwchar>
#include <optional>
#include <string>
#include <string_view>

namespace vyn::stand_in {

// Exit code of a stand-in that could not do what the test asked (outside the installer's own
// ranges, so that a test cannot take it for a real result).
inline constexpr DWORD failure_exit_code = 0xBAD0;

// The variable's value; nothing when it is not set.
inline std::optional<std::wstring> environment(const wchar_t* name) {
  std::wstring value(256, L'\0');
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD length = ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::wstring();
    }
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);
  }
}

// A 32-bit number written in decimal (also negative, as -2), or in hexadecimal after "0x".
inline std::optional<DWORD> parse_number(const std::wstring& text) {
  if (text.empty()) return std::nullopt;
  wchar_t* end = nullptr;
  errno = 0;
  const long long value = std::wcstoll(text.c_str(), &end, 0);
  if (errno != 0 || end != text.c_str() + text.size() || value < -0x80000000LL || value > 0xFFFFFFFFLL) {
    return std::nullopt;
  }
  return static_cast<DWORD>(value);
}

inline std::string utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

// Writes or appends the text as UTF-8; false when the file cannot be written.
inline bool write_text(const std::wstring& path, std::string_view text, bool append = false) {
  const HANDLE file = ::CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = text.empty() || ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(file);
  return ok && written == text.size();
}

// Creates the folder and its missing parents; true when it exists afterwards.
inline bool make_folders(const std::wstring& path) {
  for (std::size_t i = path.find_first_of(L"\\/", 3); i != std::wstring::npos; i = path.find_first_of(L"\\/", i + 1)) {
    ::CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
  }
  ::CreateDirectoryW(path.c_str(), nullptr);
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The folder of the running program.
inline std::wstring own_folder() {
  std::wstring path(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  return path.substr(0, path.find_last_of(L'\\'));
}

}  // namespace vyn::stand_in
