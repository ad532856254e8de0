// The records that real runs of the built stub send, received by the fault server of
// tests/net/servers: the stub is pointed at it with "report-url".
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "foundation/strings.h"
#include "foundation/test_support.h"
#include "net/json_members_testing.h"
#include "net/test_servers.h"
#include "stub_process.h"

namespace vyn {
namespace {

using http::testing::test_servers;
using http::testing::unique_id;
using sfx::testing::expected_record_paths;
using sfx::testing::json_record_paths;
using sfx::testing::json_value;
using testing_support::scoped_environment;
using testing_support::scratch_folder;
using testing_support::windows_path;

std::wstring fixture(const wchar_t* name) { return windows_path(VYN_INSTALLATION_FIXTURES) + L"\\" + name; }

std::string stage_of(const std::string& body) { return json_value(body, "record[].setup.common.stage"); }

std::vector<std::string> stages_of(const std::vector<std::string>& bodies) {
  std::vector<std::string> stages;
  for (const std::string& body : bodies) stages.push_back(stage_of(body));
  return stages;
}

bool matches(const std::string& text, const char* pattern) { return std::regex_match(text, std::regex(pattern)); }

class ReportingRun : public ::testing::Test {
 protected:
  ReportingRun() { ::CreateDirectoryW(tmp().c_str(), nullptr); }

  std::wstring tmp() const { return scratch_ / L"tmp"; }

  std::wstring receiver(const std::string& id, const std::string& plan) const {
    return utils::to_wide("https://localhost:" + servers_.value("FAULT_DUAL_PORT") + "/t/" + id +
                          "/v4/receive/json/25?plan=" + plan);
  }

  // Runs the stub silently with its records going to url; returns the exit code and the seconds
  // the run took.
  DWORD run(const wchar_t* stub, const std::wstring& url, double* seconds = nullptr) {
    const scoped_environment record_dir(L"VYN_TEST_RECORD_DIR", scratch_ / L"record");
    const scoped_environment exit_code(L"VYN_TEST_EXIT_CODE", L"0");
    const std::wstring exe = fixture(stub);
    const auto start = std::chrono::steady_clock::now();
    const DWORD code = testing_support::run_and_wait(
        exe, L"\"" + exe + L"\" /silent /tmp-path:\"" + tmp() + L"\" /report-url:\"" + url + L"\"", 120000);
    if (seconds) *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    testing_support::remove_tree(scratch_ / L"record");
    return code;
  }

  test_servers servers_;
  scratch_folder scratch_;
};

TEST_F(ReportingRun, SuccessfulRuns_SendEveryStageInOrderWithTheSameIdentity) {
  std::vector<std::string> identities;
  for (int run_number = 0; run_number < 2; ++run_number) {
    SCOPED_TRACE(run_number);
    const std::string id = unique_id("run-ok");
    ASSERT_EQ(run(L"offline.exe", receiver(id, "ok")), 0u);
    const auto bodies = servers_.bodies(id, 4);
    ASSERT_EQ(stages_of(bodies),
              (std::vector<std::string>{"sfx-start", "sfx-preparing", "sfx-running-kestro", "sfx-finish"}));
    for (std::size_t i = 0; i < bodies.size(); ++i) {
      SCOPED_TRACE(bodies[i]);
      // The disk path is known from "sfx-preparing" on, the return code only at the end.
      EXPECT_EQ(json_record_paths(bodies[i]), expected_record_paths(i == 3, i >= 1));
      const std::string hwid = json_value(bodies[i], "record[].identity.hwid");
      const std::string fingerprint = json_value(bodies[i], "record[].identity.fingerprint");
      const std::string endpoint = json_value(bodies[i], "record[].identity.endpoint_id");
      EXPECT_TRUE(matches(hwid, "[0-9A-F]{64}")) << hwid;
      EXPECT_TRUE(matches(fingerprint, "[0-9A-F]{32}")) << fingerprint;
      EXPECT_TRUE(matches(endpoint, "[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")) << endpoint;
      identities.push_back(hwid + " " + fingerprint + " " + endpoint);
      EXPECT_TRUE(matches(json_value(bodies[i], "record[].event.request_id"),
                          "[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}"));
      EXPECT_EQ(json_value(bodies[i], "record[].setup.common.session_id"),
                json_value(bodies[0], "record[].setup.common.session_id"));
    }
    EXPECT_EQ(json_value(bodies[3], "record[].setup.finish_state.ret_code"), "0");
    EXPECT_EQ(json_value(bodies[2], "record[].setup.common.title"), "Demo product");
    EXPECT_EQ(json_value(bodies[2], "record[].setup.config.main_products[].product"), "demo");
  }
  for (const std::string& identity : identities) EXPECT_EQ(identity, identities.front());
}

TEST_F(ReportingRun, FailedRun_EndsWithTheFailureAndItsReturnCode) {
  const std::string id = unique_id("run-fail");
  const DWORD code = run(L"missing-file.exe", receiver(id, "ok"));
  ASSERT_NE(code, 0u);
  const auto bodies = servers_.bodies(id, 3);
  ASSERT_FALSE(bodies.empty());
  EXPECT_EQ(stages_of(bodies).front(), "sfx-start");
  EXPECT_EQ(stage_of(bodies.back()), "sfx-fail");
  EXPECT_EQ(json_value(bodies.back(), "record[].setup.finish_state.ret_code"),
            std::to_string(static_cast<std::int32_t>(code)));
  for (const std::string& stage : stages_of(bodies)) EXPECT_NE(stage, "sfx-finish");
}

// The reporter never holds the run: a receiver that accepts and never answers, or no receiver at
// all, ends the stub within seconds of the setup master, as with a receiver that answers.
TEST_F(ReportingRun, SilentOrUnreachableEndpoint_DoesNotHoldTheRun) {
  double answering = 0;
  double silent = 0;
  double unreachable = 0;
  EXPECT_EQ(run(L"offline.exe", receiver(unique_id("run-answering"), "ok"), &answering), 0u);
  const std::string id = unique_id("run-silent");
  EXPECT_EQ(run(L"offline.exe", receiver(id, "silent:60"), &silent), 0u);
  EXPECT_EQ(run(L"offline.exe", L"https://127.0.0.1:1/v4/receive/json/25", &unreachable), 0u);
  EXPECT_LT(silent, answering + 20.0) << "answering " << answering << " s, silent " << silent << " s";
  EXPECT_LT(unreachable, answering + 20.0) << "answering " << answering << " s, unreachable " << unreachable << " s";
  std::printf("[ measured ] run with an answering receiver %.2f s, silent %.2f s, unreachable %.2f s\n", answering,
              silent, unreachable);
  // The silent receiver got the first record and nothing after it.
  EXPECT_EQ(stages_of(servers_.bodies(id, 1)), std::vector<std::string>{"sfx-start"});
}

}  // namespace
}  // namespace vyn
