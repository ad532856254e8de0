#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "foundation/exceptions.h"
#include "foundation/log_file.h"
#include "foundation/log_test_folder.h"
#include "foundation/logger.h"

namespace vyn::log {
namespace {

using detail::LogModule;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using testing::log_lines;
using testing::read_file;
using testing::write_file;

constexpr char bom[] = "\xEF\xBB\xBF";
constexpr source_location here = detail::make_location("isfx", __FILE__, 7);

// The message of a log line, or "<malformed>" when the line does not have the log format.
std::string message_of(const std::string& line) {
  static const std::regex format(
      R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[[a-z ]{7}\] \[isfx {7}\] \[ *\d+: *\d+\] )"
      R"(\[[0-9A-F]{6}: *\d+\] (.*))");
  std::smatch match;
  return std::regex_match(line, match, format) ? match[1].str() : "<malformed>";
}

std::vector<std::string> messages_in(const std::wstring& path) {
  std::vector<std::string> out;
  for (const std::string& line : log_lines(read_file(path))) out.push_back(message_of(line));
  return out;
}

class LogFileTest : public ::testing::Test {
 protected:
  LogFileTest() { logger().set_debugger_threshold(threshold_off); }

  ILogger& logger() { return module_->logger(); }

  bool open(const std::wstring& name, std::uint64_t max_size = default_max_file_size) {
    return logger().open_file(folder_ / name, max_size, 0);
  }

  void log(const std::string& message) { logger().log(level::info, here, message); }

  testing::temp_folder folder_;
  std::unique_ptr<LogModule> module_ = std::make_unique<LogModule>();
};

TEST_F(LogFileTest, WrittenLine_HasTheLogFormatWithUtcTimeAndIds) {
  ASSERT_TRUE(open(L"sfx.log"));
  SYSTEMTIME before{}, after{};
  ::GetSystemTime(&before);
  const source_location where = detail::make_location("isfx", __FILE__, __LINE__);
  logger().log(level::warning, where, "Text with {braces} and \xC3\xA9");
  ::GetSystemTime(&after);

  const std::string bytes = read_file(folder_ / L"sfx.log");
  ASSERT_EQ(bytes.substr(0, 3), bom);
  ASSERT_THAT(bytes, EndsWith("\r\n"));
  const std::vector<std::string> lines = log_lines(bytes);
  ASSERT_EQ(lines.size(), 1u);
  const std::regex format(
      R"(\[(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\.(\d{3})\] \[warning\] \[isfx {7}\] )"
      R"(\[( *\d+):( *\d+)\] \[([0-9A-F]{6}):( *\d+)\] (.*))");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[0], match, format)) << lines[0];
  const auto number = [&](int i) { return std::stoul(match[i].str()); };
  const auto stamp = [](const SYSTEMTIME& t) {
    return std::make_tuple(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                           t.wMilliseconds);
  };
  const auto logged = std::make_tuple(number(1), number(2), number(3), number(4), number(5),
                                      number(6), number(7));
  EXPECT_LE(stamp(before), logged);
  EXPECT_LE(logged, stamp(after));
  EXPECT_EQ(match[8].length(), 5);
  EXPECT_EQ(match[9].length(), 5);
  EXPECT_EQ(number(8), ::GetCurrentProcessId());
  EXPECT_EQ(number(9), ::GetCurrentThreadId());
  EXPECT_EQ(match[10].str(), std::string(where.file_id, 6));
  EXPECT_EQ(number(11), where.line);
  EXPECT_EQ(match[12].str(), "Text with {braces} and \xC3\xA9");
  EXPECT_EQ(logger().file_path(), folder_ / L"sfx.log");
}

TEST_F(LogFileTest, SizeCheck_RotatesOnlyAFileThatReachedTheLimit) {
  constexpr std::uint64_t limit = 200;
  for (const std::uint64_t size : {limit - 1, limit, limit + 50}) {
    SCOPED_TRACE(size);
    testing::temp_folder folder;
    const std::string previous = std::string(bom) + std::string(size - 5, 'x') + "\r\n";
    write_file(folder / L"sfx.log", previous);
    LogModule module;
    module.logger().set_debugger_threshold(threshold_off);
    ASSERT_TRUE(module.logger().open_file(folder / L"sfx.log", limit, 0));
    module.logger().log(level::info, here, "next");
    if (size < limit) {
      EXPECT_EQ(read_file(folder / L"sfx.log").substr(0, previous.size()), previous);
      EXPECT_THAT(folder.names(), ElementsAre(L"sfx.log"));
    } else {
      EXPECT_EQ(read_file(folder / L"sfx.log.old"), previous);
      EXPECT_THAT(messages_in(folder / L"sfx.log"), ElementsAre("next"));
      EXPECT_THAT(folder.names(), ElementsAre(L"sfx.log", L"sfx.log.old"));
    }
  }
}

TEST_F(LogFileTest, GrowingLog_KeepsOneOldGenerationAndNoOtherFiles) {
  ASSERT_TRUE(open(L"sfx.log", 300));
  for (int i = 0; i < 20; ++i) log("line " + std::to_string(i));
  EXPECT_THAT(folder_.names(), ElementsAre(L"sfx.log", L"sfx.log.old"));
  const std::vector<std::string> old = messages_in(folder_ / L"sfx.log.old");
  const std::vector<std::string> current = messages_in(folder_ / L"sfx.log");
  ASSERT_FALSE(old.empty());
  ASSERT_FALSE(current.empty());
  EXPECT_EQ(current.back(), "line 19");
  EXPECT_EQ(old.back(), "line " + std::to_string(19 - current.size()));  // no line lost between
  EXPECT_EQ(read_file(folder_ / L"sfx.log.old").substr(0, 3), bom);
}

TEST_F(LogFileTest, ExistingLogWithoutBom_MovesToOldAndANewFileStarts) {
  for (const std::string previous : {"written by something else\r\n", "", "\xEF\xBB"}) {
    SCOPED_TRACE(previous);
    testing::temp_folder folder;
    write_file(folder / L"sfx.log", previous);
    write_file(folder / L"sfx.log.old", "older generation");
    LogModule module;
    module.logger().set_debugger_threshold(threshold_off);
    ASSERT_TRUE(module.logger().open_file(folder / L"sfx.log", default_max_file_size, 0));
    module.logger().log(level::info, here, "first");
    EXPECT_EQ(read_file(folder / L"sfx.log.old"), previous);
    EXPECT_EQ(read_file(folder / L"sfx.log").substr(0, 3), bom);
    EXPECT_THAT(messages_in(folder / L"sfx.log"), ElementsAre("first"));
    EXPECT_THAT(folder.names(), ElementsAre(L"sfx.log", L"sfx.log.old"));
  }
}

TEST_F(LogFileTest, NameNotEndingInLog_IsNeverRotated) {
  ASSERT_TRUE(open(L"trace.txt", 10));
  for (int i = 0; i < 5; ++i) log("line " + std::to_string(i));
  EXPECT_THAT(messages_in(folder_ / L"trace.txt"),
              ElementsAre("line 0", "line 1", "line 2", "line 3", "line 4"));
  EXPECT_THAT(folder_.names(), ElementsAre(L"trace.txt"));
}

TEST_F(LogFileTest, NameNotEndingInLogWithoutBom_IsRefusedAndLeftAlone) {
  write_file(folder_ / L"trace.txt", "foreign");
  EXPECT_FALSE(open(L"trace.txt"));
  EXPECT_EQ(logger().file_path(), L"");
  EXPECT_FALSE(logger().is_enabled(level::fatal));
  log("goes nowhere");
  EXPECT_EQ(read_file(folder_ / L"trace.txt"), "foreign");
}

TEST_F(LogFileTest, MissingFolders_AreCreated) {
  ASSERT_TRUE(open(L"Data\\Logs\\sfx.log"));
  log("first");
  EXPECT_THAT(messages_in(folder_ / L"Data\\Logs\\sfx.log"), ElementsAre("first"));
}

TEST_F(LogFileTest, OpenFailures_LeaveTheSinkClosed) {
  ::CreateDirectoryW((folder_ / L"folder.log").c_str(), nullptr);
  write_file(folder_ / L"file.log", std::string(bom));
  for (const wchar_t* name : {L"folder.log", L"file.log\\below.log"}) {
    SCOPED_TRACE(utils::to_log(name));
    EXPECT_FALSE(open(name));
    EXPECT_EQ(logger().file_path(), L"");
  }
  EXPECT_THAT(folder_.names(), ElementsAre(L"file.log", L"folder.log"));
}

TEST_F(LogFileTest, HardLinkedLog_FailsWith1609AndStaysUntouched) {
  write_file(folder_ / L"linked.log", std::string(bom) + "shared\r\n");
  ASSERT_TRUE(::CreateHardLinkW((folder_ / L"other.log").c_str(), (folder_ / L"linked.log").c_str(),
                                nullptr));
  try {
    detail::open_log_file(folder_ / L"linked.log", false);
    ADD_FAILURE() << "opened a file with two links";
  } catch (const exceptions::error& e) {
    EXPECT_EQ(e.code(), 1609u);
    EXPECT_THAT(e.what(), ::testing::HasSubstr("Failed to open log file '"));
  }
  EXPECT_FALSE(open(L"linked.log"));
  EXPECT_EQ(read_file(folder_ / L"linked.log"), std::string(bom) + "shared\r\n");
}

TEST_F(LogFileTest, ReopenAfterRotationWithoutBom_Fails) {
  write_file(folder_ / L"sfx.log", "no mark");
  try {
    detail::open_log_file(folder_ / L"sfx.log", true);
    ADD_FAILURE() << "opened a file without BOM";
  } catch (const exceptions::error& e) {
    EXPECT_EQ(e.what(), "BOM not present in '" + utils::to_narrow(folder_ / L"sfx.log") + "'");
  }
}

TEST_F(LogFileTest, SecondWriter_KeepsItsFileUntilThatOneIsFull) {
  // Two loggers on one file act as two processes: the first rotates at 250 bytes, the second at
  // 10000, so the second keeps appending to the rotated file, which is not full for it.
  ASSERT_TRUE(open(L"sfx.log", 250));
  LogModule second;
  second.logger().set_debugger_threshold(threshold_off);
  ASSERT_TRUE(second.logger().open_file(folder_ / L"sfx.log", 10000, 0));
  for (int i = 0; i < 4; ++i) log("first " + std::to_string(i));
  second.logger().log(level::info, here, "second 0");
  EXPECT_THAT(messages_in(folder_ / L"sfx.log"), ElementsAre("first 3"));
  EXPECT_THAT(messages_in(folder_ / L"sfx.log.old"),
              ElementsAre("first 0", "first 1", "first 2", "second 0"));

  // Once the renamed file is full for the second writer too, it moves to the live log.
  for (int i = 1; i < 120; ++i) second.logger().log(level::info, here, "second " + std::to_string(i));
  EXPECT_EQ(message_of(log_lines(read_file(folder_ / L"sfx.log")).back()), "second 119");
  EXPECT_EQ(message_of(log_lines(read_file(folder_ / L"sfx.log")).front()), "first 3");
}

TEST_F(LogFileTest, RotationWithOldGenerationHeldOpen_StillMovesTheLogAway) {
  write_file(folder_ / L"sfx.log.old", std::string(bom) + "old generation\r\n");
  const win::unique_handle reader(::CreateFileW(
      (folder_ / L"sfx.log.old").c_str(), GENERIC_READ,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(reader);
  ASSERT_TRUE(open(L"sfx.log", 100));
  log(std::string(120, 'a'));
  log("after rotation");
  EXPECT_THAT(messages_in(folder_ / L"sfx.log"), ElementsAre("after rotation"));
  EXPECT_THAT(messages_in(folder_ / L"sfx.log.old"), ElementsAre(std::string(120, 'a')));
  const std::vector<std::wstring> names = folder_.names();
  for (const std::wstring& name : names) {
    EXPECT_EQ(name.find(L".to_rotate."), std::wstring::npos) << utils::to_log(name);
  }
}

TEST_F(LogFileTest, ModuleDestruction_WritesSeparatorThenItsLastLine) {
  ASSERT_TRUE(open(L"sfx.log"));
  log("last event");
  module_.reset();
  const std::vector<std::string> lines = log_lines(read_file(folder_ / L"sfx.log"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(message_of(lines[0]), "last event");
  EXPECT_EQ(lines[1], std::string(117, '='));
  EXPECT_EQ(message_of(lines[2]), "LogModule is going to be destroyed.");
}

TEST_F(LogFileTest, FlushThresholdAndFileThreshold_FilterByLevel) {
  ASSERT_TRUE(open(L"sfx.log"));
  EXPECT_EQ(logger().set_flush_threshold(static_cast<std::uint32_t>(level::error)), threshold_off);
  EXPECT_EQ(logger().set_file_threshold(static_cast<std::uint32_t>(level::warning)), 0u);
  logger().log(level::info, here, "dropped");
  logger().log(level::error, here, "kept and flushed");
  EXPECT_EQ(logger().set_file_threshold(threshold_off), 5u);
  logger().log(level::fatal, here, "silenced");
  EXPECT_THAT(messages_in(folder_ / L"sfx.log"), ElementsAre("kept and flushed"));
}

}  // namespace
}  // namespace vyn::log
