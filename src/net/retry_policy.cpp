#include "net/retry_policy.h"

#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/strings.h"

namespace vyn::http {
namespace {

void log_failure(const http_request& request, const http_result& result, const std::exception& e) {
  const log::level level = request.log_failures_as_error ? log::level::error : log::level::warning;
  VYN_LOG(level, "{} fail err:{}, msg:'{}', retries:'{}', downloaded:'{}'", utils::to_log(request.method),
          result.error, e.what(), result.retries, result.downloaded);
}

}  // namespace

bool failure_counts(const http_request& request, std::uint32_t moved) noexcept {
  return !(request.resume && request.method == L"GET" && moved > progress_without_penalty);
}

http_result perform_with_retries(http_request& request, const attempt_function& attempt, const sleep_function& sleep) {
  http_result result;
  for (;;) {
    result.error = 0;
    std::uint32_t moved = 0;
    try {
      attempt(request, result, moved);
      return result;
    } catch (const sfx::exceptions::download_no_content&) {
      return result;
    } catch (const sfx::exceptions::download_file_fail& e) {
      result.error = static_cast<std::int32_t>(e.code());
      if (failure_counts(request, moved)) ++result.retries;
      log_failure(request, result, e);
      if (result.retries >= 2) {
        if (request.url.scheme != "https") throw;
        if (request.https_fallback) request.url.scheme = "http";
      }
      if (result.retries >= 4) throw;
    }
    sleep(retry_pause_ms);
  }
}

}  // namespace vyn::http
