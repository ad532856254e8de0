#pragma once
// The rules of the proxy settings that need no system: reading and writing the ProxySettings
// section of proxy.ini, choosing a proxy from the Internet Explorer proxy list, and the texts the
// log and WinHTTP are given.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "net/ini_file.h"
#include "net/sfx_proxy_parser.h"

namespace vyn::http {

inline constexpr std::int32_t proxy_type_none = 0;
inline constexpr std::int32_t proxy_type_preconfigured = 1;  // the Internet Explorer settings
inline constexpr std::int32_t proxy_type_http = 2;
inline constexpr std::int32_t proxy_type_socks4 = 3;
inline constexpr std::int32_t proxy_type_socks5 = 4;
inline constexpr std::int32_t proxy_type_https = 5;

inline constexpr std::int32_t proxy_authorization_none = 0;
inline constexpr std::int32_t proxy_authorization_basic = 1;
inline constexpr std::int32_t proxy_authorization_ntlm = 2;

inline constexpr const wchar_t* proxy_section = L"ProxySettings";

// "http" 2, "https" 5, "socks" and "socks4" 3, "socks5" 4 (in any case), anything else 0.
std::int32_t proxy_type_from_scheme(std::wstring_view scheme) noexcept;

// A default-made record filled from the ProxySettings section; missing or malformed keys keep
// their defaults, and a UserPass whose length is not a positive multiple of 4 is empty.
ProxySettings settings_from_ini(const utils::ini_file& ini);

// A new document holding all seven keys of the settings (the password in Base64). Raises
// vyn::exceptions::error when the host or user name is not UTF-8.
utils::ini_file settings_to_ini(const ProxySettings& settings);

// The HTTP proxy named by an Internet Explorer proxy list ("host:port", "http=host:port;https=...",
// "http://host:port"): the first entry that is an "http=" or "https=" entry, or one without a
// protocol, and whose address is plain or "http://". Nothing when no entry qualifies.
std::optional<ProxySettings> proxy_from_ie_list(std::wstring_view servers);

// The log's names: "Preconfig (use IE settings)", "HTTP proxy (rfc2616,2617)",
// "SOCKS proxy (rfc1928,1929)", "no proxy"; "basic", "NTLM", "no authentication".
const char* proxy_type_text(std::int32_t type) noexcept;
const char* proxy_authorization_text(std::int32_t authorization) noexcept;

// The scheme WinHTTP is given for the proxy: "http" for an HTTP proxy, "https" for an HTTPS one,
// empty for every other type (WinHTTP has no SOCKS).
std::wstring proxy_scheme_word(std::int32_t type);
// "scheme://host:port" with the scheme word above.
std::wstring proxy_server_name(const ProxySettings& settings);

}  // namespace vyn::http
