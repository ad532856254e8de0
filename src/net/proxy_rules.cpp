#include "net/proxy_rules.h"

#include <vector>

#include "foundation/strings.h"
#include "net/base64.h"

namespace vyn::http {
namespace {

std::wstring_view trim_blanks(std::wstring_view text) {
  const std::size_t first = text.find_first_not_of(L" \t");
  if (first == std::wstring_view::npos) return {};
  return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

// The address part of one list entry, when the entry names an HTTP proxy.
std::optional<std::wstring_view> http_entry_address(std::wstring_view entry) {
  if (const std::size_t equals = entry.find(L'='); equals != std::wstring_view::npos) {
    const std::int32_t type = proxy_type_from_scheme(entry.substr(0, equals));
    if (type != proxy_type_http && type != proxy_type_https) return std::nullopt;
    entry = entry.substr(equals + 1);
  }
  if (const std::size_t separator = entry.find(L"://"); separator != std::wstring_view::npos) {
    if (proxy_type_from_scheme(entry.substr(0, separator)) != proxy_type_http) return std::nullopt;
    entry = entry.substr(separator + 3);
  }
  return entry;
}

}  // namespace

std::int32_t proxy_type_from_scheme(std::wstring_view scheme) noexcept {
  if (utils::iequals(scheme, L"http")) return proxy_type_http;
  if (utils::iequals(scheme, L"https")) return proxy_type_https;
  if (utils::iequals(scheme, L"socks") || utils::iequals(scheme, L"socks4")) return proxy_type_socks4;
  if (utils::iequals(scheme, L"socks5")) return proxy_type_socks5;
  return proxy_type_none;
}

ProxySettings settings_from_ini(const utils::ini_file& ini) {
  ProxySettings settings;
  settings.type = ini.get_int(proxy_section, L"ProxyType", settings.type);
  settings.authorization = ini.get_int(proxy_section, L"Authorization", settings.authorization);
  settings.port = ini.get_int(proxy_section, L"Port", settings.port);
  settings.name = utils::to_narrow(ini.get(proxy_section, L"ProxyName", L""));
  settings.user_name = utils::to_narrow(ini.get(proxy_section, L"UserName", L""));
  settings.password = utils::base64_decode(utils::to_narrow(ini.get(proxy_section, L"UserPass", L"")));
  settings.fallback = ini.get_int(proxy_section, L"Fallback", 1) != 0 ? 1 : 0;
  return settings;
}

utils::ini_file settings_to_ini(const ProxySettings& settings) {
  utils::ini_file ini;
  ini.set_int(proxy_section, L"ProxyType", settings.type);
  ini.set_int(proxy_section, L"Authorization", settings.authorization);
  ini.set_int(proxy_section, L"Port", settings.port);
  ini.set(proxy_section, L"ProxyName", utils::to_wide(settings.name));
  ini.set(proxy_section, L"UserName", utils::to_wide(settings.user_name));
  ini.set(proxy_section, L"UserPass", utils::to_wide(utils::base64_encode(settings.password)));
  ini.set_int(proxy_section, L"Fallback", settings.fallback);
  return ini;
}

std::optional<ProxySettings> proxy_from_ie_list(std::wstring_view servers) {
  for (std::size_t start = 0; start <= servers.size();) {
    std::size_t end = servers.find(L';', start);
    if (end == std::wstring_view::npos) end = servers.size();
    // Blanks around entries are allowed in the list; an empty entry names nothing.
    const std::wstring_view entry = trim_blanks(servers.substr(start, end - start));
    start = end + 1;
    const std::optional<std::wstring_view> address = entry.empty() ? std::nullopt : http_entry_address(entry);
    if (!address || address->empty()) continue;
    ProxySettings settings;
    settings.type = proxy_type_http;
    const std::size_t colon = address->find(L':');
    settings.name = utils::to_narrow(address->substr(0, colon));
    if (colon != std::wstring_view::npos) {
      settings.port = utils::parse_leading_int(address->substr(colon + 1)).value_or(settings.port);
    }
    return settings;
  }
  return std::nullopt;
}

const char* proxy_type_text(std::int32_t type) noexcept {
  switch (type) {
    case proxy_type_preconfigured: return "Preconfig (use IE settings)";
    case proxy_type_http: return "HTTP proxy (rfc2616,2617)";
    case proxy_type_socks4: return "SOCKS proxy (rfc1928,1929)";
    default: return "no proxy";
  }
}

const char* proxy_authorization_text(std::int32_t authorization) noexcept {
  switch (authorization) {
    case proxy_authorization_basic: return "basic";
    case proxy_authorization_ntlm: return "NTLM";
    default: return "no authentication";
  }
}

std::wstring proxy_scheme_word(std::int32_t type) {
  if (type == proxy_type_http) return L"http";
  if (type == proxy_type_https) return L"https";
  return {};
}

std::wstring proxy_server_name(const ProxySettings& settings) {
  return proxy_scheme_word(settings.type) + L"://" + utils::to_wide(settings.name) + L":" +
         utils::decimal(settings.port);
}

}  // namespace vyn::http
