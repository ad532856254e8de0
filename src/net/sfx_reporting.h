#pragma once
// Analytics: one JSON record per stage of a run ("sfx-start", "sfx-preparing",
// "sfx-running-kestro", "sfx-finish" or "sfx-fail"). Records are built on the caller's thread and
// sent by a worker thread, so that a slow endpoint never delays the installation; failures to
// send are only logged.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "net/device_identifier.h"
#include "net/midex.h"
#include "net/report_record.h"
#include "net/sfx_proxy_parser.h"
#include "net/sfx_win_http.h"

namespace vyn::sfx {

class sfx_reporting_intf {
 public:
  // Stops the worker, after a short grace period for the queued records.
  virtual ~sfx_reporting_intf() = default;
  // Builds the record of the stage from the values set so far and queues it.
  virtual void send(const std::string& stage) = 0;
  // Folder whose volume's free space is reported.
  virtual void set_disk_path(const std::wstring& path) = 0;
  virtual void set_edition_flag(bool edition) = 0;
  virtual void set_aiid(const std::wstring& aiid) = 0;
  virtual void set_session_id(const std::wstring& session_id) = 0;
  virtual void set_title(const std::wstring& title) = 0;
  virtual void set_reboot(bool reboot) = 0;
  // The run's exit code; records built afterwards carry the finish block.
  virtual void set_ret_code(std::int32_t code) = 0;
  // Adds a product to the reported list; reset empties the list first.
  virtual void add_main_product(const std::wstring& product, const std::wstring& channel, bool reset) = 0;
  // Empty: the built-in endpoint.
  virtual void set_report_url(const std::wstring& url) = 0;
  virtual void set_operation(const std::string& operation) = 0;
  // Who launched the stub: "<process id>-<image path>".
  virtual void set_trigger(const std::wstring& trigger) = 0;
  virtual void set_cmdline(const std::wstring& command_line) = 0;
  virtual void set_crash_msg(const std::string& message) = 0;
};

struct reporter_state;

// Records are built under the reporter's lock on the caller's thread, with the machine's facts
// and identity of that moment, and queued; one worker thread posts them in order, one at a time,
// through its own transport (sfx_win_http) with the run's proxy settings. A failure to build or
// send a record is logged and the record dropped.
//
// At the end, the destructor gives the worker up to end_grace_ms to send what is queued (a
// failing endpoint gets no further attempts meanwhile), then drops what is left, cancels the
// transfer in flight by closing its handles, and waits up to cancel_wait_ms for the worker. Where
// a blocked call does not return when its handles are closed (Wine), the worker is left to end
// with the process; it shares its state and, once stopped, neither logs nor touches the reporter.
class sfx_reporting : public sfx_reporting_intf,
                      public sfx_win_http::factory,
                      public mi::device_identifier::factory,
                      public mi::midex::factory {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    // proxy may be empty; construction starts the worker thread.
    virtual std::shared_ptr<sfx_reporting_intf> create_sfx_reporting(std::shared_ptr<sfx_proxy_parser_intf> proxy) = 0;
  };

  static constexpr std::uint32_t end_grace_ms = 3000;
  static constexpr std::uint32_t cancel_wait_ms = 1000;

  // proxy may be empty. default_url receives the records while no report URL is set; it is the
  // endpoint the build names unless a test gives another.
  explicit sfx_reporting(std::shared_ptr<sfx_proxy_parser_intf> proxy,
                         std::wstring default_url = built_in_report_url());
  ~sfx_reporting() override;
  sfx_reporting(const sfx_reporting&) = delete;
  sfx_reporting& operator=(const sfx_reporting&) = delete;

  // The endpoint the build names (CMake cache variable VYN_REPORT_URL).
  static std::wstring built_in_report_url();

  void send(const std::string& stage) override;
  void set_disk_path(const std::wstring& path) override;
  void set_edition_flag(bool edition) override;
  void set_aiid(const std::wstring& aiid) override;
  void set_session_id(const std::wstring& session_id) override;
  void set_title(const std::wstring& title) override;
  void set_reboot(bool reboot) override;
  void set_ret_code(std::int32_t code) override;
  void add_main_product(const std::wstring& product, const std::wstring& channel, bool reset) override;
  void set_report_url(const std::wstring& url) override;
  void set_operation(const std::string& operation) override;
  void set_trigger(const std::wstring& trigger) override;
  void set_cmdline(const std::wstring& command_line) override;
  void set_crash_msg(const std::string& message) override;

  // A transport whose retries and attempt in flight the reporter's stop can end. Called on the
  // worker thread, which the destructor of this class stops: a derived class overriding it must
  // not let the worker outlive its own members.
  std::unique_ptr<sfx_win_http_intf> create_sfx_win_http(std::optional<http::ProxySettings> proxy) override;
  // Called on the caller's thread for every record.
  std::unique_ptr<mi::device_identifier_intf> create_device_identifier() override;
  std::unique_ptr<mi::midex_intf> create_midex() override;

 private:
  std::unique_lock<std::mutex> lock_values();
  void work(std::shared_ptr<reporter_state> state);
  void stop() noexcept;
  report::report_facts read_facts();
  void read_identity(report::report_facts& facts);

  std::shared_ptr<reporter_state> state_;
  report::report_values values_;  // under the state's lock
  std::thread worker_;
};

}  // namespace vyn::sfx
