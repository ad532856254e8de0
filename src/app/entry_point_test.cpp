#include "app/entry_point.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "app/test_fakes.h"
#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "payload/testing/test_support.h"

namespace vyn::sfx {
namespace {

using namespace vyn::sfx::testing;
using ::testing::_;
using ::testing::NiceMock;
using ::testing::Return;
using strings = std::vector<std::string>;

struct run_record {
  std::wstring path;
  std::wstring arguments;
};

// Records what it was given into a record that outlives it (the entry sequence destroys it).
class fake_run : public sfx_process_intf {
 public:
  fake_run(run_record& record, std::uint32_t result, std::exception_ptr failure)
      : record_(record), result_(result), failure_(std::move(failure)) {}
  std::uint32_t run(const wchar_t* process_path, const wchar_t* command_line) override {
    record_.path = process_path;
    record_.arguments = command_line;
    if (failure_) std::rethrow_exception(failure_);
    return result_;
  }

 private:
  run_record& record_;
  std::uint32_t result_;
  std::exception_ptr failure_;
};

// A system and process described by its fields; the run object is a fake_run unless a test
// hands over a real one.
class fake_host : public entry_host {
 public:
  std::wstring process_command_line() override { return command_line; }
  std::wstring path = L"C:\\dl\\stub.exe";
  std::wstring special;
  std::wstring process_path() override { return path; }
  void prepare_log_file() override { ++log_prepared; }
  std::wstring log_file_path() override { return L"C:\\ProgramData\\Logs\\sfx.log"; }
  os_version system_version() override { return version; }
  std::string system_description() override { return "Windows 7 SP1 x64"; }
  std::uint32_t integrity_level() override { return integrity; }
  system_info::parent_process parent_process() override {
    if (!parent) throw vyn::exceptions::error(87, "no parent");
    return *parent;
  }
  std::vector<std::wstring> main_product_ids() override { return products; }
  std::wstring file_version() override { return L"1.0.0.1"; }
  std::wstring special_build() override { return special; }
  std::wstring new_session_id() override { return L"generated"; }
  void show_failure(const failure_outcome& outcome, const std::wstring& log_path) override {
    shown.push_back(outcome);
    shown_log_path = log_path;
  }

  std::shared_ptr<sfx_proxy_parser_intf> create_sfx_proxy_parser(const std::wstring& text) override {
    proxy_command_line = text;
    if (proxy_fails) throw std::runtime_error("bad proxy.ini");
    return proxy;
  }
  std::shared_ptr<sfx_reporting_intf> create_sfx_reporting(std::shared_ptr<sfx_proxy_parser_intf> given) override {
    reporting_proxy = given;
    return reporting;
  }
  std::unique_ptr<sfx_process_intf> create_sfx_process(std::shared_ptr<sfx_reporting_intf> given_reporting,
                                                       std::shared_ptr<sfx_proxy_parser_intf> given_proxy,
                                                       const std::wstring& id) override {
    ++processes_created;
    process_reporting = given_reporting;
    process_proxy = given_proxy;
    session_id = id;
    if (real_process) return std::move(real_process);
    return std::make_unique<fake_run>(last_run, result, failure);
  }

  std::wstring command_line = L"\"C:\\dl\\stub.exe\" /silent";
  os_version version{6, 1, 7601, 1, 0, 0, 1};
  std::uint32_t integrity = 0x3000;
  std::optional<system_info::parent_process> parent = system_info::parent_process{1234, L"C:\\browser.exe"};
  std::vector<std::wstring> products;
  std::shared_ptr<recording_reporting> reporting = std::make_shared<recording_reporting>();
  std::shared_ptr<sfx_proxy_parser_intf> proxy = std::make_shared<fake_proxy>(false);
  bool proxy_fails = false;
  std::uint32_t result = 0;
  std::exception_ptr failure;
  std::unique_ptr<sfx_process_intf> real_process;

  std::vector<failure_outcome> shown;
  std::wstring shown_log_path;
  int log_prepared = 0;
  int processes_created = 0;
  std::wstring proxy_command_line;
  std::shared_ptr<sfx_proxy_parser_intf> reporting_proxy;
  std::shared_ptr<sfx_reporting_intf> process_reporting;
  std::shared_ptr<sfx_proxy_parser_intf> process_proxy;
  std::wstring session_id;
  run_record last_run;
};

TEST(EntryPoint, NormalRun_ReportsStartAndReturnsTheRunResult) {
  fake_host host;
  host.result = 7;
  host.products = {L"orvek-free", L"second"};
  EXPECT_EQ(run_entry_sequence(host), 7u);
  EXPECT_EQ(host.reporting->events,
            (strings{"set_cmdline:C:\\dl\\stub.exe /silent", "set_session_id:generated",
                     "set_trigger:1234-C:\\browser.exe", "add_main_product:orvek-free|", "send:sfx-start"}));
  EXPECT_EQ(host.proxy_command_line, L"\"C:\\dl\\stub.exe\" /silent");
  EXPECT_EQ(host.reporting_proxy, host.proxy);
  EXPECT_EQ(host.process_proxy, host.proxy);
  EXPECT_EQ(host.process_reporting, host.reporting);
  EXPECT_EQ(host.last_run.path, L"C:\\dl\\stub.exe");
  EXPECT_EQ(host.last_run.arguments, L"/silent");
  EXPECT_EQ(host.log_prepared, 1);
}

TEST(EntryPoint, SessionSwitches_DecideTheIdAndMalformedOnesAreDropped) {
  fake_host host;
  host.command_line = L"stub.exe /track-guid:short /ga_clientid:\" aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee \" /x";
  run_entry_sequence(host);
  EXPECT_EQ(host.session_id, L"aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee");
  EXPECT_EQ(host.reporting->of("set_session_id"), strings{"aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee"});
  EXPECT_EQ(host.last_run.arguments, L"/ga_clientid:\" aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee \" /x");
}

TEST(EntryPoint, UnknownParentOrEmptyProduct_AreReportedAsSuch) {
  fake_host host;
  host.parent.reset();
  host.products = {L"", L"second"};
  run_entry_sequence(host);
  EXPECT_EQ(host.reporting->of("set_trigger"), strings{"Get parent failed - no parent."});
  EXPECT_TRUE(host.reporting->of("add_main_product").empty());
}

TEST(EntryPoint, SystemChecks_RefuseOldSystemsAndLowIntegrity) {
  const struct {
    os_version version;
    std::uint32_t integrity;
    std::uint32_t exit_code;
  } cases[] = {
      {{5, 1, 2600, 3, 0, 0, 1}, 0x3000, 45056},
      {{6, 0, 6002, 2, 0, 0, 1}, 0x3000, 45056},
      {{6, 1, 7600, 0, 0, 0, 1}, 0x3000, 45056},
      {{5, 1, 2600, 3, 0, 0, 1}, 0x2000, 45056},  // the system is checked first
      {{10, 0, 19045, 0, 0, 0, 1}, 0x2000, 124},
      {{10, 0, 19045, 0, 0, 0, 1}, 0, 124},
      {{10, 0, 19045, 0, 0, 0, 1}, 0x2FFF, 124},
  };
  for (const auto& c : cases) {
    fake_host host;
    host.version = c.version;
    host.integrity = c.integrity;
    EXPECT_EQ(run_entry_sequence(host), c.exit_code);
    EXPECT_EQ(host.processes_created, 0);
    EXPECT_EQ(host.reporting->of("send"), (strings{"sfx-start", "sfx-fail"}));
    EXPECT_EQ(host.reporting->of("set_ret_code"), strings{std::to_string(c.exit_code)});
  }
}

TEST(EntryPoint, ExactlyHighIntegrityOnWindows7Sp1_Runs) {
  fake_host host;
  host.version = {6, 1, 7601, 1, 0, 0, 1};
  host.integrity = 0x3000;
  EXPECT_EQ(run_entry_sequence(host), 0u);
  EXPECT_EQ(host.processes_created, 1);
}

TEST(EntryPoint, RunFailures_BecomeExitCodesMessagesAndFailStage) {
  using kind = failure_outcome::message_kind;
  const struct {
    std::exception_ptr failure;
    std::uint32_t exit_code;
    strings crash_messages;
    kind shown;
    std::wstring text;
    std::int32_t shown_code;
  } cases[] = {
      {std::make_exception_ptr(exceptions::download_file_fail(12029, "refused")), 44002, {"refused"}, kind::download,
       L"12029", 12029},
      {std::make_exception_ptr(exceptions::sfx_invalid_signature()), 44024, {}, kind::error,
       L"SFX is not DSA signed!", 44024},
      {std::make_exception_ptr(exceptions::missign_sfx_file("no sfx-info.xml")), 44051, {}, kind::error,
       L"@Sfx_MissingSfx", 44051},
      {std::make_exception_ptr(exceptions::ppi_abort(3)), 3, {}, kind::none, L"", 3},
      {std::make_exception_ptr(std::out_of_range("stoi argument out of range")), 1, {}, kind::error,
       L"stoi argument out of range", 1},
      {std::make_exception_ptr(vyn::exceptions::error(5, "denied")), 5, {}, kind::error, L"denied", 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exit_code);
    fake_host host;
    host.failure = c.failure;
    EXPECT_EQ(run_entry_sequence(host), c.exit_code);
    EXPECT_EQ(host.reporting->of("set_crash_msg"), c.crash_messages);
    EXPECT_EQ(host.reporting->events.back(), "send:sfx-fail");
    EXPECT_EQ(host.reporting->of("set_ret_code"), strings{std::to_string(c.exit_code)});
    ASSERT_EQ(host.shown.size(), 1u) << "one message per failed run";
    EXPECT_EQ(host.shown[0].kind, c.shown);
    if (c.shown == kind::none) continue;
    EXPECT_EQ(host.shown[0].text, c.text);
    EXPECT_EQ(host.shown[0].shown_code, c.shown_code);
    EXPECT_EQ(host.shown_log_path, L"C:\\ProgramData\\Logs\\sfx.log");
  }
}

TEST(EntryPoint, BrokenProxySettings_StartWithoutProxy) {
  fake_host host;
  host.proxy_fails = true;
  EXPECT_EQ(run_entry_sequence(host), 0u);
  EXPECT_EQ(host.reporting_proxy, nullptr);
  EXPECT_EQ(host.process_proxy, nullptr);
}

TEST(EntryPoint, WithoutReporting_FailuresStillEndWithTheirCode) {
  fake_host host;
  host.reporting.reset();
  host.version = {5, 1, 2600, 3, 0, 0, 1};
  EXPECT_EQ(run_entry_sequence(host), 45056u);
  host.version = {10, 0, 19045, 0, 0, 0, 1};
  host.failure = std::make_exception_ptr(exceptions::download_file_fail(1, "x"));
  EXPECT_EQ(run_entry_sequence(host), 44002u);
}

// From the process command line to the setup master's arguments: the older switches written
// with "=" survive the re-rendering the entry point does and are migrated by the run.
TEST(EntryPoint, OlderSwitchesOnTheProcessCommandLine_ReachTheSetupMigrated) {
  fake_host host;
  host.command_line = L"\"C:\\dl\\stub.exe\" /LANG=L1031 /DIR=\"C:\\a b\" /VERYSILENT";
  host.path = files::module_path();  // a file the run can open as its own
  auto launcher = std::make_shared<NiceMock<mock_launcher>>();
  auto process = std::make_unique<test_process>(host.reporting, nullptr, L"s");
  auto verifier = std::make_shared<NiceMock<mock_verifier>>();
  ON_CALL(*verifier, verify_handle(_)).WillByDefault(Return(true));
  process->verifier = verifier;
  auto prepare = std::make_unique<NiceMock<mock_prepare>>();
  ON_CALL(*prepare, prepare).WillByDefault([](std::wstring& command, auto, auto) { command = L"C:\\k.exe"; });
  process->preparation = std::move(prepare);
  process->launcher = launcher;
  host.real_process = std::move(process);

  std::wstring arguments;
  EXPECT_CALL(*launcher, run(std::wstring(L"C:\\k.exe"), _, _))
      .WillOnce(::testing::DoAll(::testing::SaveArg<1>(&arguments), Return(44080u)));
  EXPECT_EQ(run_entry_sequence(host), 44080u);
  EXPECT_EQ(arguments, L"/kestro-info-path:C:\\temp\\vyn-1\\kestro-info.xml /install /lang-id:1031 "
                       L"/install-path:\"C:\\a b\" /silent");
  EXPECT_EQ(host.reporting->of("send"), (strings{"sfx-start", "sfx-preparing", "sfx-running-kestro", "sfx-finish"}));
}

// A log file that cannot be written (a full disk) never decides the exit code: the run's own
// result and every failure's code come through, and no handler ends the process.
TEST(EntryPoint, FailingLogWrites_LeaveTheExitCodeAsTheRunDecided) {
  const struct {
    std::uint32_t result;
    std::exception_ptr failure;
    std::uint32_t exit_code;
  } cases[] = {
      {0, nullptr, 0},
      {44080, nullptr, 44080},
      {0, std::make_exception_ptr(vyn::exceptions::error(5, "Access denied")), 5},
      {0, std::make_exception_ptr(std::runtime_error("generic")), 1},
      {0, std::make_exception_ptr(vyn::sfx::exceptions::sfx_invalid_signature()), 44024},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exit_code);
    fake_host host;
    host.result = c.result;
    host.failure = c.failure;
    const scoped_full_log_disk full;
    EXPECT_EQ(run_entry_sequence(host), c.exit_code);
    EXPECT_EQ(host.processes_created, 1);
    EXPECT_EQ(host.reporting->of("send").back(), c.failure ? "sfx-fail" : "sfx-start");
  }
}

// A stub whose version resource names a special build (one that trusts the development keys)
// says so right below the start line; a release adds nothing.
TEST(EntryPoint, SpecialBuild_IsLoggedBelowTheStartLine) {
  for (const std::wstring special : {L"", L"Development build: trusts the public development keys"}) {
    const vyn::sfx::testing::log_capture log;
    fake_host host;
    host.special = special;
    run_entry_sequence(host);
    const std::string text = log.text();
    const auto start = text.find("*** Starting SFX (1.0.0.1)");
    ASSERT_NE(start, std::string::npos) << text;
    const auto line = text.find("    special build: 'Development build: trusts the public development keys'");
    if (special.empty()) {
      EXPECT_EQ(text.find("special build"), std::string::npos) << text;
    } else {
      EXPECT_GT(line, start) << text;
      EXPECT_NE(line, std::string::npos) << text;
    }
  }
}

}  // namespace
}  // namespace vyn::sfx
