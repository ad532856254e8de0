// The reporter against the fault server of tests/net/servers: what arrives, in which order, what
// is logged, and how long the end takes when the endpoint does not answer.
#include "net/sfx_reporting.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "foundation/strings.h"
#include "net/json_members_testing.h"
#include "net/test_servers.h"
#include "payload/testing/test_support.h"

namespace vyn::sfx {
namespace {

using http::testing::test_servers;
using http::testing::unique_id;
using testing::json_value;

// A reporter whose transport does not pause between attempts, so that a failing endpoint costs
// no waiting. Tests let its worker finish before it is destroyed.
class quick_reporting final : public sfx_reporting {
 public:
  using sfx_reporting::sfx_reporting;
  std::unique_ptr<sfx_win_http_intf> create_sfx_win_http(std::optional<http::ProxySettings> proxy) override {
    return std::make_unique<sfx_win_http>(std::move(proxy), [](std::uint32_t) {});
  }
};

std::vector<std::string> stages_of(const std::vector<std::string>& bodies) {
  std::vector<std::string> stages;
  for (const std::string& body : bodies) stages.push_back(json_value(body, "record[].setup.common.stage"));
  return stages;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class Reporting : public ::testing::Test {
 protected:
  // The receiver's address for id, its answers scripted by plan.
  std::wstring receiver(const std::string& id, const std::string& plan, const char* scheme = "https") const {
    return utils::to_wide(std::string(scheme) + "://localhost:" + servers_.value("FAULT_DUAL_PORT") + "/t/" + id +
                          "/v4/receive/json/25?plan=" + plan);
  }

  test_servers servers_;
  testing::log_capture log_;
};

TEST_F(Reporting, Records_ArriveInTheOrderSentAtTheUrlSetLast) {
  const std::string first = unique_id("report-order");
  const std::string second = unique_id("report-url");
  {
    sfx_reporting reporting(nullptr, receiver(first, "ok"));
    reporting.set_session_id(L"11111111-2222-3333-4444-555555555555");
    reporting.send("sfx-start");
    reporting.send("sfx-preparing");
    reporting.set_ret_code(0);
    reporting.send("sfx-finish");
    ASSERT_EQ(servers_.bodies(first, 3).size(), 3u);
    // A set URL replaces the default entirely.
    reporting.set_report_url(receiver(second, "ok"));
    reporting.send("sfx-fail");
    ASSERT_EQ(servers_.bodies(second, 1).size(), 1u);
  }
  const auto bodies = servers_.bodies(first);
  EXPECT_EQ(stages_of(bodies), (std::vector<std::string>{"sfx-start", "sfx-preparing", "sfx-finish"}));
  for (const std::string& body : bodies) {
    EXPECT_EQ(json_value(body, "record[].setup.common.session_id"), "11111111-2222-3333-4444-555555555555");
  }
  EXPECT_EQ(testing::json_record_paths(bodies[0]), testing::expected_record_paths(false, false));
  EXPECT_EQ(testing::json_record_paths(bodies[2]), testing::expected_record_paths(true, false));
  EXPECT_EQ(stages_of(servers_.bodies(second)), std::vector<std::string>{"sfx-fail"});
  for (const std::string& line : servers_.requests(first)) EXPECT_TRUE(line.starts_with("POST https ")) << line;
  EXPECT_EQ(log_.count("Sent report success, status:'200'."), 4);
  EXPECT_EQ(log_.count("Sending report data: ({\"record\":"), 4);
}

TEST_F(Reporting, ErrorStatus_LogsOneWarningPerRecordAndTheNextIsStillSent) {
  const std::string id = unique_id("report-500");
  {
    quick_reporting reporting(nullptr, receiver(id, "status:500"));
    reporting.send("sfx-start");
    reporting.send("sfx-preparing");
    // Each record is tried as often as the transport tries a POST; both arrive.
    const auto bodies = servers_.bodies(id, 8);
    ASSERT_GE(bodies.size(), 2u);
    EXPECT_EQ(stages_of(bodies).front(), "sfx-start");
    EXPECT_EQ(stages_of(bodies).back(), "sfx-preparing");
    for (int polls = 0; polls < 50 && log_.count("Sent report fail") < 2; ++polls) ::Sleep(100);
  }
  EXPECT_EQ(log_.count("Sent report fail"), 2) << log_.text();
}

TEST_F(Reporting, NothingListening_DropsTheRecordsWithAWarningAndEndsAtOnce) {
  // Nothing listens on the loopback's port 1.
  const auto start = std::chrono::steady_clock::now();
  {
    quick_reporting reporting(nullptr, L"https://127.0.0.1:1/v4/receive/json/25");
    reporting.send("sfx-start");
    for (int polls = 0; polls < 100 && log_.count("Sent report fail") < 1; ++polls) ::Sleep(100);
  }
  EXPECT_EQ(log_.count("Sent report fail"), 1) << log_.text();
  EXPECT_LT(seconds_since(start), 20.0);
}

// The end waits a short grace period for the record in flight, then cancels it: a server that
// accepts and never answers does not hold the process for its time-outs.
TEST_F(Reporting, SilentEndpoint_EndsShortlyAfterTheGracePeriod) {
  const std::string id = unique_id("report-silent");
  std::chrono::steady_clock::time_point start;
  {
    sfx_reporting reporting(nullptr, receiver(id, "silent:60"));
    reporting.send("sfx-start");
    reporting.send("sfx-finish");
    ASSERT_EQ(servers_.bodies(id, 1).size(), 1u);
    start = std::chrono::steady_clock::now();
  }
  const double took = seconds_since(start);
  EXPECT_LT(took, 20.0);
  EXPECT_GE(took, 2.0) << "the grace period lets the record in flight finish first";
  EXPECT_EQ(log_.count("Reports not sent within 3000 ms: 1 queued dropped, the one in flight cancelled."), 1)
      << log_.text();
  EXPECT_EQ(servers_.bodies(id).size(), 1u) << "a dropped record is not sent";
}

}  // namespace
}  // namespace vyn::sfx
