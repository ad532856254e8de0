#include "app/entry_point.h"

#include <optional>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "app/exit_codes.h"
#include "app/failure.h"
#include "app/message_box.h"
#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/random.h"
#include "foundation/strings.h"

namespace vyn::sfx {
namespace {

// Proxy settings are optional: a broken proxy.ini must not keep the installer from running.
std::shared_ptr<sfx_proxy_parser_intf> create_proxy_parser(entry_host& host) {
  try {
    return host.create_sfx_proxy_parser(host.process_command_line());
  } catch (const std::exception& e) {
    VYN_LOG_EXC(log::level::warning, e, "Process proxy settings fail.");
    return {};
  }
}

std::wstring launched_by(entry_host& host) {
  try {
    const system_info::parent_process parent = host.parent_process();
    return fmt::format(L"{}-{}", static_cast<std::int32_t>(parent.id), parent.image_path);
  } catch (const std::exception& e) {
    return L"Get parent failed - " + message_text(e.what()) + L".";
  }
}

void check_os(const os_version& version) {
  if (is_supported_os(version.major, version.minor, version.service_pack_major)) return;
  VYN_LOG_FATAL("This operating system ({}.{}.{}) is not supported.", version.major, version.minor, version.build);
  throw exceptions::unsupported_os();
}

void check_integrity(std::uint32_t level) {
  if (has_sufficient_integrity(level)) return;
  VYN_LOG_FATAL("Insufficient integrity level ({})", level);
  throw exceptions::insufficient_integrity_level();
}

std::uint32_t run_guarded(entry_host& host, const std::shared_ptr<sfx_proxy_parser_intf>& proxy,
                          std::shared_ptr<sfx_reporting_intf>& reporting) {
  reporting = host.create_sfx_reporting(proxy);
  command_line cmd(host.process_command_line(), true);
  const std::wstring session_id = choose_session_id(cmd, [&host] { return host.new_session_id(); });
  if (reporting) {
    reporting->set_cmdline(cmd.render(true));
    reporting->set_session_id(session_id);
  }
  const std::wstring trigger = launched_by(host);
  if (reporting) reporting->set_trigger(trigger);
  const std::vector<std::wstring> products = host.main_product_ids();
  if (reporting && !products.empty() && !products.front().empty()) {
    reporting->add_main_product(products.front(), L"", false);
  }

  host.prepare_log_file();
  VYN_LOG_INFO("*** Starting SFX ({}), System({}) ***", utils::to_log(host.file_version()), host.system_description());
  VYN_LOG_INFO("    launched by:'{}'", utils::to_log(trigger));
  if (reporting) reporting->send("sfx-start");
  check_os(host.system_version());
  check_integrity(host.integrity_level());

  const std::unique_ptr<sfx_process_intf> process = host.create_sfx_process(reporting, proxy, session_id);
  if (!process) throw vyn::exceptions::error(ERROR_CALL_NOT_IMPLEMENTED, "The run object is not available");
  const std::uint32_t result = process->run(host.process_path().c_str(), cmd.render(false).c_str());
  VYN_LOG_INFO("*** Ending SFX ({}, {:x}) ***", result, result);
  return result;
}

void show_failure(const failure_outcome& outcome, const std::wstring& log_path) {
  switch (outcome.kind) {
    case failure_outcome::message_kind::error:
      show_error(outcome.shown_code, log_path, outcome.text);
      break;
    case failure_outcome::message_kind::download:
      show_download_error(outcome.shown_code, log_path, outcome.text);
      break;
    case failure_outcome::message_kind::none:
      break;
  }
}

std::uint32_t handle_failure(entry_host& host, const std::shared_ptr<sfx_reporting_intf>& reporting,
                             const std::exception_ptr& failure) noexcept {
  const failure_outcome outcome = describe_failure(failure);
  // The exit code is decided; failing to tell about it must not end the process differently.
  try {
    if (reporting && outcome.crash_message) reporting->set_crash_msg(*outcome.crash_message);
    show_failure(outcome, host.log_file_path());
    if (reporting) {
      reporting->set_ret_code(static_cast<std::int32_t>(outcome.exit_code));
      reporting->send("sfx-fail");
    }
  } catch (const std::exception& e) {
    VYN_LOG_EXC(log::level::error, e, "Reporting the failure failed.");
  } catch (...) {
    VYN_LOG_ERROR("Reporting the failure failed.");
  }
  VYN_LOG_INFO("*** Ending SFX after exception ({}, {:x}) ***", outcome.exit_code, outcome.exit_code);
  return outcome.exit_code;
}

// The stub's own host: facts read from Windows; the components that the stub does not carry yet
// (proxy settings, reporting) are absent.
class system_host final : public entry_host {
 public:
  std::wstring process_command_line() override {
    const wchar_t* text = ::GetCommandLineW();
    return text ? text : L"";
  }
  std::wstring process_path() override { return system_info::module_path(); }
  // The log folders and the log file come with the logging module; until then the log has no
  // file and only the OS information is prepared here.
  void prepare_log_file() override { system_version(); }
  std::wstring log_file_path() override { return {}; }
  os_version system_version() override {
    if (!version_) version_ = system_info::query_os_version();
    return *version_;
  }
  std::string system_description() override {
    return describe_os(system_version(), system_info::is_server_r2(), system_info::native_platform());
  }
  std::uint32_t integrity_level() override { return system_info::process_integrity_level(); }
  system_info::parent_process parent_process() override { return system_info::query_parent_process(); }
  std::vector<std::wstring> main_product_ids() override {
    return system_info::version_strings(process_path(), L"MainProductId");
  }
  std::wstring file_version() override { return system_info::file_version(process_path()); }
  std::wstring new_session_id() override { return utils::to_wide(utils::random_uuid()); }

  std::shared_ptr<sfx_proxy_parser_intf> create_sfx_proxy_parser(const std::wstring&) override { return {}; }
  std::shared_ptr<sfx_reporting_intf> create_sfx_reporting(std::shared_ptr<sfx_proxy_parser_intf>) override {
    return {};
  }
  std::unique_ptr<sfx_process_intf> create_sfx_process(std::shared_ptr<sfx_reporting_intf> reporting,
                                                       std::shared_ptr<sfx_proxy_parser_intf> proxy,
                                                       const std::wstring& session_id) override {
    return std::make_unique<sfx_process>(std::move(reporting), std::move(proxy), session_id);
  }

 private:
  std::optional<os_version> version_;
};

}  // namespace

std::uint32_t run_entry_sequence(entry_host& host) noexcept {
  std::shared_ptr<sfx_reporting_intf> reporting;
  try {
    const std::shared_ptr<sfx_proxy_parser_intf> proxy = create_proxy_parser(host);
    return run_guarded(host, proxy, reporting);
  } catch (...) {
    return handle_failure(host, reporting, std::current_exception());
  }
}

std::uint32_t entry_point(HINSTANCE) noexcept {
  try {
    system_host host;
    return run_entry_sequence(host);
  } catch (...) {
    return exit_code::generic_failure;
  }
}

}  // namespace vyn::sfx
