#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "foundation/log_test_folder.h"

namespace vyn::log {
namespace {

using testing::log_lines;
using testing::read_file;

std::wstring writer_path() {
  wchar_t self[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, length);
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"log_test_writer.exe";
}

// Starts one writer per tag at once, each appending count lines to the log, and returns their
// exit codes once all have ended.
std::vector<DWORD> run_writers(const std::wstring& log, const std::vector<std::wstring>& tags,
                               unsigned count, std::uint64_t max_size) {
  std::vector<win::unique_handle> processes;
  for (const std::wstring& tag : tags) {
    std::wstring command = L"\"" + writer_path() + L"\" \"" + log + L"\" " + tag + L" " +
                           std::to_wstring(count) + L" " + std::to_wstring(max_size);
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &started)) {
      ADD_FAILURE() << "CreateProcessW failed: " << ::GetLastError();
      continue;
    }
    ::CloseHandle(started.hThread);
    processes.emplace_back(started.hProcess);
  }
  std::vector<DWORD> codes;
  for (const win::unique_handle& process : processes) {
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    codes.push_back(code);
  }
  return codes;
}

struct log_content {
  bool has_bom = false;
  std::map<std::string, std::vector<unsigned>> numbers;  // per tag, in file order
  unsigned separators = 0;
  unsigned module_ends = 0;
  std::vector<std::string> malformed;
};

log_content parse(const std::wstring& path) {
  static const std::regex format(
      R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[info   \] \[isfx {7}\] \[ *\d+: *\d+\] )"
      R"(\[[0-9A-F]{6}: *\d+\] (.*))");
  static const std::regex numbered(R"(([a-z]) (\d+))");
  log_content content;
  const std::string bytes = read_file(path);
  content.has_bom = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
  for (const std::string& line : log_lines(bytes)) {
    std::smatch match, number;
    if (line == std::string(117, '=')) {
      ++content.separators;
    } else if (!std::regex_match(line, match, format)) {
      content.malformed.push_back(line);
    } else if (const std::string message = match[1].str();
               message == "LogModule is going to be destroyed.") {
      ++content.module_ends;
    } else if (std::regex_match(message, number, numbered)) {
      content.numbers[number[1].str()].push_back(static_cast<unsigned>(std::stoul(number[2].str())));
    } else {
      content.malformed.push_back(line);
    }
  }
  return content;
}

std::vector<unsigned> sequence(unsigned count) {
  std::vector<unsigned> numbers(count);
  for (unsigned i = 0; i < count; ++i) numbers[i] = i;
  return numbers;
}

TEST(LogProcesses, TwoProcessesAppendingToOneLog_LoseNoLine) {
  constexpr unsigned count = 2000;
  testing::temp_folder folder;
  const std::wstring log = folder / L"sfx.log";
  EXPECT_THAT(run_writers(log, {L"a", L"b"}, count, 0x400000), ::testing::ElementsAre(0u, 0u));

  const log_content content = parse(log);
  EXPECT_TRUE(content.has_bom);
  EXPECT_THAT(content.malformed, ::testing::IsEmpty());
  EXPECT_EQ(content.numbers.at("a"), sequence(count));
  EXPECT_EQ(content.numbers.at("b"), sequence(count));
  EXPECT_EQ(content.separators, 2u);
  EXPECT_EQ(content.module_ends, 2u);
  EXPECT_THAT(folder.names(), ::testing::ElementsAre(L"sfx.log"));
}

TEST(LogProcesses, TwoProcessesRotatingOneLog_LeaveWholeOrderedLinesAndNoStrayFiles) {
  constexpr unsigned count = 1000;
  testing::temp_folder folder;
  const std::wstring log = folder / L"sfx.log";
  EXPECT_THAT(run_writers(log, {L"a", L"b"}, count, 4000), ::testing::ElementsAre(0u, 0u));

  EXPECT_THAT(folder.names(), ::testing::ElementsAre(L"sfx.log", L"sfx.log.old"));
  for (const wchar_t* name : {L"sfx.log", L"sfx.log.old"}) {
    SCOPED_TRACE(utils::to_log(name));
    const log_content content = parse(folder / name);
    EXPECT_TRUE(content.has_bom);
    EXPECT_THAT(content.malformed, ::testing::IsEmpty());
    for (const auto& [tag, numbers] : content.numbers) {
      EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end())) << tag;
      EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end()), numbers.end()) << tag;
    }
  }
}

}  // namespace
}  // namespace vyn::log
