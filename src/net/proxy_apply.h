#pragma once
// Gives one attempt's WinHTTP handles the installer's proxy settings.

#include <windows.h>
#include <winhttp.h>

#include <optional>

#include "net/sfx_proxy_parser.h"

namespace vyn::http {

// Nothing without settings or with type 0. Otherwise sets WINHTTP_OPTION_PROXY on the session
// (type 1: the system's default proxy; any other: the named proxy "scheme://host:port", with a
// warning for SOCKS and unknown types) and, when a user name is given, the proxy credentials on
// the request (NTLM for authorization 2, basic otherwise). Raises vyn::exceptions::error "Unable to
// set WinHTTP proxy information!" or "Unable to set proxy credentials!" with the system code.
void apply_proxy_settings(const std::optional<ProxySettings>& settings, HINTERNET session, HINTERNET request);

}  // namespace vyn::http
