#include "setup/prepare_setup.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <vector>

#include <fmt/format.h>

#include "foundation/directories.h"
#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/handle.h"
#include "foundation/log.h"
#include "foundation/os_info.h"
#include "foundation/paths.h"
#include "foundation/strings.h"
#include "net/sfx_reporting.h"
#include "payload/payload.h"
#include "setup/kestro_info_intf.h"
#include "setup/setup_file_name.h"

namespace vyn::sfx {
namespace {

using utils::to_log;
using utils::to_narrow;

constexpr wchar_t plugin_name[] = L"kestro_mod.dll";
constexpr DWORD plugin_first_length = 100;

// The plug-in's export: product name, current channel, output buffer, its length in characters
// (in: capacity, out: characters written or needed), reserved 0.
using check_channel_fn = DWORD(WINAPI*)(const wchar_t*, const wchar_t*, wchar_t*, DWORD*, DWORD);

// Whether the splash may show: not asked away on the command line or by the configuration.
// "/silent" alone hides it, unless its value asks for the splash or the loading screen.
bool splash_wanted(const command_line& cmd, const value_holder_intf& values) {
  if (const auto silent = cmd.find(L"silent")) {
    if (utils::ifind(*silent, L"splash") == std::wstring::npos &&
        utils::ifind(*silent, L"stub_loading") == std::wstring::npos) {
      return false;
    }
  }
  return !cmd.has(L"verysilent") && !cmd.has(L"nosplash") && !values.get_bool(L"silent", false) &&
         !values.get_bool(L"nosplash", false);
}

// The callback that turns the bytes received for one file into the overall percentage: the
// sizes of the files placed before it plus the part of this file received, over the sizes of
// all files. A file's part never exceeds its size (a body sent twice after the server ignored a
// range counts once), and a percentage is reported, and logged, only when it rises.
prepare_setup::file_progress file_progress_callback(const prepare_setup_intf::report_progress_callback& report,
                                                    double placed_before, double size, double total_size,
                                                    const std::shared_ptr<int>& reported) {
  // The downloader keeps the callback beyond this file and this call: it owns all it uses.
  return [report, placed_before, size, total_size, reported, received = std::int64_t{0}](
             std::uint32_t bytes, std::int64_t total) mutable {
    received += bytes;
    if (!report || total <= 0 || total_size <= 0) return;
    const double part = std::min(static_cast<double>(received) / static_cast<double>(total), 1.0);
    // Sizes come from the description: a negative one must not push the share below 0 (nor a
    // huge one out of the integer's range) before it becomes a percentage.
    const double share = (placed_before + part * size) / total_size * 100.0;
    const int percent = static_cast<int>(std::clamp(share, 0.0, 100.0));
    if (percent <= *reported) return;
    *reported = percent;
    VYN_LOG_DEBUG("Setup progress {}%", percent);
    report(static_cast<std::uint8_t>(percent));
  };
}

// The plug-in may ship DLLs of its own beside it; the process otherwise loads only from System32.
// Without the loader update of Windows 7 the search flags are refused, and there the process
// search order is not restricted either.
HMODULE load_plugin(const std::wstring& path) {
  HMODULE library =
      ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!library && ::GetLastError() == ERROR_INVALID_PARAMETER) {
    library = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  return library;
}

std::wstring description_url(const std::wstring& base_url, const product_info& product) {
  return base_url + L"/defs/" + product.name + L"/" + product.channel + L".xml.lzma";
}

std::wstring description_alias(const product_info& product) {
  return product.name + L"/" + product.channel + L".xml";
}

}  // namespace

void prepare_setup::prepare(std::wstring& command_line, show_splash_callback show_splash,
                            report_progress_callback report_progress) {
  value_holder_intf& values = *context_.values;
  const auto& cmd = context_.cmd;
  const auto& reporting = context_.reporting;
  downloader_ = create_sfx_downloader(context_);

  const auto sfx_info = create_info_parser(context_);
  sfx_info->parse();

  const std::int32_t language = values.get_int(L"lang-id", 0);
  const std::wstring title = sfx_info->title(static_cast<std::uint32_t>(language));
  if (reporting) reporting->set_title(title);

  values.set(L"base-url", cmd.find(L"base-url").value_or(sfx_info->repository_base_url()));
  const std::wstring report_url = cmd.find(L"report-url").value_or(sfx_info->report_url());
  if (!report_url.empty() && reporting) reporting->set_report_url(report_url);

  if (sfx_info->silent()) values.set_bool(L"silent", true);
  if (sfx_info->nosplash()) values.set_bool(L"nosplash", true);
  if (sfx_info->clear() || cmd.has(L"clear")) {
    values.set_bool(L"clear", true);
    if (reporting) reporting->set_operation("clear");
  }

  if (auto stub = create_microstub(context_)) {
    context_.microstub = stub;
    stub->verify();
    if (const std::wstring cookie = stub->cookie(); !cookie.empty()) record_cookie(cookie);
  }
  if (const auto cookie = cmd.find(L"cookie")) record_cookie(*cookie);

  const bool offline = sfx_info->offline() || cmd.has(L"offline");

  if (cmd.has(L"ppi_icd")) {
    // Without a dialog the answer is the one of a dialog that could not be shown: nothing is
    // installed unconfirmed.
    const auto dialog = create_confirm_dlg();
    const std::int32_t answer = dialog ? dialog->show(title, language) : 1;
    VYN_LOG_INFO("PPI dialog return {}", answer);
    if (answer == 2) throw exceptions::ppi_cancel();
    if (answer != 0) throw exceptions::ppi_abort(static_cast<std::uint32_t>(answer));
  }

  if (show_splash && splash_wanted(cmd, values)) show_splash(title);

  const auto evaluator = create_master_setup_evaluator();

  if (sfx_info->products().empty()) {
    throw vyn::exceptions::error("The sfx-info.xml does not contain any product data!");
  }
  product_info main_product = sfx_info->products().front();

  const std::wstring folder = files::join_path(values.get(L"tmp-path", L""), L"common");
  if (files::directory_exists(folder)) {
    VYN_LOG_INFO("The folder {} already exists.", to_log(folder));
  } else {
    try {
      files::create_directory(folder);
    } catch (const vyn::exceptions::detail::base& e) {
      VYN_LOG_ERROR("Create directory '{}' fail {}!", to_log(folder), e.code());
      throw vyn::exceptions::error(e.code(), "Create directory fail");
    }
    VYN_LOG_INFO("The temp folder '{}' has been successfully created.", to_log(folder));
  }

  if (reporting) {
    bool reset = true;
    for (const auto& product : sfx_info->products()) {
      const product_info& reported = product.name == main_product.name ? main_product : product;
      reporting->add_main_product(reported.name, reported.channel, reset);
      reset = false;
    }
  }

  const std::wstring base_url = values.get(L"base-url", L"");
  auto description = product_description(base_url, main_product, offline);

  if (!main_product.channel_overridden && !offline) {
    const auto& files = description->setup_files();
    const auto plugin = std::find_if(files.begin(), files.end(),
                                     [](const file_info& f) { return utils::iequals(f.name, plugin_name); });
    if (plugin != files.end()) {
      std::wstring channel;
      try {
        process_setup_file(*plugin, main_product, folder, offline, {});
        channel = plugin_channel(files::join_path(folder, plugin->name), main_product);
      } catch (const std::exception& e) {
        VYN_LOG_EXC(log::level::error, e, "Cound lod load kestro_mod.dll");
      }
      if (!channel.empty()) {
        main_product.channel = channel;
        description = downloader(L"product description").download_product_info(description_url(base_url, main_product));
      }
    }
  }

  description->save(files::join_path(folder, L"product-info.xml"));

  if (os::current().native == os::platform::arm64 && !description->has_arm64_master()) {
    VYN_LOG_ERROR("Missing ARM64 kestro.exe, cannot be installed on ARM64");
    throw exceptions::unsupported_os();
  }

  const auto& setup_files = description->setup_files();
  double total_size = 0;
  for (const auto& file : setup_files) total_size += static_cast<double>(file.size);
  // Shared by the callbacks of all files, so that the reported percentage never goes back.
  const auto reported = std::make_shared<int>(-1);
  double placed_size = 0;
  for (const auto& file : setup_files) {
    if (file.name.empty()) {
      VYN_LOG_ERROR("The file name is not specified in product-info.xml for hash '{}', fail!", to_log(file.sha256));
      throw vyn::exceptions::error(fmt::format(
          "The file name is not specified in product-info.xml for hash '{}', fail!", to_log(file.sha256)));
    }
    process_setup_file(file, main_product, folder, offline,
                       file_progress_callback(report_progress, placed_size, static_cast<double>(file.size),
                                              total_size, reported));
    placed_size += static_cast<double>(file.size);
    evaluator->evaluate(file.name, description->setup_commands(), folder);
  }

  if (!offline) {
    const double speed = downloader_ ? downloader_->average_speed() : 0.0;
    append_text_element(context_.info.get(), L"average-download-speed", utils::to_wide(utils::fixed(speed, 6)));
  }

  if (const auto edat = create_sfx_edat(context_)) edat->unpack_edat_files();
  if (context_.microstub) context_.microstub->copy_edat_files();

  command_line = evaluator->command_line();
}

std::shared_ptr<product_info_parser_intf> prepare_setup::product_description(const std::wstring& base_url,
                                                                             const product_info& product,
                                                                             bool offline) {
  const std::wstring url = description_url(base_url, product);
  const std::wstring alias = description_alias(product);
  std::exception_ptr download_failure;
  if (!offline) {
    try {
      return downloader(L"product description").download_product_info(url);
    } catch (const std::exception&) {
      download_failure = std::current_exception();
    }
  }
  if (auto parser = description_from_payload(alias)) return parser;

  const std::string message =
      fmt::format("The product-info.xml '{}' has not been found in SFX, fail!", to_log(alias));
  VYN_LOG_ERROR("{}", message);
  if (download_failure) std::rethrow_exception(download_failure);
  throw exceptions::missign_sfx_file(message);
}

std::shared_ptr<product_info_parser_intf> prepare_setup::description_from_payload(const std::wstring& alias) {
  const auto record = context_.payload ? context_.payload->find_by_alias(alias) : nullptr;
  if (!record) return nullptr;
  const std::vector<std::uint8_t> bytes = record->unpack();
  const auto verifier = create_verify_signature();
  if (!verifier || !verifier->verify_block(bytes.data(), bytes.size())) {
    VYN_LOG_ERROR("DSA verification check of file data '{}' fail!", to_log(alias));
    throw vyn::exceptions::error(fmt::format("File is not DSA signed (alias:{})!", to_log(alias)));
  }
  auto parser = create_product_info_parser(context_);
  parser->parse(bytes);
  VYN_LOG_DEBUG("The product-info.xml '{}' has been correctly unpacked from SFX archive.", to_log(alias));
  return parser;
}

void prepare_setup::process_setup_file(const file_info& file, const product_info& product,
                                       const std::wstring& folder, bool offline, const file_progress& progress) {
  const std::wstring target = files::join_path(folder, file.name);
  if (!stays_in_folder(file.name)) {
    const std::string message = fmt::format(
        "The file name '{}' in product-info.xml does not stay inside the product folder, fail!", to_log(file.name));
    VYN_LOG_ERROR("{}", message);
    throw vyn::exceptions::error(ERROR_INVALID_NAME, message);
  }
  if (const std::size_t slash = file.name.find_last_of(L"\\/"); slash != std::wstring::npos) {
    files::create_directory(files::join_path(folder, file.name.substr(0, slash)));
  }
  std::shared_ptr<unpacker_intf> record;
  if (context_.payload) {
    record = context_.payload->find_by_hash(file.sha256);
    if (!record) record = context_.payload->find_by_alias(file.name);
  }
  if (!record && offline) {
    const std::string message = fmt::format("File '{}'|'{}' not found in SFX archive, mode 'offline', product '{}'",
                                            to_log(file.name), to_log(file.sha256), to_log(product.name));
    VYN_LOG_ERROR("{}", message);
    throw vyn::exceptions::error(message);
  }
  if (record) {
    try {
      record->unpack_to_file(target);
      if (progress) progress(static_cast<std::uint32_t>(file.size), file.size);
      VYN_LOG_DEBUG("File '{}' has been correctly unpacked from SFX archive and stored to '{}'.",
                    to_log(file.name), to_log(target));
      return;
    } catch (const std::exception& e) {
      VYN_LOG_ERROR("File '{}' from SFX archive has not been unpacked, fail with error {}!", to_log(file.name),
                    e.what());
      // With nothing to download from, the extraction's own error (an altered record, say) is
      // the one that tells what went wrong.
      if (!downloader_) throw;
    }
  }

  auto& fetcher = downloader(file.name);
  if (progress) fetcher.set_progress_callback(progress);
  try {
    fetcher.download_by_hash(file.sha256, target, file.sha256);
  } catch (const exceptions::download_no_content&) {
    throw exceptions::download_file_fail(13u, "No content, 204 status");
  }
  VYN_LOG_DEBUG("File '{}' has been correctly downloaded and stored to '{}'.", to_log(file.name), to_log(target));
}

std::wstring prepare_setup::plugin_channel(const std::wstring& dll_path, const product_info& product) {
  try {
    const win::unique_hmodule library(load_plugin(dll_path));
    if (!library) {
      VYN_LOG_ERROR("Loading MOD:'{}' fail {}.", to_log(dll_path), ::GetLastError());
      return {};
    }
    const auto check = reinterpret_cast<check_channel_fn>(
        reinterpret_cast<void*>(::GetProcAddress(library.get(), "CheckChannelCompatibility")));
    if (!check) {
      VYN_LOG_ERROR("MOD.dll function not found");
      return {};
    }
    std::vector<wchar_t> buffer(plugin_first_length);
    DWORD length = plugin_first_length;
    DWORD result = check(product.name.c_str(), product.channel.c_str(), buffer.data(), &length, 0);
    if (result == ERROR_MORE_DATA) {
      buffer.assign(length, L'\0');
      result = check(product.name.c_str(), product.channel.c_str(), buffer.data(), &length, 0);
    }
    if (result != ERROR_SUCCESS) {
      VYN_LOG_ERROR("Calling MOD.dll function fail {}", result);
      return {};
    }
    // A plug-in that reports more characters than the buffer holds must not make us read past it.
    std::wstring channel(buffer.data(), std::min<std::size_t>(length, buffer.size()));
    channel.resize(std::wcslen(channel.c_str()));
    if (utils::iequals(channel, product.channel)) return {};
    return channel;
  } catch (const std::exception& e) {
    VYN_LOG_EXC(log::level::error, e, "Checking MOD end with exception.");
    return {};
  }
}

sfx_downloader_intf& prepare_setup::downloader(const std::wstring& what) {
  if (!downloader_) {
    VYN_LOG_ERROR("Download of '{}' is not possible: this installer has no downloader.", to_log(what));
    throw exceptions::download_file_fail(ERROR_CALL_NOT_IMPLEMENTED,
                                         fmt::format("Download file '{}' failed", to_log(what)));
  }
  return *downloader_;
}

void prepare_setup::record_cookie(const std::wstring& cookie) {
  if (context_.reporting) context_.reporting->set_aiid(cookie);
  append_text_element(context_.info.get(), L"cookie", cookie);
}

std::shared_ptr<sfx_downloader_intf> prepare_setup::create_sfx_downloader(shared_context& context) {
  return std::make_shared<sfx_downloader>(context);
}

std::shared_ptr<info_parser_intf> prepare_setup::create_info_parser(shared_context& context) {
  return std::make_shared<info_parser>(context);
}

std::shared_ptr<product_info_parser_intf> prepare_setup::create_product_info_parser(shared_context& context) {
  return std::make_shared<product_info_parser>(context);
}

std::unique_ptr<master_setup_evaluator_intf> prepare_setup::create_master_setup_evaluator() {
  return std::make_unique<master_setup_evaluator>();
}

std::shared_ptr<verify_signature_intf> prepare_setup::create_verify_signature() {
  return std::make_shared<verify_signature>();
}

std::unique_ptr<sfx_edat_intf> prepare_setup::create_sfx_edat(shared_context& context) {
  return std::make_unique<sfx_edat>(context);
}

std::unique_ptr<confirm_dlg_intf> prepare_setup::create_confirm_dlg() { return std::make_unique<confirm_dlg>(); }

std::shared_ptr<microstub_intf> prepare_setup::create_microstub(shared_context& context) {
  return std::make_shared<microstub>(context);
}

}  // namespace vyn::sfx
