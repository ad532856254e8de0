#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "foundation/exceptions.h"
#include "foundation/logger.h"

namespace vyn::log {
namespace {

using detail::LogModule;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;

constexpr source_location here = detail::make_location("isfx", __FILE__, 1);

// A private module whose logger keeps every event in its history and writes nothing to the
// debugger, so that tests see exactly what they log.
class LoggerTest : public ::testing::Test {
 protected:
  LoggerTest() {
    logger().set_debugger_threshold(threshold_off);
    logger().set_history(0, static_cast<std::size_t>(-1));
  }

  ILogger& logger() { return module_->logger(); }

  std::vector<std::string> messages() {
    std::vector<std::string> out;
    for (const event& e : logger().history()) out.push_back(e.message);
    return out;
  }

  // Everything written to a stream sink while the action runs.
  std::string stream_output(std::uint32_t threshold, const std::function<void()>& action) {
    std::FILE* stream = std::tmpfile();
    EXPECT_NE(stream, nullptr);
    logger().set_stream(stream, threshold);
    action();
    logger().set_stream(nullptr, threshold_off);
    std::rewind(stream);
    std::string text;
    for (int c; (c = std::fgetc(stream)) != EOF;) text += static_cast<char>(c);
    std::fclose(stream);
    return text;
  }

  std::unique_ptr<LogModule> module_ = std::make_unique<LogModule>();
};

TEST_F(LoggerTest, ThresholdAboveNine_FailsWith87AndKeepsTheOldValue) {
  const std::vector<std::function<std::uint32_t(std::uint32_t)>> setters = {
      [&](std::uint32_t t) { return logger().set_debugger_threshold(t); },
      [&](std::uint32_t t) { return logger().set_file_threshold(t); },
      [&](std::uint32_t t) { return logger().set_flush_threshold(t); },
      [&](std::uint32_t t) { return logger().set_stream(nullptr, t).threshold; },
      [&](std::uint32_t t) { return logger().set_history(t, 10).threshold; },
  };
  for (std::size_t i = 0; i < setters.size(); ++i) {
    SCOPED_TRACE(i);
    setters[i](4);
    for (const std::uint32_t bad : {10u, 0xFFFFFFFFu}) {
      try {
        setters[i](bad);
        ADD_FAILURE() << "accepted threshold " << bad;
      } catch (const exceptions::error& e) {
        EXPECT_EQ(e.code(), 87u);
      }
    }
    EXPECT_EQ(setters[i](9), 4u);  // the previous value
    EXPECT_EQ(setters[i](2), 9u);
  }
  EXPECT_EQ(logger().file_threshold(), 2u);
}

TEST_F(LoggerTest, OpenFileWithBadThreshold_FailsWith87) {
  try {
    logger().open_file(L"x.log", default_max_file_size, 10);
    ADD_FAILURE() << "accepted threshold 10";
  } catch (const exceptions::error& e) {
    EXPECT_EQ(e.code(), 87u);
  }
}

TEST_F(LoggerTest, StreamSink_TakesLevelsFromItsThresholdAndNineSilencesIt) {
  const auto log_all_levels = [&] {
    for (std::uint32_t ordinal = 0; ordinal <= 8; ++ordinal) {
      logger().log(static_cast<level>(ordinal), here, "event " + std::to_string(ordinal));
    }
  };
  const std::string from_error = stream_output(7, log_all_levels);
  EXPECT_THAT(from_error, HasSubstr("[error  ] [isfx       ]"));
  EXPECT_THAT(from_error, EndsWith("event 8\n"));
  EXPECT_EQ(std::count(from_error.begin(), from_error.end(), '\n'), 2);
  EXPECT_EQ(stream_output(threshold_off, log_all_levels), "");
  EXPECT_EQ(messages().size(), 18u);  // the history took them all
}

TEST_F(LoggerTest, IsEnabled_FollowsTheSinksThatAreOn) {
  logger().set_history(threshold_off, 10);
  EXPECT_FALSE(logger().is_enabled(level::fatal));  // no file, no stream, nothing else on
  logger().set_history(static_cast<std::uint32_t>(level::warning), 10);
  EXPECT_TRUE(logger().is_enabled(level::warning));
  EXPECT_FALSE(logger().is_enabled(level::info));
  logger().set_stream(stdout, 0);
  EXPECT_TRUE(logger().is_enabled(level::debug));
  logger().set_stream(nullptr, 0);
  logger().set_file_threshold(0);  // no file is open
  EXPECT_FALSE(logger().is_enabled(level::debug));
  logger().set_debugger_threshold(0);
  EXPECT_TRUE(logger().is_enabled(level::debug));
}

TEST_F(LoggerTest, History_KeepsTheNewestEventsUpToItsCapacity) {
  logger().set_history(static_cast<std::uint32_t>(level::info), 3);
  logger().log(level::debug, here, "below threshold");
  for (int i = 1; i <= 5; ++i) logger().log(level::info, here, "event " + std::to_string(i));
  EXPECT_THAT(messages(), ElementsAre("event 3", "event 4", "event 5"));

  const history_settings previous = logger().set_history(0, 1);
  EXPECT_EQ(previous.threshold, 2u);
  EXPECT_EQ(previous.capacity, 3u);
  EXPECT_THAT(messages(), ElementsAre("event 5"));  // a smaller capacity drops the oldest now

  logger().set_history(0, 0);
  logger().log(level::fatal, here, "not kept");
  EXPECT_TRUE(messages().empty());
}

TEST_F(LoggerTest, History_RecordsTheEventFields) {
  logger().log(level::notice, here, std::wstring_view(L"wide \u00e9"));
  const std::list<event> events = logger().history();
  ASSERT_EQ(events.size(), 1u);
  const event& e = events.front();
  EXPECT_EQ(e.lvl, level::notice);
  EXPECT_STREQ(e.where.module, "isfx");
  EXPECT_EQ(e.message, "wide \xC3\xA9");
  EXPECT_EQ(e.process_id, detail::current_process_id());
  EXPECT_EQ(e.thread_id, detail::current_thread_id());
  EXPECT_NE(e.time, 0u);
}

TEST_F(LoggerTest, ThreadContext_PrefixesThatThreadsMessagesOnly) {
  {
    const scoped_context context("prepare:download");
    logger().log(level::info, here, "with context");
    std::thread([&] { logger().log(level::info, here, "other thread"); }).join();
    {
      const scoped_context inner("prepare:unpack");
      logger().log(level::info, here, "inner");
    }
    logger().log(level::info, here, "restored");
  }
  logger().log(level::info, here, "without context");
  EXPECT_THAT(messages(), ElementsAre("{prepare:download} with context", "other thread",
                                      "{prepare:unpack} inner", "{prepare:download} restored",
                                      "without context"));
}

TEST_F(LoggerTest, ModuleDestruction_LogsAndReportsReferencesStillHeld) {
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  {
    const logger_ref released(&logger());
    EXPECT_EQ(logger().references(), 1u);
  }
  logger().set_stream(stream, 0);
  logger().add_ref();  // never released: the module is destroyed while still referenced
  module_.reset();
  std::rewind(stream);
  char line[512];
  std::vector<std::string> lines;
  while (std::fgets(line, sizeof(line), stream)) lines.emplace_back(line);
  std::fclose(stream);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_THAT(lines[0], EndsWith("] LogModule is going to be destroyed.\n"));
  EXPECT_THAT(lines[1], HasSubstr("[warning]"));
  EXPECT_THAT(lines[1], EndsWith("] Module being destroyed is still held somewhere else\n"));
}

TEST(ProcessLogger, Macros_ReachTheProcessLoggerWithTheCallSite) {
  const logger_ref logger = acquire_logger();
  ASSERT_TRUE(logger);
  EXPECT_GE(logger->references(), 1u);
  const history_settings previous = logger->set_history(0, 10);
  const int line = __LINE__ + 1;
  VYN_LOG_INFO("value {} of {}", 3, "x");
  VYN_LOG_EXC(level::error, exceptions::error(87u, "bad"), "Fail on step {}.", 2);
  const std::list<event> events = logger->history();
  logger->set_history(previous.threshold, previous.capacity);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events.front().message, "value 3 of x");
  EXPECT_EQ(events.front().where.line, static_cast<std::uint32_t>(line));
  EXPECT_STREQ(events.front().where.file_id,
               detail::make_location("isfx", "log_logger_test.cpp", 0).file_id);
  EXPECT_EQ(events.back().lvl, level::error);
  EXPECT_THAT(events.back().message, ::testing::StartsWith("Fail on step 2. Exception: bad\nCode: 0x00000057 ("));
  EXPECT_TRUE(enabled(level::debug));  // the debugger output takes everything by default
}

}  // namespace
}  // namespace vyn::log
