// The wait for the crash reporter that the setup side starts from the product folder after an
// abnormal end: the temporary folder is deleted only once it has finished (or after a limit, so
// that a hanging reporter cannot keep the installer alive).
#include <windows.h>

#include <tlhelp32.h>

#include <string>
#include <vector>

#include "foundation/exceptions.h"
#include "foundation/handle.h"
#include "foundation/log.h"
#include "foundation/strings.h"
#include "launch/bug_report_path.h"
#include "launch/secure_process_launcher.h"

namespace vyn::sfx {
namespace {

// Windows compares file names without regard to case, beyond ASCII too.
std::wstring lower_case(std::wstring_view text) {
  if (text.empty()) return {};
  std::wstring lowered(text.size(), L'\0');
  const int length = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, text.data(), static_cast<int>(text.size()),
                                     lowered.data(), static_cast<int>(lowered.size()), nullptr, nullptr, 0);
  if (length <= 0) {
    std::wstring ascii(text);
    for (wchar_t& c : ascii) c = utils::fold_case(c);
    return ascii;
  }
  lowered.resize(static_cast<std::size_t>(length));
  return lowered;
}

// The folder in its long form: a temporary folder is often named with short (8.3) components,
// while the system reports a process's image with the long ones.
std::wstring long_form(const std::wstring& folder) {
  std::wstring buffer(32768, L'\0');
  const DWORD length = ::GetLongPathNameW(folder.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return folder;
  buffer.resize(length);
  return buffer;
}

// Empty when the process has ended or may not be queried.
std::wstring device_image_path(DWORD process_id) {
  const win::unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process) return {};
  std::wstring path(32768, L'\0');
  DWORD length = static_cast<DWORD>(path.size());
  if (!::QueryFullProcessImageNameW(process.get(), PROCESS_NAME_NATIVE, path.data(), &length)) return {};
  path.resize(length);
  return path;
}

bool any_matches(const std::vector<std::wstring>& images, std::wstring_view expected) {
  for (const std::wstring& image : images) {
    if (matches_expected_path(image, expected)) return true;
  }
  return false;
}

// Image paths, in device form and lower case, of the running processes named "bug_report.exe".
// Raises "Unable to take a snapshot of the running processes!" with the system error code.
std::vector<std::wstring> running_bug_report_images() {
  const win::unique_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) {
    const DWORD code = ::GetLastError();
    VYN_LOG_ERROR("CreateToolhelp32Snapshot failed, error {}", code);
    throw exceptions::error(code, "Unable to take a snapshot of the running processes!");
  }
  std::vector<std::wstring> images;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (!utils::iequals(entry.szExeFile, bug_report_name)) continue;
    std::wstring image = device_image_path(entry.th32ProcessID);
    if (!image.empty()) images.push_back(lower_case(image));
  }
  return images;
}

}  // namespace

void secure_process_launcher::wait_for_bug_report(const std::wstring& folder) {
  const std::wstring expected = lower_case(expected_bug_report_path(long_form(folder)));
  VYN_LOG_INFO("Wait for bug_report ({}) start", utils::to_log(expected));
  const auto start = std::chrono::steady_clock::now();
  bool announced = false;
  for (;;) {
    const bool running = any_matches(running_bug_report_images(), expected);
    if (std::chrono::steady_clock::now() - start > bug_report_limit_) {
      VYN_LOG_INFO("Waiting for bug_report finish timeout");
      break;
    }
    if (!running) break;
    if (!announced) {
      VYN_LOG_INFO("Waiting for bug_report...");
      announced = true;
    }
    ::Sleep(static_cast<DWORD>(poll_interval_.count()));
  }
  VYN_LOG_INFO("Wait for bug_report end");
}

}  // namespace vyn::sfx
