// Stand-in of a launching stub: starts the installer stub it is given, with the rest of its own
// command line as the stub's arguments, waits for it and exits with its exit code. See README.md.
#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "stand_in.h"

namespace {

using namespace vyn::stand_in;

// The first token of text (quoted or not) and what follows it, without the blanks in between.
std::pair<std::wstring, std::wstring_view> split_first(std::wstring_view text) {
  text.remove_prefix(std::min(text.find_first_not_of(L" \t"), text.size()));
  std::wstring token;
  std::size_t end = 0;
  if (!text.empty() && text.front() == L'"') {
    end = text.find(L'"', 1);
    token = std::wstring(text.substr(1, end == std::wstring_view::npos ? std::wstring_view::npos : end - 1));
    end = end == std::wstring_view::npos ? text.size() : end + 1;
  } else {
    end = std::min(text.find_first_of(L" \t"), text.size());
    token = std::wstring(text.substr(0, end));
  }
  std::wstring_view rest = text.substr(end);
  rest.remove_prefix(std::min(rest.find_first_not_of(L" \t"), rest.size()));
  return {token, rest};
}

DWORD run() {
  const auto [own, after_own] = split_first(::GetCommandLineW());
  const auto [stub, arguments] = split_first(after_own);
  if (stub.empty()) return failure_exit_code;

  // A file the launcher keeps open without sharing while the stub runs: a copy of it must fail.
  HANDLE held = INVALID_HANDLE_VALUE;
  if (const auto hold = environment(L"VYN_TEST_LAUNCHER_HOLD"); hold && !hold->empty()) {
    held = ::CreateFileW(hold->c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return failure_exit_code;
  }
  std::wstring command = L"\"" + stub + L"\" " + std::wstring(arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  DWORD exit_code = failure_exit_code;
  if (::CreateProcessW(stub.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::GetExitCodeProcess(process.hProcess, &exit_code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
  if (held != INVALID_HANDLE_VALUE) ::CloseHandle(held);
  return exit_code;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { ::ExitProcess(run()); }
