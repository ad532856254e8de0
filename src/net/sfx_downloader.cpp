#include "net/sfx_downloader.h"

#include <windows.h>

#include <chrono>
#include <exception>

#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/file_digest.h"
#include "foundation/handle.h"
#include "foundation/log.h"
#include "foundation/random.h"
#include "foundation/sha256.h"
#include "foundation/strings.h"
#include "payload/lzma_packer.h"

namespace vyn::sfx {
namespace {

using utils::to_log;

constexpr std::uint32_t send_timeout = 15000;
constexpr std::uint32_t receive_timeout = 15000;
constexpr std::uint32_t resolve_timeout = 15000;
constexpr std::uint32_t connect_timeout = 30000;
constexpr std::uint32_t invalid_data = 13;  // ERROR_INVALID_DATA

bool success(std::int32_t status) { return status >= 200 && status <= 299; }

// The transport returns other statuses only without an exception of its own; what arrived then
// is no object and must not be unpacked.
void require_success(std::int32_t status, const std::wstring& url) {
  if (success(status)) return;
  throw exceptions::download_file_fail(
      invalid_data, fmt::format("Download of '{}' failed with status {}", to_log(url), status));
}

// Marks an open file for deletion when it is closed; a file that cannot be marked is logged.
void delete_on_close(HANDLE file, const std::wstring& path) {
  FILE_DISPOSITION_INFO dispose{TRUE};
  if (!::SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof(dispose))) {
    VYN_LOG_ERROR("Unable to mark '{}' for deletion, {}", to_log(path), ::GetLastError());
  }
}

// The folder part of a path: up to its last "\" or "/", empty when it has none.
std::wstring folder_of(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// Whether the hexadecimal text names the digest; text that is no digest names none.
bool same_digest(const std::wstring& expected, const root::digest& actual) {
  try {
    const root::digest wanted{std::wstring_view(expected)};
    return !wanted.empty() && wanted == actual;
  } catch (const std::invalid_argument&) {
    return false;
  }
}

}  // namespace

std::int32_t sfx_downloader::download_internal(const std::wstring& url_text, std::vector<std::uint8_t>* memory,
                                               void* file, bool log_failures, bool alternative_signature_check) {
  try {
    const auto proxy = context_.proxy ? context_.proxy->settings_copy() : std::nullopt;
    const auto transport = create_sfx_win_http(proxy);
    transport->set_progress_callback([this](std::uint32_t chunk, std::uint32_t, std::int64_t expected) {
      if (progress_) progress_(chunk, expected);
    });
    const http::url_parts url = http::crack_url(http::download_url(url_text));
    const auto start = std::chrono::steady_clock::now();
    const http::http_result result =
        memory ? transport->get_to_memory(url, memory, true, send_timeout, receive_timeout, resolve_timeout,
                                          connect_timeout)
               : transport->get_to_file(url, file, true, send_timeout, receive_timeout, resolve_timeout,
                                        connect_timeout);
    if (result.status == 204) {
      VYN_LOG_INFO("No content for '{}' status: {}", http::display_url(url), result.status);
      throw exceptions::download_no_content();
    }
    if (!success(result.status)) {
      if (log_failures) {
        VYN_LOG_WARNING("Download of '{}' failed. HTTP status:'{}' err:'{}'.", http::display_url(url), result.status,
                        result.error);
      }
      return result.status;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    const double current = speeds_.record(result.expected, static_cast<std::uint64_t>(elapsed.count()));
    VYN_LOG_INFO("Download of '{}' succeeded. (speed current: {:>6}, total: {:>6})", http::display_url(url),
                 utils::fixed(current, 4), utils::fixed(speeds_.average(), 4));
    const auto verifier = create_verify_signature();
    const bool valid = memory ? verifier->verify_block(memory->data(), memory->size())
                              : (alternative_signature_check ? verifier->verify_handle_ext(file)
                                                             : verifier->verify_handle(file));
    if (!valid) {
      if (log_failures) VYN_LOG_ERROR("DSA verification check of downloaded LZMA file (url {}) fail", http::display_url(url));
      throw exceptions::download_file_invalid_signature(
          fmt::format("DSA signature of LZMA file is invalid:'{}'", http::display_url(url)));
    }
    return result.status;
  } catch (const exceptions::download_no_content&) {
    throw;
  } catch (const exceptions::download_file_fail&) {
    throw;
  } catch (const vyn::exceptions::error& e) {
    if (log_failures) VYN_LOG_EXC(log::level::warning, e, "Download file '{}' failed", to_log(url_text));
    throw exceptions::download_file_fail(e.code(), fmt::format("Download file '{}' failed", to_log(url_text)));
  }
}

std::shared_ptr<product_info_parser_intf> sfx_downloader::download_product_info(const std::wstring& url) {
  std::vector<std::uint8_t> packed;
  try {
    require_success(download_internal(url, &packed, nullptr, true, false), url);
  } catch (const exceptions::download_no_content&) {
    throw exceptions::download_file_fail(invalid_data, "No content, 204 status");
  }
  const std::vector<std::uint8_t> document = packers::lzma_packer().decompress(packed);
  if (document.empty()) {
    const std::string message = fmt::format("Downloaded product-info.xml (url {}) is empty.", to_log(url));
    VYN_LOG_ERROR("{}", message);
    throw exceptions::download_file_fail(invalid_data, message);
  }
  if (!create_verify_signature()->verify_block(document.data(), document.size())) {
    VYN_LOG_ERROR("DSA verification check of downloaded data product-info.xml (url {}) fail.", to_log(url));
    throw exceptions::download_file_invalid_signature(fmt::format("DSA signature is invalid:'{}'.", to_log(url)));
  }
  auto parser = create_product_info_parser(context_);
  parser->parse(document);
  return parser;
}

void sfx_downloader::download_by_hash(const std::wstring& hash, const std::wstring& target,
                                      const std::wstring& expected_sha256) {
  const std::wstring base_url = context_.values ? context_.values->get(L"base-url", L"") : std::wstring();
  if (base_url.empty()) {
    VYN_LOG_ERROR("Base url path is undefined.");
    throw exceptions::download_file_fail("Base url path is undefined.");
  }
  const std::wstring url = base_url + L"/universe/" + http::repository_path(hash);
  if (expected_sha256.empty()) {
    fetch_and_unpack(url, target, false, true, nullptr);
    VYN_LOG_ERROR("Missing hash info for '{}'", to_log(target));
    return;
  }
  fetch_and_unpack(url, target, false, true, &expected_sha256);
}

void sfx_downloader::download_and_unpack(const std::wstring& url, const std::wstring& target,
                                         bool check_module_signature, bool log_failures) {
  fetch_and_unpack(url, target, check_module_signature, log_failures, nullptr);
}

void sfx_downloader::fetch_and_unpack(const std::wstring& url, const std::wstring& target,
                                      bool check_module_signature, bool log_failures,
                                      const std::wstring* expected_sha256) {
  const std::wstring temporary = folder_of(target) + utils::to_wide(utils::random_uuid());
  const win::unique_handle packed(::CreateFileW(temporary.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                                nullptr, CREATE_ALWAYS,
                                                FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY, nullptr));
  if (!packed) {
    throw exceptions::download_file_fail(::GetLastError(),
                                         fmt::format("Unable to create temporary file '{}'", to_log(temporary)));
  }
  require_success(download_internal(url, nullptr, packed.get(), log_failures, false), url);

  const win::unique_handle unpacked(::CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                                  FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                                  nullptr));
  if (!unpacked) {
    throw vyn::exceptions::error(::GetLastError(), fmt::format("Unable to create file '{}'!", to_log(target)));
  }
  try {
    packers::lzma_packer().decompress(packed.get(), unpacked.get());
    // The module is checked through the handle that is open for writing: opened again by its
    // path for reading only, it would meet a sharing violation.
    if (check_module_signature && !create_verify_signature()->verify_handle(unpacked.get())) {
      VYN_LOG_ERROR("DSA verification check of downloaded kestro_mod.dll (url {}) fail", to_log(url));
      throw exceptions::download_file_invalid_signature(
          fmt::format("DSA signature of kestro_mod.dll is invalid:'{}'", to_log(url)));
    }
    if (expected_sha256) {
      root::sha256 hash;
      if (!same_digest(*expected_sha256, root::digest_of_file(hash, unpacked.get()))) {
        const std::string message =
            fmt::format("Fail unpack data, wrong checksum ('{}', hash:{})", to_log(target), to_log(*expected_sha256));
        VYN_LOG_ERROR("{}", message);
        throw vyn::exceptions::error(message);
      }
    }
  } catch (...) {
    delete_on_close(unpacked.get(), target);
    throw;
  }
}

void sfx_downloader::download_to_file(const std::wstring& url, const std::wstring& target, bool log_failures,
                                      bool alternative_signature_check) {
  const win::unique_handle file(::CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    throw exceptions::download_file_fail(::GetLastError(), fmt::format("Unable to create file '{}'", to_log(target)));
  }
  require_success(download_internal(url, nullptr, file.get(), log_failures, alternative_signature_check), url);
}

std::unique_ptr<sfx_win_http_intf> sfx_downloader::create_sfx_win_http(std::optional<http::ProxySettings> proxy) {
  return std::make_unique<sfx_win_http>(std::move(proxy));
}

std::shared_ptr<verify_signature_intf> sfx_downloader::create_verify_signature() {
  return std::make_shared<verify_signature>();
}

std::shared_ptr<product_info_parser_intf> sfx_downloader::create_product_info_parser(shared_context& context) {
  return std::make_shared<product_info_parser>(context);
}

}  // namespace vyn::sfx
