#include "net/retry_policy.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "foundation/exceptions.h"

namespace vyn::http {
namespace {

using sfx::exceptions::download_file_fail;

// Attempts that fail as scripted, recording the scheme each one saw; the pauses are only counted.
struct scripted_transfer {
  // What attempt n (from 0) does; attempts past the script repeat its last entry.
  struct step {
    enum kind { fail, succeed, no_content, other_error } what = fail;
    std::uint32_t moves = 0;  // bytes the attempt puts into the sink before it ends
  };
  std::vector<step> script;
  std::vector<std::string> schemes;
  std::vector<std::uint32_t> pauses;

  http_result run(http_request& request) {
    const attempt_function attempt = [this](http_request& r, http_result& result, std::uint32_t& moved) {
      const std::size_t n = schemes.size();
      if (n > 100) throw std::logic_error("runaway retries");
      schemes.push_back(r.url.scheme);
      const step s = script[std::min(n, script.size() - 1)];
      moved += s.moves;
      result.downloaded += s.moves;
      switch (s.what) {
        case step::fail: throw download_file_fail(12002u + static_cast<std::uint32_t>(n), "Unable to send request");
        case step::no_content: result.status = 204; throw sfx::exceptions::download_no_content();
        case step::other_error: throw vyn::exceptions::error(5u, "Unable to set WinHTTP proxy information!");
        case step::succeed: result.status = 200; return;
      }
    };
    return perform_with_retries(request, attempt, [this](std::uint32_t ms) { pauses.push_back(ms); });
  }
};

http_request get(const char* scheme, bool resume = true) {
  http_request request;
  request.url = {scheme, "example.org", 0, "/object", ""};
  request.resume = resume;
  return request;
}

http_request post() {
  http_request request = get("https", false);
  request.method = L"POST";
  request.https_fallback = false;
  request.log_failures_as_error = false;
  return request;
}

// The code of the failure the call ends with; 0 when it returns.
std::uint32_t failure_code(scripted_transfer& transfer, http_request request) {
  try {
    transfer.run(request);
  } catch (const download_file_fail& e) {
    return e.code();
  }
  return 0;
}

using schemes = std::vector<std::string>;
using pauses = std::vector<std::uint32_t>;

TEST(RetryPolicy, HttpsGetFailingEveryTime_TriesTwiceOverHttpsOnceOverHttpAndThrowsTheLast) {
  scripted_transfer t{{{}}};
  EXPECT_EQ(failure_code(t, get("https")), 12004u);
  EXPECT_EQ(t.schemes, (schemes{"https", "https", "http"}));
  EXPECT_EQ(t.pauses, (pauses{1000, 1000}));
}

TEST(RetryPolicy, FailingTransfers_AreTriedAsOftenAsTheirKindAllows) {
  const struct {
    const char* name;
    http_request request;
    schemes tried;
  } cases[] = {
      {"plain http GET", get("http"), {"http", "http"}},
      {"POST over https, never downgraded", post(), {"https", "https", "https", "https"}},
      {"https GET without fallback", [] { auto r = get("https"); r.https_fallback = false; return r; }(),
       {"https", "https", "https", "https"}},
      {"https GET without resume", get("https", false), {"https", "https", "http"}},
      {"other scheme", get("ftp"), {"ftp", "ftp"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    scripted_transfer t{{{}}};
    EXPECT_NE(failure_code(t, c.request), 0u);
    EXPECT_EQ(t.schemes, c.tried);
    EXPECT_EQ(t.pauses.size(), c.tried.size() - 1);
  }
}

TEST(RetryPolicy, ResumableGetMakingProgress_IsRetriedBeyondFourAttempts) {
  std::vector<scripted_transfer::step> script(9, {scripted_transfer::step::fail, 16385});
  script.push_back({scripted_transfer::step::succeed, 100});
  scripted_transfer t{script};
  http_request request = get("https");
  const http_result result = t.run(request);
  EXPECT_EQ(t.schemes, schemes(10, "https"));
  EXPECT_EQ(t.pauses.size(), 9u);
  EXPECT_EQ(result.retries, 0);
  EXPECT_EQ(result.error, 0);
  EXPECT_EQ(result.downloaded, 9u * 16385 + 100);
}

TEST(RetryPolicy, AttemptsMovingTooLittle_CountEachFailure) {
  const struct {
    const char* name;
    http_request request;
    std::uint32_t moves;
  } cases[] = {
      {"resumable GET moving 16384 bytes", get("https"), 16384},
      {"GET without resume moving more", get("https", false), 100000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    scripted_transfer t{{{scripted_transfer::step::fail, c.moves}}};
    EXPECT_EQ(failure_code(t, c.request), 12004u);
    EXPECT_EQ(t.schemes, (schemes{"https", "https", "http"}));
  }
  EXPECT_FALSE(failure_counts(get("https"), 16385));
  EXPECT_TRUE(failure_counts(get("https"), 16384));
  EXPECT_TRUE(failure_counts(post(), 1u << 20));
}

TEST(RetryPolicy, NoContent_ReturnsAfterOneAttemptWithoutPause) {
  scripted_transfer t{{{scripted_transfer::step::no_content}}};
  http_request request = get("https");
  const http_result result = t.run(request);
  EXPECT_EQ(result.status, 204);
  EXPECT_EQ(t.schemes.size(), 1u);
  EXPECT_TRUE(t.pauses.empty());
}

TEST(RetryPolicy, OtherFailures_EndTheCallAtOnce) {
  scripted_transfer t{{{scripted_transfer::step::other_error}}};
  http_request request = get("https");
  EXPECT_THROW(t.run(request), vyn::exceptions::error);
  EXPECT_EQ(t.schemes.size(), 1u);
  EXPECT_TRUE(t.pauses.empty());
}

TEST(RetryPolicy, SuccessOverHttpAfterTwoFailures_KeepsTheCountAndClearsTheError) {
  scripted_transfer t{{{scripted_transfer::step::fail}, {scripted_transfer::step::fail}, {scripted_transfer::step::succeed}}};
  http_request request = get("https");
  const http_result result = t.run(request);
  EXPECT_EQ(t.schemes, (schemes{"https", "https", "http"}));
  EXPECT_EQ(result.retries, 2);
  EXPECT_EQ(result.error, 0);
  EXPECT_EQ(result.status, 200);
  EXPECT_EQ(request.url.scheme, "http");  // the call's own copy of the URL
}

}  // namespace
}  // namespace vyn::http
