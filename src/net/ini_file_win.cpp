#include <windows.h>

#include <algorithm>

#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/handle.h"
#include "net/ini_file.h"

namespace vyn::utils {
namespace {

constexpr DWORD open_patience_ms = 5000;
constexpr DWORD longest_pause_ms = 100;

// Opens the file, waiting while another program holds it without sharing: pauses of 1, 2, 4 ...
// up to 100 ms, for at most 5000 ms in all. Raises "couldn't open file" with the system code.
win::unique_handle open_patiently(std::wstring_view path, DWORD access, DWORD sharing, DWORD disposition) {
  const std::wstring name(path);
  const ULONGLONG started = ::GetTickCount64();
  DWORD pause = 1;
  for (;;) {
    win::unique_handle file(
        ::CreateFileW(name.c_str(), access, sharing, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return file;
    const DWORD code = ::GetLastError();
    if (code != ERROR_SHARING_VIOLATION || ::GetTickCount64() - started >= open_patience_ms) {
      throw exceptions::error(code, "couldn't open file");
    }
    ::Sleep(pause);
    pause = std::min(pause * 2, longest_pause_ms);
  }
}

std::vector<std::uint8_t> read_all(HANDLE file) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size)) throw exceptions::error(::GetLastError(), "couldn't read file");
  // An INI document is small; anything near the 32-bit read limit is not one.
  if (size.QuadPart > 0x10000000) throw exceptions::error(ERROR_FILE_TOO_LARGE, "couldn't read file");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD read = 0;
    if (!::ReadFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, nullptr)) {
      throw exceptions::error(::GetLastError(), "couldn't read file");
    }
    if (read == 0) break;  // the file was cut while we read it: parse what is there
    done += read;
  }
  bytes.resize(done);
  return bytes;
}

// The failure as the thread's last error; callers decide whether it is worth a log line (a
// missing optional file usually is not).
bool report_failure(DWORD code) {
  ::SetLastError(code);
  return false;
}

DWORD code_of(const exceptions::detail::base& e) {
  return e.has_code() && e.code() != 0 ? e.code() : ERROR_GEN_FAILURE;
}

}  // namespace

bool ini_file::load(std::wstring_view path) {
  sections_.clear();
  try {
    const win::unique_handle file = open_patiently(
        path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    std::vector<std::uint8_t> bytes;
    {
      const files::file_lock lock(file.get(), files::lock_kind::shared);
      bytes = read_all(file.get());
    }
    *this = parse(bytes);
    return true;
  } catch (const exceptions::detail::base& e) {
    sections_.clear();
    return report_failure(code_of(e));
  } catch (const std::bad_alloc&) {
    sections_.clear();
    return report_failure(ERROR_NOT_ENOUGH_MEMORY);
  }
}

bool ini_file::save(std::wstring_view path) const {
  try {
    const std::vector<std::uint8_t> bytes = render();
    const win::unique_handle file = open_patiently(
        path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_ALWAYS);
    const files::file_lock lock(file.get(), files::lock_kind::exclusive);
    files::write_file_content(file.get(), bytes);
    return true;
  } catch (const exceptions::detail::base& e) {
    return report_failure(code_of(e));
  } catch (const std::bad_alloc&) {
    return report_failure(ERROR_NOT_ENOUGH_MEMORY);
  }
}

}  // namespace vyn::utils
