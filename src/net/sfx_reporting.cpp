#include "net/sfx_reporting.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/random.h"
#include "foundation/strings.h"
#include "net/report_machine.h"
#include "net/transfer_cancel.h"

#ifndef VYN_REPORT_URL
#error "VYN_REPORT_URL names the built-in analytics endpoint (CMake cache variable)"
#endif

namespace vyn::sfx {

// What the worker shares with the reporter; the worker keeps it alive, so that a worker left to
// end with the process never touches freed memory.
struct reporter_state {
  std::mutex lock;
  std::condition_variable wake;     // the worker: a record was queued, or stop
  std::condition_variable changed;  // the stopping thread: the worker went idle or ended
  std::deque<std::string> queue;
  bool stop = false;
  bool busy = false;   // the worker holds a record it took from the queue
  bool ended = false;
  std::wstring report_url;
  std::wstring default_url;
  std::shared_ptr<sfx_proxy_parser_intf> proxy;
  std::shared_ptr<http::transfer_cancel> cancel = std::make_shared<http::transfer_cancel>();
};

namespace {

constexpr std::uint32_t send_timeout = 15000;
constexpr std::uint32_t receive_timeout = 15000;
constexpr std::uint32_t resolve_timeout = 15000;
constexpr std::uint32_t connect_timeout = 30000;

enum class post_outcome { sent, refused, failed, cancelled };

struct post_result {
  post_outcome outcome = post_outcome::sent;
  http::http_result http;
  std::exception_ptr failure;  // why the transport gave up
};

post_result post_record(sfx_win_http_intf& http, const http::url_parts& url, const std::string& record) {
  post_result result;
  try {
    result.http = http.post(url, reinterpret_cast<const std::uint8_t*>(record.data()),
                            static_cast<std::uint32_t>(record.size()), send_timeout, receive_timeout,
                            resolve_timeout, connect_timeout);
    result.outcome = result.http.status == 200 ? post_outcome::sent : post_outcome::refused;
  } catch (const http::transfer_cancelled&) {
    result.outcome = post_outcome::cancelled;
  } catch (const exceptions::download_file_fail&) {
    result.outcome = post_outcome::failed;
    result.failure = std::current_exception();
  }
  return result;
}

void log_outcome(const post_result& result) {
  switch (result.outcome) {
    case post_outcome::sent:
      VYN_LOG_DEBUG("Sent report success, status:'{}'.", result.http.status);
      break;
    case post_outcome::refused:
      VYN_LOG_WARNING("Sent report fail, status:'{}' error:'{}'.", result.http.status, result.http.error);
      break;
    case post_outcome::failed:
      // The transport logged each attempt; this line says once that the record is dropped.
      try {
        std::rethrow_exception(result.failure);
      } catch (const std::exception& e) {
        VYN_LOG_EXC(log::level::warning, e, "Sent report fail.");
      }
      break;
    case post_outcome::cancelled:
      VYN_LOG_DEBUG("Sending the report was given up while stopping.");
      break;
  }
}

}  // namespace

sfx_reporting::sfx_reporting(std::shared_ptr<sfx_proxy_parser_intf> proxy, std::wstring default_url)
    : state_(std::make_shared<reporter_state>()) {
  state_->proxy = std::move(proxy);
  state_->default_url = std::move(default_url);
  worker_ = std::thread([this, state = state_] { work(state); });
}

sfx_reporting::~sfx_reporting() { stop(); }

std::wstring sfx_reporting::built_in_report_url() { return utils::to_wide(VYN_REPORT_URL); }

void sfx_reporting::send(const std::string& stage) {
  {
    const std::lock_guard<std::mutex> guard(state_->lock);
    try {
      const report::report_facts facts = read_facts();
      state_->queue.push_back(report::build_record(values_, facts, stage));
    } catch (const std::exception& e) {
      VYN_LOG_EXC(log::level::error, e, "Send report fail.");
      return;
    }
  }
  state_->wake.notify_all();
}

// The values are set from the caller's thread only, the one that also builds the records; the
// lock is taken all the same, as cheap as it is.
std::unique_lock<std::mutex> sfx_reporting::lock_values() { return std::unique_lock<std::mutex>(state_->lock); }

void sfx_reporting::set_disk_path(const std::wstring& path) {
  const auto guard = lock_values();
  values_.disk_path = path;
}
void sfx_reporting::set_edition_flag(bool edition) {
  const auto guard = lock_values();
  values_.edition = edition;
}
void sfx_reporting::set_aiid(const std::wstring& aiid) {
  const auto guard = lock_values();
  values_.aiid = aiid;
}
void sfx_reporting::set_session_id(const std::wstring& session_id) {
  const auto guard = lock_values();
  values_.session_id = session_id;
}
void sfx_reporting::set_title(const std::wstring& title) {
  const auto guard = lock_values();
  values_.title = title;
}
void sfx_reporting::set_reboot(bool reboot) {
  const auto guard = lock_values();
  values_.reboot = reboot ? "1" : "0";
}
void sfx_reporting::set_ret_code(std::int32_t code) {
  const auto guard = lock_values();
  values_.ret_code = std::to_string(code);
}
void sfx_reporting::add_main_product(const std::wstring& product, const std::wstring& channel, bool reset) {
  const auto guard = lock_values();
  report::add_main_product(values_.main_products, product, channel, reset);
}
// The worker reads the URL when it takes a record.
void sfx_reporting::set_report_url(const std::wstring& url) {
  const auto guard = lock_values();
  state_->report_url = url;
}
void sfx_reporting::set_operation(const std::string& operation) {
  const auto guard = lock_values();
  values_.operation = operation;
}
void sfx_reporting::set_trigger(const std::wstring& trigger) {
  const auto guard = lock_values();
  values_.trigger = trigger;
}
void sfx_reporting::set_cmdline(const std::wstring& command_line) {
  const auto guard = lock_values();
  values_.cmdline = command_line;
}
void sfx_reporting::set_crash_msg(const std::string& message) {
  const auto guard = lock_values();
  values_.crash_msg = message;
}

std::unique_ptr<sfx_win_http_intf> sfx_reporting::create_sfx_win_http(std::optional<http::ProxySettings> proxy) {
  return std::make_unique<sfx_win_http>(std::move(proxy), http::sleep_function{}, state_->cancel);
}

std::unique_ptr<mi::device_identifier_intf> sfx_reporting::create_device_identifier() {
  return mi::make_device_identifier();
}

std::unique_ptr<mi::midex_intf> sfx_reporting::create_midex() { return std::make_unique<mi::midex>(); }

report::report_facts sfx_reporting::read_facts() {
  report::report_facts facts;
  facts.request_id = utils::random_uuid();
  read_machine_facts(facts, values_.disk_path);
  read_identity(facts);
  facts.installation_time = report::utc_milliseconds();
  return facts;
}

// The hardware id is part of every record: without it the record is not built. The fingerprint
// and the endpoint identifier are sent empty when they cannot be had.
void sfx_reporting::read_identity(report::report_facts& facts) {
  facts.hwid = mi::hardware_id_text(*create_midex());
  std::unique_ptr<mi::device_identifier_intf> identity;
  std::exception_ptr unavailable;
  try {
    identity = create_device_identifier();
  } catch (const std::exception&) {
    unavailable = std::current_exception();
  }
  try {
    if (unavailable) std::rethrow_exception(unavailable);
    facts.fingerprint = mi::fingerprint_text(*identity);
  } catch (const std::exception& e) {
    VYN_LOG_EXC(log::level::error, e, "Get fingerprint failed.");
  }
  try {
    if (unavailable) std::rethrow_exception(unavailable);
    facts.endpoint_id = mi::endpoint_id_text(*identity);
  } catch (const std::exception& e) {
    VYN_LOG_EXC(log::level::error, e, "Get endpoint_id failed.");
  }
}

// Everything the worker logs is logged under the state's lock and only while the reporter has not
// stopped, so that a worker left to end with the process logs nothing after its reporter is gone.
void sfx_reporting::work(std::shared_ptr<reporter_state> state) {
  reporter_state& s = *state;
  for (;;) {
    std::string record;
    http::url_parts url;
    std::unique_ptr<sfx_win_http_intf> http;
    {
      std::unique_lock<std::mutex> guard(s.lock);
      s.busy = false;
      s.changed.notify_all();
      s.wake.wait(guard, [&s] { return s.stop || !s.queue.empty(); });
      if (s.stop) break;
      record = std::move(s.queue.front());
      s.queue.pop_front();
      s.busy = true;
      VYN_LOG_DEBUG("Sending report data: ({})", record);
      try {
        url = http::crack_url(s.report_url.empty() ? s.default_url : s.report_url);
        // Made under the lock: once stopped, the worker never calls into the reporter again.
        http = create_sfx_win_http(s.proxy ? s.proxy->settings_copy() : std::nullopt);
      } catch (const vyn::exceptions::detail::base& e) {
        VYN_LOG_ERROR("{}", e.what());
        break;
      } catch (const std::exception& e) {
        VYN_LOG_EXC(log::level::error, e, "Send report fail.");
        break;
      }
    }
    try {
      const post_result result = post_record(*http, url, record);
      const std::lock_guard<std::mutex> guard(s.lock);
      if (!s.stop) log_outcome(result);
    } catch (const std::exception& e) {
      const std::lock_guard<std::mutex> guard(s.lock);
      if (!s.stop) {
        if (dynamic_cast<const vyn::exceptions::detail::base*>(&e)) {
          VYN_LOG_ERROR("{}", e.what());
        } else {
          VYN_LOG_EXC(log::level::error, e, "Send report fail.");
        }
      }
      break;
    }
  }
  {
    const std::lock_guard<std::mutex> guard(s.lock);
    s.busy = false;
    s.ended = true;
  }
  s.changed.notify_all();
}

void sfx_reporting::stop() noexcept {
  if (!worker_.joinable()) return;
  reporter_state& s = *state_;
  std::unique_lock<std::mutex> guard(s.lock);
  // A failing endpoint gets no further attempts now: the grace period is for records that can
  // still be sent.
  s.cancel->refuse_retries();
  const bool drained = s.changed.wait_for(guard, std::chrono::milliseconds(end_grace_ms),
                                          [&s] { return s.ended || (s.queue.empty() && !s.busy); });
  const std::size_t dropped = s.queue.size();
  const bool in_flight = s.busy;
  s.queue.clear();
  s.stop = true;
  guard.unlock();
  s.wake.notify_all();
  if (!drained) {
    VYN_LOG_WARNING("Reports not sent within {} ms: {} queued dropped{}.", end_grace_ms, dropped,
                    in_flight ? ", the one in flight cancelled" : "");
  }
  s.cancel->cancel();
  guard.lock();
  const bool ended = s.changed.wait_for(guard, std::chrono::milliseconds(cancel_wait_ms), [&s] { return s.ended; });
  guard.unlock();
  if (ended) {
    worker_.join();
  } else {
    // The cancelled call did not return (Wine keeps a connection that a call still uses); the
    // process's end will end the worker.
    VYN_LOG_WARNING("The report worker did not stop within {} ms; it ends with the process.", cancel_wait_ms);
    worker_.detach();
  }
}

}  // namespace vyn::sfx
