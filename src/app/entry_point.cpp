#include "app/entry_point.h"


#include <fmt/format.h>
#include <fmt/format.h>

#include "app/exit_codes.h"
#include "app/failure.h"
#include "app/message_box.h"
#include "foundation/directories.h"
#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/logger.h"
#include "foundation/os_info.h"
#include "foundation/paths.h"
#include "foundation/product_identity.h"
#include "foundation/version_resource.h"
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
    return utils::to_wide(fmt::format("{}-", static_cast<std::int32_t>(parent.id))) + parent.image_path;
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
    // The configuration names the endpoint only later; one given on the command line receives
    // the start record too, so that all records of a run reach one endpoint.
    if (const auto url = cmd.find(L"report-url"); url && !url->empty()) reporting->set_report_url(*url);
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
  if (const std::wstring special = host.special_build(); !special.empty()) {
    VYN_LOG_WARNING("    special build: '{}'", utils::to_log(special));
  }
  if (reporting) reporting->send("sfx-start");
  check_os(host.system_version());
  check_integrity(host.integrity_level());

  const std::unique_ptr<sfx_process_intf> process = host.create_sfx_process(reporting, proxy, session_id);
  if (!process) throw vyn::exceptions::error(ERROR_CALL_NOT_IMPLEMENTED, "The run object is not available");
  const std::uint32_t result = process->run(host.process_path().c_str(), cmd.render(false).c_str());
  VYN_LOG_INFO("*** Ending SFX ({}, {:x}) ***", result, result);
  return result;
}

std::uint32_t handle_failure(entry_host& host, const std::shared_ptr<sfx_reporting_intf>& reporting,
                             const std::exception_ptr& failure) noexcept {
  const failure_outcome outcome = describe_failure(failure);
  // The exit code is decided; failing to tell about it must not end the process differently.
  try {
    if (reporting && outcome.crash_message) reporting->set_crash_msg(*outcome.crash_message);
    host.show_failure(outcome, host.log_file_path());
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

// Security of the data folder and its "Logs" folder: full control for the system and
// administrators, users may read and write files but not change the folders' permissions.
constexpr const wchar_t* existing_folder_sddl = L"O:BAG:BAD:P(A;CIOI;FA;;;SY)(A;CIOI;FA;;;BA)(A;CIOI;DTFRFW;;;BU)";
constexpr const wchar_t* new_data_folder_sddl = L"D:P(A;CIOI;GA;;;SY)(A;CIOI;GA;;;BA)(A;CIOI;GRGX;;;BU)";

// Creates the folder with the descriptor, or applies the existing-folder descriptor to it.
void prepare_folder(const std::wstring& path, const wchar_t* new_folder_sddl) {
  if (files::directory_exists(path)) {
    files::set_security(path, existing_folder_sddl);
  } else {
    files::create_directory(path, new_folder_sddl);
  }
}

// The stub's own host: facts read from Windows.
class system_host final : public entry_host {
 public:
  std::wstring process_command_line() override {
    const wchar_t* text = ::GetCommandLineW();
    return text ? text : L"";
  }
  std::wstring process_path() override { return files::module_path(); }
  void prepare_log_file() override {
    files::create_directory(root::company_folder());
    const std::wstring& data = root::data_folder();
    prepare_folder(data, new_data_folder_sddl);
    const std::wstring logs = root::logs_folder();
    prepare_folder(logs, existing_folder_sddl);
    logger_ = log::open_log(files::join_path(logs, L"sfx.log"));
    os::current();
  }
  std::wstring log_file_path() override { return logger_ ? logger_->file_path() : std::wstring(); }
  os_version system_version() override { return os::current().version; }
  std::string system_description() override { return os::describe(os::current()); }
  std::uint32_t integrity_level() override { return system_info::process_integrity_level(); }
  system_info::parent_process parent_process() override { return system_info::query_parent_process(); }
  std::vector<std::wstring> main_product_ids() override {
    try {
      std::wstring id = root::read_module_version_string(::GetModuleHandleW(nullptr), L"MainProductId", true);
      if (!id.empty()) return {std::move(id)};
    } catch (const vyn::exceptions::error&) {
      // a stub without a version resource simply reports no main product
    }
    return {};
  }
  // Only for the start-up line: a stub without a readable version still runs.
  std::wstring file_version() override {
    try {
      const auto v = files::file_version_numbers(process_path());
      return utils::to_wide(fmt::format("{}.{}.{}.{}", v[0], v[1], v[2], v[3]));
    } catch (const vyn::exceptions::error&) {
      return {};
    }
  }
  std::wstring special_build() override {
    try {
      return root::read_module_version_string(::GetModuleHandleW(nullptr), L"SpecialBuild", true);
    } catch (const vyn::exceptions::error&) {
      return {};
    }
  }
  std::wstring new_session_id() override { return utils::to_wide(utils::random_uuid()); }
  void show_failure(const failure_outcome& outcome, const std::wstring& log_path) override {
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

  std::shared_ptr<sfx_proxy_parser_intf> create_sfx_proxy_parser(const std::wstring& command_line) override {
    return std::make_shared<sfx_proxy_parser>(command_line);
  }
  std::shared_ptr<sfx_reporting_intf> create_sfx_reporting(std::shared_ptr<sfx_proxy_parser_intf> proxy) override {
    return std::make_shared<sfx_reporting>(std::move(proxy));
  }
  std::unique_ptr<sfx_process_intf> create_sfx_process(std::shared_ptr<sfx_reporting_intf> reporting,
                                                       std::shared_ptr<sfx_proxy_parser_intf> proxy,
                                                       const std::wstring& session_id) override {
    return std::make_unique<sfx_process>(std::move(reporting), std::move(proxy), session_id);
  }

 private:
  log::logger_ref logger_;  // keeps the log module's file open until the run has ended
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
