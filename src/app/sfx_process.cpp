#include "app/sfx_process.h"

#include <cstring>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "app/exit_codes.h"
#include "app/language_table.h"
#include "foundation/directories.h"
#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/strings.h"

namespace vyn::sfx {

// What a run keeps between its steps once the temporary folder exists. Members are released in
// reverse order: launcher, preparation, temporary folder (deleting it), translator, splash.
struct sfx_process::session {
  std::wstring title;  // product title, known once the splash is asked for
  std::shared_ptr<features::splash::gif_wnd_data_intf> splash_data;
  std::shared_ptr<features::splash::gif_wnd_intf> splash;
  std::shared_ptr<sfx_translator_intf> translator;
  std::unique_ptr<temp_dir_intf> temp;
  std::wstring temp_path;
  std::unique_ptr<prepare_setup_intf> preparation;
  std::wstring setup_command;  // the setup master's path, possibly followed by its arguments
  std::shared_ptr<secure_process_launcher_intf> launcher;
};

namespace {

constexpr int splash_gif_id = 200;
constexpr int splash_icon_id = 128;
constexpr int splash_colour_id = 400;
constexpr std::uint32_t default_text_colour = 0x00FEFEFE;

// A component the run cannot do without.
template <class Owner>
Owner require(Owner component, const char* what) {
  if (!component) {
    VYN_LOG_ERROR("The {} component is not available.", what);
    throw vyn::exceptions::error(ERROR_CALL_NOT_IMPLEMENTED, fmt::format("The {} component is not available", what));
  }
  return component;
}

// The colour of the splash text may be branded through a 4-byte resource.
std::uint32_t splash_text_colour(HMODULE module) {
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(splash_colour_id), L"COLOR");
  if (!found || ::SizeofResource(module, found) != sizeof(std::uint32_t)) return default_text_colour;
  HGLOBAL loaded = ::LoadResource(module, found);
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  if (!bytes) return default_text_colour;
  std::uint32_t colour = 0;
  std::memcpy(&colour, bytes, sizeof(colour));
  return colour;
}

struct master_command {
  std::wstring program;
  std::wstring arguments;
};

// The setup master's command text is its path followed, when the product description gives it
// arguments, by a blank and those arguments. The path may hold blanks as well, so the program is
// the longest part of the text before a blank that names an existing file: the master is in place
// by now, and a longer part would lie inside the stub's own folder. A text that names no file is
// the program as a whole (its start then fails as for a missing master).
master_command split_master_command(const std::wstring& text) {
  if (text.empty() || files::file_exists(text)) return {text, {}};
  for (std::size_t blank = text.rfind(L' '); blank != std::wstring::npos && blank > 0;
       blank = text.rfind(L' ', blank - 1)) {
    if (text[blank - 1] == L' ') continue;  // the path ends before the first of several blanks
    std::wstring program = text.substr(0, blank);
    if (!files::file_exists(program)) continue;
    const std::size_t arguments = text.find_first_not_of(L' ', blank);
    return {std::move(program), arguments == std::wstring::npos ? std::wstring{} : text.substr(arguments)};
  }
  return {text, {}};
}

bool hides_splash(const std::wstring& silent_value) {
  return utils::ifind(silent_value, L"splash") != std::wstring::npos ||
         utils::ifind(silent_value, L"stub_loading") != std::wstring::npos;
}

}  // namespace

sfx_process::sfx_process(std::shared_ptr<sfx_reporting_intf> reporting, std::shared_ptr<sfx_proxy_parser_intf> proxy,
                         const std::wstring& session_id) {
  context_.values = std::make_shared<value_holder>();
  context_.reporting = std::move(reporting);
  context_.proxy = std::move(proxy);
  context_.values->set(L"session-id", session_id);
}

std::uint32_t sfx_process::run(const wchar_t* process_path_text, const wchar_t* command_line_text) {
  const std::wstring process_path = process_path_text ? process_path_text : L"";
  const std::wstring command_text = command_line_text ? command_line_text : L"";
  VYN_LOG_INFO("SFX started with command line '{}'", utils::to_log(command_text));
  context_.values->set(L"process-path", process_path);

  const std::shared_ptr<win::unique_handle> own_file = check_own_signature(process_path);
  context_.info = create_kestro_info();
  if (auto index = create_payload(own_file, context_)) context_.payload = std::move(index);

  const std::wstring migrated = migrate_command_line(command_text);
  context_.cmd.parse(migrated, false);
  append_text_element(context_.info.get(), L"sfx-cmd", context_.cmd.render(false));
  append_text_element(context_.info.get(), L"session-id", context_.values->get(L"session-id", L""));
  choose_language();

  std::uint32_t result = 0;
  try {
    result = prepare_and_launch(migrated);
  } catch (const exceptions::ppi_cancel& e) {
    // Cancelling is the user's choice, not a failure: the run ends normally with its code.
    result = e.code();
  }
  finish(result);
  return result;
}

// A stub that cannot prove its own signature never runs, also when no verifier is available. The
// file is opened once: its signature is checked on that handle and its payload read through it, so
// a file put in its place after the check is never read.
std::shared_ptr<win::unique_handle> sfx_process::check_own_signature(const std::wstring& process_path) {
  win::unique_handle file;
  bool signed_ok = false;
  {
    files::fs_redirection_auto redirection_off;
    file = open_stub_file(process_path);
    if (!file) {
      const DWORD code = ::GetLastError();
      VYN_LOG_ERROR("Open file '{}' for DSA check fail  {}!", utils::to_log(process_path), code);
      throw vyn::exceptions::error(code, "Open file for DSA check fail!");
    }
    if (const auto verifier = create_verify_signature()) signed_ok = verifier->verify_handle(file.get());
  }
  if (!signed_ok) {
    VYN_LOG_ERROR("SFX is not DSA signed!");
    throw exceptions::sfx_invalid_signature();
  }
  return std::make_shared<win::unique_handle>(std::move(file));
}

std::wstring sfx_process::migrate_command_line(const std::wstring& text) {
  try {
    if (const auto migration = create_sfx_migrate_cmd_params()) {
      return migration->second_conversion(migration->first_conversion(text));
    }
  } catch (const std::exception& e) {
    VYN_LOG_EXC(log::level::error, e, "Convert INNO parameters to Kestro fail");
  }
  return text;
}

void sfx_process::choose_language() {
  const std::int32_t language = sfx::choose_language(context_.cmd, ::GetUserDefaultUILanguage());
  context_.values->set_int(L"lang-id", language);
}

std::uint32_t sfx_process::prepare_and_launch(const std::wstring& migrated) {
  session s;
  create_temp_folder(s);
  if (context_.reporting) {
    context_.reporting->set_disk_path(context_.values->get(L"tmp-path", L""));
    context_.reporting->send("sfx-preparing");
  }

  s.preparation = require(create_prepare_setup(context_), "setup preparation");
  s.preparation->prepare(
      s.setup_command, [this, &s](const std::wstring& title) { show_splash(s, title); },
      [this, &s](std::uint8_t percent) { report_progress(s, percent); });
  if (context_.info) context_.info->save(files::join_path(context_.values->get(L"tmp-path", L""), L"kestro-info.xml"));
  announce_start(s);

  s.launcher = require(create_secure_process_launcher(), "setup launcher");
  const command_line setup = compose_setup_command_line(s, migrated);
  if (context_.reporting) context_.reporting->send("sfx-running-kestro");
  const std::uint32_t result = launch(s, setup);
  if (s.splash) s.splash->close();
  if (exit_code::setup_crashed(result)) {
    s.launcher->wait_for_bug_report(files::join_path(context_.values->get(L"tmp-path", L""), L"common"));
  }
  return result;
}

void sfx_process::create_temp_folder(session& s) {
  const std::wstring base = context_.cmd.find(L"tmp-path").value_or(L"");
  const bool delete_on_destroy = !context_.cmd.has(L"xperf");
  s.temp = require(create_temp_dir(base, delete_on_destroy), "temporary folder");
  s.temp_path = s.temp->get_path();
  context_.values->set(L"tmp-path", s.temp_path);
  append_text_element(context_.info.get(), L"temp-base-dir", s.temp_path);
}

std::wstring sfx_process::translate(const session& s, const std::wstring& identifier,
                                    const std::vector<std::wstring>& arguments) const {
  if (s.translator) return s.translator->format(identifier, arguments);
  return fill_placeholders(identifier, arguments);
}

void sfx_process::show_splash(session& s, const std::wstring& title) {
  s.title = title;
  s.translator = create_translator(context_.values->get_int(L"lang-id", 0));
  const std::wstring window_title = translate(s, L"@Sfx_Title", {title});
  HMODULE module = ::GetModuleHandleW(nullptr);
  s.splash_data = create_res_gif_wnd_data(module, splash_gif_id, L"GIF", splash_icon_id, window_title, title);
  if (!s.splash_data) return;
  s.splash_data->set_text_colour(splash_text_colour(module));
  s.splash = create_gif_wnd(s.splash_data);
  if (!s.splash) return;
  s.splash->start(true);
  s.splash->mark_taskbar_button();
}

void sfx_process::report_progress(session& s, std::uint8_t percent) {
  if (!s.splash) return;
  s.splash->set_text(s.title + L"... " + utils::decimal(percent) + L"%");
  s.splash->set_progress(percent);
}

void sfx_process::announce_start(session& s) {
  if (!s.splash) return;
  s.splash->set_text(s.title + L"... " + translate(s, L"@Sfx_Starting", {}));
  s.splash->set_progress(-1);
  // The launching program may show its own progress: the splash then only stays hidden.
  if (const auto silent = context_.cmd.find(L"silent"); silent && hides_splash(*silent)) s.splash->hide();
}

command_line sfx_process::compose_setup_command_line(const session& s, const std::wstring& migrated) {
  command_line setup;
  const master_command master = split_master_command(s.setup_command);
  if (!master.program.empty()) setup.set_program_name(master.program);
  // The description's arguments come first; what the stub sets and what its own command line
  // says override same-named ones.
  if (!master.arguments.empty()) setup.merge(command_line(master.arguments, false));
  setup.set(L"kestro-info-path", files::join_path(s.temp_path, L"kestro-info.xml"));
  setup.get_or_add(context_.values->get_bool(L"clear", false) ? L"clear" : L"install");
  if (!migrated.empty()) setup.merge(command_line(migrated, false));
  // The temporary folder is the stub's own; the setup must not create its folder there too.
  setup.remove(L"tmp-path");
  if (context_.values->get_bool(L"silent", false) && !setup.has(L"silent")) setup.set(L"silent", L"");
  // Tells the setup master whom to send the splash hide message.
  if (s.splash) setup.set(L"sssid", utils::decimal(::GetCurrentProcessId()));
  if (context_.proxy && context_.proxy->is_configured()) {
    const std::wstring ini = files::join_path(s.temp_path, L"proxy.ini");
    write_proxy_ini(context_.proxy->settings(), ini);
    setup.set(L"proxy_ini", ini);
  }
  return setup;
}

std::uint32_t sfx_process::launch(session& s, const command_line& setup) {
  try {
    return s.launcher->run(setup.program_name().value_or(L""), setup.render(false), INFINITE);
  } catch (const std::exception& e) {
    VYN_LOG_EXC(log::level::error, e, "Execute setup master process '{}' failed!", utils::to_log(s.setup_command));
    throw;
  }
}

void sfx_process::finish(std::uint32_t result) {
  if (result == exit_code::restart_required) {
    if (context_.reporting) context_.reporting->set_reboot(true);
    VYN_LOG_DEBUG("Restart is required");
  }
  if (context_.reporting) {
    context_.reporting->set_ret_code(static_cast<std::int32_t>(result));
    context_.reporting->send("sfx-finish");
  }
}

std::shared_ptr<verify_signature_intf> sfx_process::create_verify_signature() {
  return std::make_shared<verify_signature>();
}

std::unique_ptr<temp_dir_intf> sfx_process::create_temp_dir(std::wstring_view base, bool delete_on_destroy) {
  return std::make_unique<temp_dir>(base, delete_on_destroy);
}

std::shared_ptr<value_holder_intf> sfx_process::create_value_holder() { return std::make_shared<value_holder>(); }

std::unique_ptr<payload_intf> sfx_process::create_payload(std::shared_ptr<win::unique_handle> stub_file,
                                                          shared_context& context) {
  return std::make_unique<payload>(std::move(stub_file), context);
}

std::shared_ptr<features::splash::gif_wnd_intf> sfx_process::create_gif_wnd(
    std::shared_ptr<features::splash::gif_wnd_data_intf> content) {
  return std::make_shared<features::splash::gif_wnd>(std::move(content));
}

std::shared_ptr<features::splash::gif_wnd_data_intf> sfx_process::create_res_gif_wnd_data(
    HINSTANCE module, int gif_id, const wchar_t* gif_type, int icon_id, const std::wstring& window_title,
    const std::wstring& product_title) {
  return std::make_shared<features::splash::res_gif_wnd_data>(module, gif_id, gif_type, icon_id, window_title,
                                                              product_title);
}

std::unique_ptr<payload_enumerator_intf> sfx_process::create_payload_enumerator(
    std::shared_ptr<files::file_mapping> mapping) {
  return std::make_unique<payload_enumerator>(std::move(mapping));
}

std::unique_ptr<prepare_setup_intf> sfx_process::create_prepare_setup(shared_context& context) {
  return std::make_unique<prepare_setup>(context);
}

std::shared_ptr<secure_process_launcher_intf> sfx_process::create_secure_process_launcher() {
  return std::make_shared<secure_process_launcher>();
}

std::shared_ptr<kestro_info_intf> sfx_process::create_kestro_info() { return std::make_shared<kestro_info>(); }

std::shared_ptr<info_parser_intf> sfx_process::create_info_parser(shared_context& context) {
  return std::make_shared<info_parser>(context);
}

std::unique_ptr<sfx_migrate_cmd_params_intf> sfx_process::create_sfx_migrate_cmd_params() {
  return std::make_unique<sfx_migrate_cmd_params>();
}

std::shared_ptr<sfx_proxy_parser_intf> sfx_process::create_sfx_proxy_parser(const std::wstring& command_line) {
  return std::make_shared<sfx_proxy_parser>(command_line);
}

std::shared_ptr<sfx_translator_intf> sfx_process::create_translator(std::int32_t language) {
  return std::make_shared<sfx_translator>(language);
}

void sfx_process::write_proxy_ini(const http::ProxySettings& settings, const std::wstring& path) {
  sfx::write_proxy_ini(settings, path);
}

}  // namespace vyn::sfx
