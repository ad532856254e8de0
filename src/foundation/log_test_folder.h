#pragma once
// A private temporary folder for a log test, removed with everything in it, and small file helpers.

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "foundation/handle.h"
#include "foundation/random.h"
#include "foundation/strings.h"

namespace vyn::log::testing {

inline void remove_tree(const std::wstring& folder) {
  WIN32_FIND_DATAW found{};
  const win::unique_find search(::FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (search) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(path);
      } else {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(path.c_str());
      }
    } while (::FindNextFileW(search.get(), &found));
  }
  ::RemoveDirectoryW(folder.c_str());
}

class temp_folder {
 public:
  temp_folder() {
    wchar_t base[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, base);
    path_ = std::wstring(base) + L"vyn-log-" + utils::to_wide(utils::random_uuid());
    ::CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~temp_folder() { remove_tree(path_); }
  temp_folder(const temp_folder&) = delete;
  temp_folder& operator=(const temp_folder&) = delete;

  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

  // Names of the files in the folder, sorted.
  std::vector<std::wstring> names() const {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW found{};
    const win::unique_find search(::FindFirstFileW((path_ + L"\\*").c_str(), &found));
    if (search) {
      do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") out.push_back(name);
      } while (::FindNextFileW(search.get(), &found));
    }
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  std::wstring path_;
};

// The file's bytes; "<missing>" when it cannot be opened.
inline std::string read_file(const std::wstring& path) {
  const win::unique_handle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return "<missing>";
  std::string bytes;
  char chunk[65536];
  DWORD read = 0;
  while (::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read != 0) {
    bytes.append(chunk, read);
  }
  return bytes;
}

inline void write_file(const std::wstring& path, const std::string& bytes) {
  const win::unique_handle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (file) ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// The lines of a log file after its byte-order mark, without their "\r\n".
inline std::vector<std::string> log_lines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(bytes.substr(start) + "<no line end>");
      break;
    }
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

}  // namespace vyn::log::testing
