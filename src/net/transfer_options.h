#pragma once
// The WinHTTP settings of a session that depend on the system version and the proxy settings.
// The numbers are WinHTTP's own (checked against <winhttp.h> where it is available).

#include <cstdint>
#include <optional>
#include <string>

#include "net/sfx_proxy_parser.h"

namespace vyn::http {

inline constexpr std::uint32_t access_default_proxy = 0;    // WINHTTP_ACCESS_TYPE_DEFAULT_PROXY
inline constexpr std::uint32_t access_no_proxy = 1;         // WINHTTP_ACCESS_TYPE_NO_PROXY
inline constexpr std::uint32_t access_named_proxy = 3;      // WINHTTP_ACCESS_TYPE_NAMED_PROXY
inline constexpr std::uint32_t access_automatic_proxy = 4;  // WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY

inline constexpr std::uint32_t protocol_tls1 = 0x80;     // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1
inline constexpr std::uint32_t protocol_tls1_1 = 0x200;  // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1
inline constexpr std::uint32_t protocol_tls1_2 = 0x800;  // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2
inline constexpr std::uint32_t protocol_tls1_3 = 0x2000; // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3

struct system_version {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
};

// How a session reaches the proxy: the access type and, for a named proxy, its name.
struct proxy_access {
  std::uint32_t access_type = access_default_proxy;
  std::wstring proxy_name;  // empty unless access_type is access_named_proxy
};

// What the settings tell WinHTTP: type 1 the system's default proxy; any other type a named proxy
// "scheme://host:port" (see proxy_server_name). Without settings, or with type 0: nothing.
std::optional<proxy_access> proxy_access_for(const std::optional<ProxySettings>& settings);

// The access type a session is opened with. Without a configured proxy: automatic proxy
// discovery from Windows 8.1 (6.3) on, the default proxy before. With one: the proxy itself when
// it is named with a scheme WinHTTP knows (http, https) or is the system's default; otherwise no
// proxy, and the proxy option set on the session afterwards decides.
proxy_access session_access(const system_version& version, const std::optional<ProxySettings>& settings);

// TLS 1.0 and 1.1, plus 1.2 from Windows 8 (6.2) on, plus 1.3 from Windows 10 build 22000 on.
std::uint32_t widened_protocols(const system_version& version) noexcept;

}  // namespace vyn::http
