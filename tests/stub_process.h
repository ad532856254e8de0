#pragma once
// Starts a stub the way a user or a launching program does and waits for its end.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace vyn::testing_support {

// Runs the command line (program path first) and returns the exit code. A process that does not
// end within timeout_ms is a hang (a message box waiting for an answer, for example): it is
// stopped and the test fails.
inline DWORD run_and_wait(const std::wstring& exe, std::wstring command, DWORD timeout_ms) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    ADD_FAILURE() << "CreateProcessW failed with " << ::GetLastError();
    return 0xFFFFFFFE;
  }
  ::CloseHandle(process.hThread);
  DWORD exit_code = 0xFFFFFFFE;
  if (::WaitForSingleObject(process.hProcess, timeout_ms) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.hProcess, 1);
    ADD_FAILURE() << "the stub did not end";
  } else {
    ::GetExitCodeProcess(process.hProcess, &exit_code);
  }
  ::CloseHandle(process.hProcess);
  return exit_code;
}

}  // namespace vyn::testing_support
