#include "net/sfx_proxy_parser.h"

#include <windows.h>
#include <winhttp.h>

#include "app/command_line.h"
#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/log.h"
#include "foundation/strings.h"
#include "net/ini_file.h"
#include "net/proxy_rules.h"

namespace vyn::sfx {
namespace {

// The proxy the Internet Explorer settings name, as an HTTP proxy; nothing when they name none.
std::optional<http::ProxySettings> detect_ie_proxy(const sfx_proxy_parser::ie_reader& read_ie) {
  VYN_LOG_DEBUG("Detection of IE proxy settings.");
  const ie_proxy_config config = read_ie();
  if (!config.read) {
    VYN_LOG_ERROR("Get IE proxy settings failed with error '{}'.", config.error);
    return std::nullopt;
  }
  if (!config.proxy) {
    VYN_LOG_DEBUG("IE proxy settings is not set.");
    return std::nullopt;
  }
  VYN_LOG_INFO("The IE proxy settings contains servers: '{}'.", utils::to_log(*config.proxy));
  if (config.proxy->empty()) {
    VYN_LOG_ERROR("No proxy server name is defined.");
    return std::nullopt;
  }
  return http::proxy_from_ie_list(*config.proxy);
}

void log_loaded(const http::ProxySettings& settings) {
  VYN_LOG_INFO("Loading Proxy settings:");
  VYN_LOG_INFO("Proxy-Type: '{}'", http::proxy_type_text(settings.type));
  VYN_LOG_INFO("Proxy-Authorization: '{}'", http::proxy_authorization_text(settings.authorization));
  VYN_LOG_INFO("Proxy-Port: '{}'", settings.port);
  VYN_LOG_INFO("Proxy-Name: '{}'", settings.name);
}

// The file the "proxy_ini" option names, when it names an existing file.
std::optional<std::wstring> proxy_ini_path(const std::wstring& command_line_text) {
  const command_line cmd(command_line_text, true);
  const std::optional<std::wstring> path = cmd.find(L"proxy_ini");
  if (!path || path->empty() || !files::file_exists(*path)) return std::nullopt;
  return path;
}

struct global_text {
  LPWSTR text = nullptr;
  ~global_text() {
    if (text) ::GlobalFree(text);
  }
};

}  // namespace

sfx_proxy_parser::sfx_proxy_parser(const std::wstring& command_line, ie_reader read_ie) {
  const std::optional<std::wstring> path = proxy_ini_path(command_line);
  if (!path) return;
  utils::ini_file ini;
  if (!ini.load(*path)) {
    VYN_LOG_WARNING("Unable to read proxy settings from '{}' (error {}); all keys take their defaults.",
                    utils::to_log(*path), ::GetLastError());
  }
  http::ProxySettings loaded = http::settings_from_ini(ini);
  if (loaded.type == http::proxy_type_preconfigured) {
    std::optional<http::ProxySettings> detected = detect_ie_proxy(read_ie);
    if (!detected) {
      VYN_LOG_ERROR("Detection of IE proxy settings failed, use direct connection.");
      return;
    }
    loaded = std::move(*detected);
  }
  settings_ = std::move(loaded);
  log_loaded(*settings_);
}

bool sfx_proxy_parser::is_configured() const { return settings_ && settings_->type != http::proxy_type_none; }

const http::ProxySettings& sfx_proxy_parser::settings() const { return settings_.value(); }

std::optional<http::ProxySettings> sfx_proxy_parser::settings_copy() const { return settings_; }

ie_proxy_config sfx_proxy_parser::read_ie_settings() {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG raw{};
  ie_proxy_config config;
  config.read = ::WinHttpGetIEProxyConfigForCurrentUser(&raw) != FALSE;
  if (!config.read) config.error = ::GetLastError();
  const global_text script{raw.lpszAutoConfigUrl}, proxy{raw.lpszProxy}, bypass{raw.lpszProxyBypass};
  if (config.read && proxy.text) config.proxy = std::wstring(proxy.text);
  return config;
}

void write_proxy_ini(const http::ProxySettings& settings, const std::wstring& path) {
  if (http::settings_to_ini(settings).save(path)) return;
  const DWORD code = ::GetLastError();
  VYN_LOG_ERROR("Unable to write the proxy settings to '{}', error {}.", utils::to_log(path), code);
  throw vyn::exceptions::error(code, "Unable to write the proxy settings file");
}

}  // namespace vyn::sfx
