// Stand-in of the setup master: records what the installer handed it and exits with the code the
// test asks for, optionally leaving a crash reporter running behind it. See README.md.
#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/file_digest.h"
#include "foundation/files.h"
#include "foundation/sha256.h"
#include "stand_in.h"

namespace {

using namespace vyn::stand_in;

std::vector<std::wstring> arguments() {
  int count = 0;
  LPWSTR* list = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!list) throw std::runtime_error("CommandLineToArgvW failed");
  std::vector<std::wstring> result(list, list + count);
  ::LocalFree(list);
  return result;
}

// Everything the installer wrote to the standard input, until it closed it.
std::string read_input() {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) throw std::runtime_error("no standard input");
  std::string text;
  char chunk[4096];
  DWORD read = 0;
  while (::ReadFile(input, chunk, sizeof(chunk), &read, nullptr) && read > 0) text.append(chunk, read);
  return text;
}

bool is_switch(std::wstring_view argument, std::wstring_view name, std::wstring_view& value, bool& has_value) {
  if (argument.starts_with(L"--")) {
    argument.remove_prefix(2);
  } else if (argument.starts_with(L'/')) {
    argument.remove_prefix(1);
  } else {
    return false;
  }
  const std::size_t separator = argument.find_first_of(L":=");
  const std::wstring_view found = argument.substr(0, separator);
  if (found.size() != name.size() ||
      ::CompareStringOrdinal(found.data(), static_cast<int>(found.size()), name.data(), static_cast<int>(name.size()), TRUE) != CSTR_EQUAL) {
    return false;
  }
  has_value = separator != std::wstring_view::npos;
  value = has_value ? argument.substr(separator + 1) : std::wstring_view();
  return true;
}

// The value of "kestro-info-path", written "/kestro-info-path:V" or as the next argument.
std::optional<std::wstring> info_path(const std::vector<std::wstring>& args) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::wstring_view value;
    bool has_value = false;
    if (!is_switch(args[i], L"kestro-info-path", value, has_value)) continue;
    if (has_value) return std::wstring(value);
    if (i + 1 < args.size()) return args[i + 1];
    return std::wstring();
  }
  return std::nullopt;
}

// The file's SHA-256 in hexadecimal, or "unreadable" for a file another program holds open.
std::string file_digest(const std::wstring& path) {
  try {
    vyn::root::sha256 hash;
    return vyn::root::digest_of_file(hash, path).hex();
  } catch (const std::exception&) {
    return "unreadable";
  }
}

// "<sha256>  <path>" lines (sha256sum's form), paths relative to the parent of the own folder,
// files only, sorted.
std::string file_list(const std::wstring& folder) {
  const std::size_t slash = folder.find_last_of(L'\\');
  const bool has_parent = slash != std::wstring::npos && slash > 2;
  const std::wstring parent = has_parent ? folder.substr(0, slash) : folder;
  const std::wstring own_prefix = has_parent ? folder.substr(slash + 1) + L"\\" : L"";
  std::vector<std::string> lines;
  const auto list = [&](const std::wstring& where, const std::wstring& prefix) {
    vyn::files::enumerate_directory(where, [&](const vyn::files::directory_entry& entry) {
      if (entry.is_directory) return true;
      lines.push_back(file_digest(where + L"\\" + entry.name) + "  " + utf8(prefix + entry.name) + "\n");
      return true;
    });
  };
  list(folder, own_prefix);
  if (has_parent) list(parent, L"");
  std::sort(lines.begin(), lines.end());
  std::string text;
  for (const std::string& line : lines) text += line;
  return text;
}

void write(const std::wstring& path, std::string_view text) {
  if (!write_text(path, text)) throw std::runtime_error("cannot write " + utf8(path));
}

void write_record(const std::wstring& record) {
  if (!make_folders(record)) throw std::runtime_error("cannot create the record folder " + utf8(record));
  const std::vector<std::wstring> args = arguments();
  write(record + L"\\command-line.txt", utf8(::GetCommandLineW()));
  std::string listed;
  for (std::size_t i = 1; i < args.size(); ++i) listed += utf8(args[i]) + "\n";
  write(record + L"\\arguments.txt", listed);
  if (const auto info = info_path(args)) {
    write(record + L"\\kestro-info-path.txt", utf8(*info));
    if (vyn::files::file_exists(*info) && !::CopyFileW(info->c_str(), (record + L"\\kestro-info.xml").c_str(), FALSE)) {
      throw std::runtime_error("cannot copy " + utf8(*info));
    }
  }
  write(record + L"\\files.txt", file_list(own_folder()));
  if (const auto read = environment(L"VYN_TEST_READ_INPUT"); read && !read->empty()) {
    write(record + L"\\stdin.txt", read_input());
  }
}

void start_bug_report() {
  const std::wstring exe = own_folder() + L"\\bug_report.exe";
  std::wstring command = L"\"" + exe + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    throw std::runtime_error("cannot start " + utf8(exe) + ", error " + std::to_string(::GetLastError()));
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
}

// Stays while a test looks at what the installer shows during the setup, until the test creates
// the file; two minutes at most.
void wait_for_file(const std::wstring& path) {
  for (int waited_ms = 0; waited_ms < 120000; waited_ms += 50) {
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return;
    ::Sleep(50);
  }
  throw std::runtime_error("nobody created " + utf8(path) + " within two minutes");
}

DWORD run() {
  DWORD exit_code = 0;
  if (const auto text = environment(L"VYN_TEST_EXIT_CODE")) {
    const auto parsed = parse_number(*text);
    if (!parsed) throw std::runtime_error("VYN_TEST_EXIT_CODE is not a number: " + utf8(*text));
    exit_code = *parsed;
  }
  if (const auto record = environment(L"VYN_TEST_RECORD_DIR"); record && !record->empty()) write_record(*record);
  if (const auto start = environment(L"VYN_TEST_START_BUG_REPORT"); start && !start->empty()) start_bug_report();
  if (const auto release = environment(L"VYN_TEST_WAIT_FOR_FILE"); release && !release->empty()) {
    wait_for_file(*release);
  }
  return exit_code;
}

// The moment it started, for bench/startup: the system time in 100-ns units since 1601.
void write_start_time() {
  FILETIME now{};
  ::GetSystemTimePreciseAsFileTime(&now);
  const auto ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  if (const auto path = environment(L"VYN_TEST_STARTED_FILE"); path && !path->empty()) {
    write_text(*path, std::to_string(ticks));
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  write_start_time();
  DWORD exit_code = failure_exit_code;
  try {
    exit_code = run();
  } catch (const std::exception& e) {
    if (const auto record = environment(L"VYN_TEST_RECORD_DIR"); record && make_folders(*record)) {
      write_text(*record + L"\\kestro-error.txt", e.what());
    }
  }
  ::ExitProcess(exit_code);
}
