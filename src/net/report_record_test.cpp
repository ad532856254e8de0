#include "net/report_record.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "net/json_members_testing.h"

namespace vyn::sfx::report {
namespace {

using testing::json_record_paths;
using testing::json_value;

report_facts sample_facts() {
  report_facts facts;
  facts.request_id = "0e243682-33ca-4e24-b04e-3023eca8c6f9";
  facts.event_time = 1796800215387;
  facts.installation_time = 1796800215398;
  facts.sfx_version = "1.0.0.1";
  facts.memory_mib = 8192;
  facts.processors = 4;
  facts.workstation = true;
  facts.hdd_available_mib = 1024;
  facts.hwid = std::wstring(64, L'A');
  facts.fingerprint = std::wstring(32, L'B');
  facts.endpoint_id = L"27158230-dcdc-4aab-b687-23420fd6c4de";
  facts.architecture = "X64";
  facts.major = 10;
  facts.minor = 0;
  facts.build = 19045;
  facts.lang = "en-US";
  facts.time_zone = -60;
  return facts;
}

TEST(ReportEscape, EachKindOfByte) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain text", "plain text"},
      {"say \"hi\"", "say \\\"hi\\\""},
      {"a\\b", "a\\\\b"},
      {"line\nnext", "line|next"},
      {"crlf\r\nend", "crlf|end"},
      {std::string("\b\t\f"), "\\b\\t\\f"},
      {std::string("x\x01y"), "x\\u0001y"},
      {std::string("\x1f"), "\\u001f"},
      {std::string(1, '\0'), "\\u0000"},
      {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"},
      {"/slash/", "/slash/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(json_escape(c.in), c.out);
  }
}

TEST(ReportRecord, MembersInOrder_FinishStateOnlyWithReturnCodeHddOnlyWithDiskPath) {
  const struct {
    const char* ret_code;
    const wchar_t* disk_path;
  } cases[] = {{"", L""}, {"0", L""}, {"", L"C:\\tmp"}, {"1223", L"D:\\x\\y"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.ret_code) + " " + std::to_string(std::wstring(c.disk_path).size()));
    report_values values;
    values.ret_code = c.ret_code;
    values.disk_path = c.disk_path;
    const std::string record = build_record(values, sample_facts(), "sfx-start");
    EXPECT_EQ(record.find_first_of(" \n\r\t"), std::string::npos) << record;
    const bool finish = !values.ret_code.empty();
    const bool hdd = !values.disk_path.empty();
    EXPECT_EQ(json_record_paths(record), testing::expected_record_paths(finish, hdd)) << record;
    if (finish) {
      EXPECT_EQ(json_value(record, "record[].setup.finish_state.ret_code"), c.ret_code);
      EXPECT_EQ(json_value(record, "record[].setup.finish_state.reboot"), "0");
    }
    if (!hdd) {
      EXPECT_NE(record.find("\"workstation\":true}},\"identity\""), std::string::npos) << record;
    }
  }
}

TEST(ReportRecord, FixedAndGivenValues_AppearWhereTheyBelong) {
  report_values values;
  values.edition = true;
  values.aiid = L"aiid-1";
  values.session_id = L"s-1";
  values.title = L"Demo \"quoted\"\nproduct";
  values.cmdline = L"C:\\x.exe /silent";
  values.trigger = L"12-C:\\parent.exe";
  values.disk_path = L"C:\\tmp";
  values.ret_code = "44080";
  values.reboot = "1";
  values.crash_msg = "it\x01 broke";
  add_main_product(values.main_products, L"demo", L"release", false);
  const std::string record = build_record(values, sample_facts(), std::string("sfx-\x01" "finish"));
  const struct {
    const char* path;
    const char* value;
  } expected[] = {
      {"record[].event.type", "25"},
      {"record[].event.subtype", "1"},
      {"record[].event.request_id", "0e243682-33ca-4e24-b04e-3023eca8c6f9"},
      {"record[].event.time", "1796800215387"},
      {"record[].setup.common.operation", "install"},
      {"record[].setup.common.session_id", "s-1"},
      {"record[].setup.common.stage", "sfx-\x01" "finish"},
      {"record[].setup.common.title", "Demo \"quoted\"|product"},
      {"record[].setup.finish_state.reboot", "1"},
      {"record[].setup.finish_state.ret_code", "44080"},
      {"record[].setup.finish_state.crash_msg", "it\x01 broke"},
      {"record[].setup.product.name", "sfx"},
      {"record[].setup.config.main_products[].product", "demo"},
      {"record[].setup.config.main_products[].channel", "release"},
      {"record[].setup.config.sfx_ver", "1.0.0.1"},
      {"record[].setup.config.trigger", "12-C:\\parent.exe"},
      {"record[].setup.config.cmdline", "C:\\x.exe /silent"},
      {"record[].setup.system.memory", "8192"},
      {"record[].setup.system.processors", "4"},
      {"record[].setup.system.hdd.available", "1024"},
      {"record[].identity.endpoint_id", "27158230-dcdc-4aab-b687-23420fd6c4de"},
      {"record[].installation.action", "INSTALL"},
      {"record[].installation.aiid", "aiid-1"},
      {"record[].installation.time", "1796800215398"},
      {"record[].platform.architecture", "X64"},
      {"record[].platform.os", "WINDOWS"},
      {"record[].platform.version", "10.0"},
      {"record[].platform.build", "19045"},
      {"record[].platform.lang", "en-US"},
      {"record[].platform.time_zone", "-60"},
      {"record[].product.edition", "2"},
      {"record[].product.id", "9999"},
      {"record[].product.version_app", "1.0.0.1"},
  };
  for (const auto& e : expected) EXPECT_EQ(json_value(record, e.path), e.value) << e.path;
  // The escapes exactly as sent.
  EXPECT_NE(record.find("\"stage\":\"sfx-\\u0001finish\""), std::string::npos) << record;
  EXPECT_NE(record.find("\"title\":\"Demo \\\"quoted\\\"|product\""), std::string::npos) << record;
  EXPECT_NE(record.find("\"workstation\":true,\"hdd\""), std::string::npos) << record;
}

TEST(ReportRecord, MainProducts_JoinWithACommaAndResetStartsAgain) {
  std::string list;
  add_main_product(list, L"a", L"", false);
  add_main_product(list, L"b", L"beta", false);
  EXPECT_EQ(list, "{\"product\":\"a\",\"channel\":\"\"},{\"product\":\"b\",\"channel\":\"beta\"}");
  add_main_product(list, L"c", L"x\"y", true);
  EXPECT_EQ(list, "{\"product\":\"c\",\"channel\":\"x\\\"y\"}");
  report_values values;
  values.main_products = list;
  EXPECT_EQ(json_value(build_record(values, sample_facts(), "s"), "record[].setup.config.main_products[].channel"),
            "x\"y");
}

TEST(ReportRecord, VolumeRootAndLanguageTag) {
  const struct {
    const wchar_t* path;
    const wchar_t* root;
  } roots[] = {{L"C:\\tmp\\x", L"C:\\"}, {L"D:/a/b", L"D:/"}, {L"E:", L"E:\\"}, {L"\\\\server\\share", L"\\"},
               {L"relative", L"relative\\"}};
  for (const auto& r : roots) EXPECT_EQ(volume_root(r.path), r.root);
  EXPECT_EQ(language_tag(0x0409), "en-US");
  EXPECT_EQ(language_tag(0x0407), "de-DE");
  EXPECT_EQ(language_tag(0x7FFF), "en-US");
}

}  // namespace
}  // namespace vyn::sfx::report
