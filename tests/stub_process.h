#pragma once
// Starts a stub the way a user or a launching program does and waits for its end, and reads what
// it leaves behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "foundation/handle.h"

namespace vyn::testing_support {

// A wait of ms milliseconds stretched by VYN_TEST_TIME_SCALE (a whole factor, 1 when unset): the
// test run sets it where Windows programs run under a processor emulator, many times slower.
inline DWORD scaled_wait(DWORD ms) {
  const char* text = std::getenv("VYN_TEST_TIME_SCALE");
  const long factor = text ? std::strtol(text, nullptr, 10) : 1;
  if (factor <= 1) return ms;
  const unsigned long long scaled = static_cast<unsigned long long>(ms) * static_cast<unsigned long long>(factor);
  return scaled >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(scaled);
}

// Runs the command line (program path first) and returns the exit code. A process that does not
// end within timeout_ms is a hang (a message box waiting for an answer, for example): it is
// stopped, waited for (so that it lets go of its files before the next case) and the test fails.
inline DWORD run_and_wait(const std::wstring& exe, std::wstring command, DWORD timeout_ms) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    ADD_FAILURE() << "CreateProcessW failed with " << ::GetLastError();
    return 0xFFFFFFFE;
  }
  const win::unique_handle process(info.hProcess);
  const win::unique_handle thread(info.hThread);
  DWORD exit_code = 0xFFFFFFFE;
  if (::WaitForSingleObject(process.get(), scaled_wait(timeout_ms)) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 5000);
    ADD_FAILURE() << "the stub did not end";
  } else {
    ::GetExitCodeProcess(process.get(), &exit_code);
  }
  return exit_code;
}

// The whole file, read while stubs may still be writing or deleting it; nothing when it cannot
// be opened or read.
inline std::optional<std::string> read_shared(const std::wstring& path) {
  const win::unique_handle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
  if (!file) return std::nullopt;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFFFFFF) return std::nullopt;
  std::string text(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD done = 0;
  if (!::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &done, nullptr)) return std::nullopt;
  text.resize(done);
  return text;
}

}  // namespace vyn::testing_support
