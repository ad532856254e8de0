#include "net/transfer_options.h"

#include "foundation/strings.h"
#include "net/proxy_rules.h"

namespace vyn::http {
namespace {

bool at_least(const system_version& v, std::uint32_t major, std::uint32_t minor) {
  return v.major > major || (v.major == major && v.minor >= minor);
}

}  // namespace

std::optional<proxy_access> proxy_access_for(const std::optional<ProxySettings>& settings) {
  if (!settings || settings->type == proxy_type_none) return std::nullopt;
  if (settings->type == proxy_type_preconfigured) return proxy_access{access_default_proxy, {}};
  return proxy_access{access_named_proxy, proxy_server_name(*settings)};
}

proxy_access session_access(const system_version& version, const std::optional<ProxySettings>& settings) {
  const std::optional<proxy_access> proxy = proxy_access_for(settings);
  if (!proxy) return {at_least(version, 6, 3) ? access_automatic_proxy : access_default_proxy, {}};
  // The proxy option alone would do on Windows, but Wine ignores it and honours only the proxy
  // a session was opened with; opening with the same proxy behaves the same on both.
  if (proxy->access_type == access_default_proxy) return *proxy;
  if (settings->type == proxy_type_http) {
    // "host:port" names an HTTP proxy for WinHTTP as "http://host:port" does; Wine reads only
    // the short form.
    return {access_named_proxy, utils::to_wide(settings->name) + L":" + utils::decimal(settings->port)};
  }
  if (settings->type == proxy_type_https) return *proxy;
  return {access_no_proxy, {}};
}

std::uint32_t widened_protocols(const system_version& version) noexcept {
  std::uint32_t protocols = protocol_tls1 | protocol_tls1_1;
  if (at_least(version, 6, 2)) protocols |= protocol_tls1_2;
  if (version.major >= 10 && version.build >= 22000) protocols |= protocol_tls1_3;
  return protocols;
}

}  // namespace vyn::http
