#include <gtest/gtest.h>

#include <stdexcept>

#include "foundation/exceptions.h"
#include "foundation/log_event.h"
#include "foundation/log_system.h"

namespace vyn::log {
namespace {

event sample_event() {
  event e;
  e.lvl = level::warning;
  e.where = detail::make_location("isfx", "dir/entry_point.cpp", 42);
  std::copy_n("0123ABCD", 9, e.where.file_id);
  e.message = "Something happened";
  e.time = 133171022450060000ull;  // 2023-01-02 03:04:05.006 UTC
  e.process_id = 7;
  e.thread_id = 1234;
  return e;
}

TEST(LogFormat, Line_PadsEveryFieldAndPrintsSixCharactersOfTheFileId) {
  EXPECT_EQ(format_line(sample_event()),
            "[2023-01-02 03:04:05.006] [warning] [isfx       ] [    7: 1234] [0123AB:  42] "
            "Something happened");
}

TEST(LogFormat, WideFieldsAndLongValues_AreNotTruncated) {
  event e = sample_event();
  e.where = detail::make_location("elevenchars", "x.cpp", 123456);
  std::copy_n("FFFFFFFF", 9, e.where.file_id);
  e.process_id = 1234567;
  e.thread_id = 0;
  e.lvl = level::info;
  EXPECT_EQ(format_line(e), "[2023-01-02 03:04:05.006] [info   ] [elevenchars] [1234567:    0] "
                            "[FFFFFF:123456] Something happened");
}

TEST(LogFormat, LevelNames_UnknownOrdinalsShowEmptyName) {
  const struct {
    std::uint32_t ordinal;
    std::string_view name;
  } cases[] = {{0, "debug"},   {1, "block"},  {2, "info"},  {3, "fnction"}, {4, "notice"},
               {5, "warning"}, {6, "thread"}, {7, "error"}, {8, "fatal"},   {9, ""},
               {0xFFFFFFFF, ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(level_name(static_cast<level>(c.ordinal)), c.name) << c.ordinal;
  }
  event e = sample_event();
  e.lvl = static_cast<level>(12);
  EXPECT_NE(format_line(e).find("] [       ] [isfx"), std::string::npos);
}

TEST(LogFormat, TimeStamps_AreUtcWithMillisecondsAndZeroPadded) {
  const struct {
    std::uint64_t file_time;
    const char* text;
  } cases[] = {
      {0, "1601-01-01 00:00:00.000"},
      {116444736000000000ull, "1970-01-01 00:00:00.000"},
      {94405824000000000ull, "1900-03-01 00:00:00.000"},
      {126227376000000000ull, "2000-12-31 12:00:00.000"},
      {133537247999999999ull, "2024-02-29 23:59:59.999"},  // sub-millisecond ticks truncate
      {0x7FFFFFFFFFFFFFFFull, "30828-09-14 02:48:05.477"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(format_time(c.file_time).value_or("none"), c.text) << c.file_time;
  }
}

TEST(LogFormat, UnconvertibleTimeStamp_GivesEmptyLine) {
  EXPECT_FALSE(format_time(0x8000000000000000ull).has_value());
  event e = sample_event();
  e.time = 0xFFFFFFFFFFFFFFFFull;
  EXPECT_EQ(format_line(e), "");
}

TEST(LogFormat, Context_IsPrintedInBracesBeforeTheMessage) {
  EXPECT_EQ(apply_context("", "message"), "message");
  EXPECT_EQ(apply_context("download:product-info", "message"), "{download:product-info} message");
  EXPECT_EQ(apply_context("a", ""), "{a} ");
}

TEST(LogFormat, RenderException_AddsCodeAndSystemTextOnlyWhenPresent) {
  const std::string text87 = detail::system_message(87);
  const std::string text5 = detail::system_message(5);
  const struct {
    std::exception_ptr exception;
    std::string expected;
  } cases[] = {
      {std::make_exception_ptr(std::runtime_error("boom")), "Exception: boom"},
      {std::make_exception_ptr(exceptions::error("boom")), "Exception: boom"},
      {std::make_exception_ptr(exceptions::error(87u, "Bad value")),
       "Exception: Bad value\nCode: 0x00000057 (" + text87 + ")"},
      {std::make_exception_ptr(exceptions::error(5u)), "Exception: Code: 0x00000005 (" + text5 + ")"},
      {std::make_exception_ptr(exceptions::fatal(0xC0000005u, "Singleton already destroyed")),
       "Exception: Singleton already destroyed\nCode: 0xc0000005 (" +
           detail::system_message(0xC0000005u) + ")"},
  };
  for (const auto& c : cases) {
    try {
      std::rethrow_exception(c.exception);
    } catch (const std::exception& e) {
      EXPECT_EQ(render_exception(e), c.expected);
    }
  }
}

#ifdef _WIN32
TEST(LogFormat, SystemMessage_HasNoLineEnd) {
  const std::string text = detail::system_message(2);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  EXPECT_NE(text.back(), '\r');
  EXPECT_EQ(detail::system_message(0x2000FFFFu), "");
}
#endif

}  // namespace
}  // namespace vyn::log
