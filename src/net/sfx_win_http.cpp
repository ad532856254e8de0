#include "net/sfx_win_http.h"

#include "foundation/os_info.h"
#include "net/winhttp_attempt.h"

namespace vyn::sfx {
namespace {

http::http_request make_request(const http::url_parts& url, const wchar_t* method, bool resume, std::uint32_t send,
                                std::uint32_t receive, std::uint32_t resolve, std::uint32_t connect) {
  http::http_request request;
  request.url = url;
  request.method = method;
  request.resume = resume;
  request.send_timeout = send;
  request.receive_timeout = receive;
  request.resolve_timeout = resolve;
  request.connect_timeout = connect;
  return request;
}

http::system_version running_version() {
  const os::version_record& v = os::current().version;
  return {v.major, v.minor, v.build};
}

std::uint64_t file_position(HANDLE file) {
  LARGE_INTEGER position{};
  if (!::SetFilePointerEx(file, LARGE_INTEGER{}, &position, FILE_CURRENT)) return 0;
  return static_cast<std::uint64_t>(position.QuadPart);
}

}  // namespace

sfx_win_http::sfx_win_http(std::optional<http::ProxySettings> proxy, http::sleep_function sleep)
    : proxy_(std::move(proxy)), sleep_(std::move(sleep)) {
  if (!sleep_) sleep_ = [](std::uint32_t milliseconds) { ::Sleep(milliseconds); };
}

http::http_result sfx_win_http::get_to_file(const http::url_parts& url, HANDLE file, bool resume, std::uint32_t send,
                                            std::uint32_t receive, std::uint32_t resolve, std::uint32_t connect) {
  http::http_request request = make_request(url, L"GET", resume, send, receive, resolve, connect);
  http::http_sink sink;
  sink.file = file;
  if (!resume) sink.body_start = file_position(file);
  return perform(request, sink);
}

http::http_result sfx_win_http::get_to_memory(const http::url_parts& url, std::vector<std::uint8_t>* memory,
                                              bool resume, std::uint32_t send, std::uint32_t receive,
                                              std::uint32_t resolve, std::uint32_t connect) {
  http::http_request request = make_request(url, L"GET", resume, send, receive, resolve, connect);
  http::http_sink sink;
  sink.memory = memory;
  if (!resume && memory) sink.body_start = memory->size();
  return perform(request, sink);
}

http::http_result sfx_win_http::post(const http::url_parts& url, const std::uint8_t* body, std::uint32_t length,
                                     std::uint32_t send, std::uint32_t receive, std::uint32_t resolve,
                                     std::uint32_t connect) {
  http::http_request request = make_request(url, L"POST", false, send, receive, resolve, connect);
  request.https_fallback = false;
  request.log_failures_as_error = false;
  request.body = body;
  request.body_length = length;
  http::http_sink none;
  return perform(request, none);
}

void sfx_win_http::set_progress_callback(progress_callback callback) { progress_ = std::move(callback); }

http::http_result sfx_win_http::perform(http::http_request& request, http::http_sink& sink) {
  const http::attempt_setup setup{&proxy_, &progress_, running_version()};
  const auto attempt = [&setup, &sink](http::http_request& r, http::http_result& result, std::uint32_t& moved) {
    http::attempt_handles handles;
    http::run_attempt(setup, sink, handles, r, result, moved);
  };
  return http::perform_with_retries(request, attempt, sleep_);
}

}  // namespace vyn::sfx
