#include <windows.h>

#include <initializer_list>

#include "foundation/handle.h"
#include "foundation/log_file.h"
#include "foundation/log_system.h"
#include "foundation/strings.h"

namespace vyn::log::detail {

std::uint64_t system_time() noexcept {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

std::uint32_t current_process_id() noexcept { return ::GetCurrentProcessId(); }

std::uint32_t current_thread_id() noexcept { return ::GetCurrentThreadId(); }

namespace {

// Whether anyone receives debug output: an attached debugger, or a capture tool listening on the
// session's or the machine's debug-output buffer (it creates the buffer's ready event). Windows
// hands a line to them by raising an exception; without a receiver that costs every log line
// an exception for nothing.
bool debug_output_received() noexcept {
  if (::IsDebuggerPresent()) return true;
  for (const wchar_t* name : {L"DBWIN_BUFFER_READY", L"Global\\DBWIN_BUFFER_READY"}) {
    if (HANDLE ready = ::OpenEventW(SYNCHRONIZE, FALSE, name)) {
      ::CloseHandle(ready);
      return true;
    }
  }
  return false;
}

}  // namespace

void debugger_output(std::string_view text) noexcept {
  if (!debug_output_received()) return;
  try {
    // Lenient: a line with bytes that are not UTF-8 still reaches the debugger.
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                             nullptr, 0);
    if (length > 0) {
      std::wstring wide(static_cast<std::size_t>(length), L'\0');
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                            length);
      ::OutputDebugStringW(wide.c_str());
    } else {
      ::OutputDebugStringA(std::string(text).c_str());
    }
  } catch (...) {
  }
}

std::string system_message(std::uint32_t code) {
  wchar_t* buffer = nullptr;
  constexpr DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  DWORD length = ::FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length == 0) {
    // The user's languages may have no text for the code (seen in a freshly made Wine prefix);
    // the English text still tells the reader more than none.
    length = ::FormatMessageW(flags, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                              reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  }
  const win::unique_local owner(buffer);
  std::wstring_view text(buffer, buffer ? length : 0);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.remove_suffix(1);
  }
  return utils::to_log(text);
}

std::unique_ptr<file_sink_intf> open_file_sink(const std::wstring& path, std::uint64_t max_size) {
  return std::make_unique<file_sink>(path, max_size);
}

}  // namespace vyn::log::detail
