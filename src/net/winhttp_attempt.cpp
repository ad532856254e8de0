#include "net/winhttp_attempt.h"

#include <winhttp.h>

#include <optional>
#include <string>

#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/strings.h"
#include "net/proxy_apply.h"
#include "net/transfer_cancel.h"

namespace vyn::http {
namespace {

using sfx::exceptions::download_file_fail;
using sfx::exceptions::download_no_content;

static_assert(access_automatic_proxy == WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY);
static_assert(protocol_tls1 == WINHTTP_FLAG_SECURE_PROTOCOL_TLS1);
static_assert(protocol_tls1_1 == WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1);
static_assert(protocol_tls1_2 == WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2);

constexpr const wchar_t* user_agent = L"Kestro Http/1.0";
constexpr DWORD read_buffer_size = 65536;
constexpr DWORD short_body_code = 1462;
constexpr DWORD header_not_found = 12150;  // ERROR_WINHTTP_HEADER_NOT_FOUND

[[noreturn]] void fail(const char* message) { throw download_file_fail(::GetLastError(), message); }

std::uint16_t port_of(const url_parts& url) {
  if (url.port != 0) return url.port;
  if (url.scheme == "http") return INTERNET_DEFAULT_HTTP_PORT;
  if (url.scheme == "https") return INTERNET_DEFAULT_HTTPS_PORT;
  return 0;
}

std::wstring object_name(const url_parts& url) {
  std::wstring name = utils::to_wide(url.path);
  if (!url.query.empty()) name += L"?" + utils::to_wide(url.query);
  return name;
}

class attempt {
 public:
  attempt(const attempt_setup& setup, http_sink& sink, attempt_handles& handles, http_request& request,
          http_result& result, std::uint32_t& moved)
      : setup_(setup), sink_(sink), handles_(handles), request_(request), result_(result), moved_(moved) {}

  void run() {
    if (!request_.resume && sink_.written) rewind_sink(sink_.body_start);
    open();
    const std::wstring range = resume_header();
    apply_proxy_settings(*setup_.proxy, handles_.session.get(), handles_.request.get());
    send(range);
    if (sink_.empty()) return;
    if (resumed_ && result_.status == HTTP_STATUS_OK) restart_ignored_range();
    const std::uint32_t length = content_length();
    read_body(length);
  }

 private:
  bool is_get() const { return request_.method == L"GET"; }
  bool secure() const { return request_.url.scheme == "https"; }

  // Session, connection and request with their options.
  void open() {
    const proxy_access access = session_access(setup_.version, *setup_.proxy);
    handles_.session.reset(::WinHttpOpen(user_agent, access.access_type,
                                         access.proxy_name.empty() ? WINHTTP_NO_PROXY_NAME : access.proxy_name.c_str(),
                                         WINHTTP_NO_PROXY_BYPASS, 0));
    if (!handles_.session) fail("Unable to open session");
    const std::wstring host = utils::to_wide(request_.url.host);
    handles_.connection.reset(::WinHttpConnect(handles_.session.get(), host.c_str(), port_of(request_.url), 0));
    if (!handles_.connection) fail("Unable to create connection");
    const std::wstring object = object_name(request_.url);
    const DWORD flags = WINHTTP_FLAG_REFRESH | (secure() ? WINHTTP_FLAG_SECURE : 0);
    handles_.request.reset(::WinHttpOpenRequest(handles_.connection.get(), request_.method.c_str(), object.c_str(),
                                                nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!handles_.request) fail("Unable to open request");
    if (setup_.cancel) setup_.cancel->watch(handles_);
    set_protocols();
    if (secure()) {
      DWORD security = SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
      if (!::WinHttpSetOption(handles_.request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &security, sizeof(security))) {
        fail("Unable to set security flags");
      }
    }
    // A request takes the session's time-outs when it is opened, so they are given to the open
    // request as well; set on the session alone they would not bound this attempt.
    for (const HINTERNET handle : {handles_.session.get(), handles_.request.get()}) {
      if (!::WinHttpSetTimeouts(handle, static_cast<int>(request_.resolve_timeout),
                                static_cast<int>(request_.connect_timeout), static_cast<int>(request_.send_timeout),
                                static_cast<int>(request_.receive_timeout))) {
        fail("Unable to set WinHTTP timeouts");
      }
    }
  }

  // TLS 1.0 always; the newer versions the system supports when it takes them.
  void set_protocols() {
    DWORD protocols = protocol_tls1;
    if (!::WinHttpSetOption(handles_.session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols))) {
      fail("Unable to set TLS1");
    }
    protocols = widened_protocols(setup_.version);
    if (!::WinHttpSetOption(handles_.session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols))) {
      VYN_LOG_ERROR("Unable to set other TLS ({})", ::GetLastError());
    }
  }

  // The extra header asking for the bytes after those already in the sink; empty for none.
  std::wstring resume_header() {
    if (!request_.resume || !is_get()) return {};
    std::uint64_t have = 0;
    if (sink_.memory) {
      have = sink_.memory->size();
    } else if (sink_.file != INVALID_HANDLE_VALUE) {
      have = file_size_for_resume();
    }
    if (have == 0) return {};
    if (have > 0xFFFFFFFFu) {
      throw vyn::exceptions::error(ERROR_ARITHMETIC_OVERFLOW,
                                   fmt::format("narrowing error: {} bytes to resume do not fit 32 bits", have));
    }
    result_.downloaded = static_cast<std::uint32_t>(have);
    resumed_ = true;
    return L"Range: bytes=" + utils::decimal(have) + L"-\r\n";
  }

  // The file's size with its pointer moved to the end; 0 when it cannot be resumed.
  std::uint64_t file_size_for_resume() {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(sink_.file, &size)) {
      const DWORD code = ::GetLastError();
      if (code != ERROR_FILE_NOT_FOUND) {
        VYN_LOG_WARNING("Cannot get file size for '{}' (no resume): error: {}", display_url(request_.url), code);
      }
      return 0;
    }
    if (size.QuadPart <= 0) return 0;
    if (!::SetFilePointerEx(sink_.file, LARGE_INTEGER{}, nullptr, FILE_END)) {
      VYN_LOG_WARNING("Cannot set file to end (no resume) for '{}': error: {}", display_url(request_.url),
                      ::GetLastError());
      return 0;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
  }

  void send(const std::wstring& headers) {
    if (!::WinHttpSendRequest(handles_.request.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                              headers.empty() ? 0 : static_cast<DWORD>(-1), const_cast<std::uint8_t*>(request_.body),
                              request_.body_length, request_.body_length, 0)) {
      fail("Unable to send request");
    }
    if (!::WinHttpReceiveResponse(handles_.request.get(), nullptr)) fail("Unable to receive response");
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::WinHttpQueryHeaders(handles_.request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
      fail("Unable to query status header");
    }
    result_.status = static_cast<std::int32_t>(status);
    if (status < 200 || status > 299) {
      throw download_file_fail(::GetLastError(), fmt::format("Receive fail status:'{}'", status));
    }
    if (status == HTTP_STATUS_NO_CONTENT) throw download_no_content();
  }

  // The server sent the whole body to a range request: it replaces what the sink held.
  void restart_ignored_range() {
    rewind_sink(0);
    sink_.body_start = 0;
    request_.resume = false;
  }

  // Drops what the sink holds from position on.
  void rewind_sink(std::uint64_t position) {
    if (sink_.memory) {
      sink_.memory->resize(static_cast<std::size_t>(position));
    } else {
      LARGE_INTEGER at{};
      at.QuadPart = static_cast<LONGLONG>(position);
      if (!::SetFilePointerEx(sink_.file, at, nullptr, FILE_BEGIN)) fail("Unable to set file pointer to start");
      if (!::SetEndOfFile(sink_.file)) fail("Unable to set end of file");
    }
    result_.downloaded = 0;
    sink_.written = false;
  }

  std::uint32_t content_length() {
    DWORD length = 0;
    DWORD size = sizeof(length);
    if (!::WinHttpQueryHeaders(handles_.request.get(), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &length, &size, WINHTTP_NO_HEADER_INDEX)) {
      if (::GetLastError() != header_not_found) fail("Unable to query content length");
      length = 0;
    }
    if (!resumed_ && result_.expected == 0) {
      result_.expected = length;
      if (sink_.memory && sink_.memory->capacity() == 0 && length != 0) sink_.memory->reserve(length);
    }
    return length;
  }

  void read_body(std::uint32_t length) {
    std::vector<std::uint8_t> buffer(read_buffer_size);
    std::optional<download_file_fail> failure;
    for (;;) {
      DWORD read = 0;
      if (!::WinHttpReadData(handles_.request.get(), buffer.data(), read_buffer_size, &read)) {
        failure.emplace(::GetLastError(), "Unable to read data");
        break;
      }
      if (read == 0) break;
      const DWORD written = write_chunk(buffer.data(), read, failure);
      if (failure) break;
      moved_ += written;
      result_.downloaded += written;
      if (!request_.resume) sink_.written = true;
      if (*setup_.progress) (*setup_.progress)(read, result_.downloaded, result_.expected);
    }
    if (result_.expected != 0 && result_.downloaded > result_.expected) {
      cut_back();
    } else if (length != 0 && moved_ < length) {
      throw download_file_fail(short_body_code, "Download less than expected");
    }
    if (failure) throw *failure;
  }

  DWORD write_chunk(const std::uint8_t* data, DWORD size, std::optional<download_file_fail>& failure) {
    if (sink_.memory) {
      sink_.memory->insert(sink_.memory->end(), data, data + size);
      return size;
    }
    DWORD written = 0;
    if (!::WriteFile(sink_.file, data, size, &written, nullptr)) {
      failure.emplace(::GetLastError(), "Unable to write data to file");
    }
    return written;
  }

  // More bytes arrived than were announced: the sink keeps the announced body only.
  void cut_back() {
    const std::uint64_t end = sink_.body_start + result_.expected;
    if (sink_.memory) {
      sink_.memory->resize(static_cast<std::size_t>(end));
    } else {
      LARGE_INTEGER at{};
      at.QuadPart = static_cast<LONGLONG>(end);
      if (!::SetFilePointerEx(sink_.file, at, nullptr, FILE_BEGIN)) fail("Unable to set position to end");
      if (!::SetEndOfFile(sink_.file)) fail("Unable to set file end");
    }
    result_.downloaded = result_.expected;
  }

  const attempt_setup& setup_;
  http_sink& sink_;
  attempt_handles& handles_;
  http_request& request_;
  http_result& result_;
  std::uint32_t& moved_;
  bool resumed_ = false;
};

}  // namespace

void run_attempt(const attempt_setup& setup, http_sink& sink, attempt_handles& handles, http_request& request,
                 http_result& result, std::uint32_t& moved) {
  attempt(setup, sink, handles, request, result, moved).run();
}

}  // namespace vyn::http
