#pragma once
// Analytics: one JSON record per stage of a run ("sfx-start", "sfx-preparing",
// "sfx-running-kestro", "sfx-finish" or "sfx-fail"). Records are built on the caller's thread and
// sent by a worker thread, so that a slow endpoint never delays the installation; failures to
// send are only logged.

#include <cstdint>
#include <memory>
#include <string>

#include "net/sfx_proxy_parser.h"

namespace vyn::sfx {

class sfx_reporting_intf {
 public:
  // Stops the worker once the queued records are handled.
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

class sfx_reporting : public sfx_reporting_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    // proxy may be empty; construction starts the worker thread.
    virtual std::shared_ptr<sfx_reporting_intf> create_sfx_reporting(std::shared_ptr<sfx_proxy_parser_intf> proxy) = 0;
  };
};

}  // namespace vyn::sfx
