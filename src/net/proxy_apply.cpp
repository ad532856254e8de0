#include "net/proxy_apply.h"

#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/strings.h"
#include "net/proxy_rules.h"
#include "net/transfer_options.h"

namespace vyn::http {
namespace {

static_assert(access_default_proxy == WINHTTP_ACCESS_TYPE_DEFAULT_PROXY);
static_assert(access_no_proxy == WINHTTP_ACCESS_TYPE_NO_PROXY);
static_assert(access_named_proxy == WINHTTP_ACCESS_TYPE_NAMED_PROXY);

[[noreturn]] void fail(const char* message) {
  const DWORD code = ::GetLastError();
  VYN_LOG_ERROR("{} (error {})", message, code);
  throw vyn::exceptions::error(code, message);
}

void warn_unsupported(std::int32_t type) {
  if (type == proxy_type_socks4 || type == proxy_type_socks5) {
    VYN_LOG_WARNING("The WinHttp does not support to use the SOCKS protocol for communication with the proxy server!");
  } else if (type != proxy_type_http && type != proxy_type_https) {
    VYN_LOG_WARNING("Unsupported proxy type '{}'.", type);
  }
}

}  // namespace

void apply_proxy_settings(const std::optional<ProxySettings>& settings, HINTERNET session, HINTERNET request) {
  const std::optional<proxy_access> access = proxy_access_for(settings);
  if (!access) return;
  const bool named = access->access_type == access_named_proxy;
  if (named) warn_unsupported(settings->type);
  std::wstring name = access->proxy_name;
  WINHTTP_PROXY_INFO info{};
  info.dwAccessType = access->access_type;
  info.lpszProxy = named ? name.data() : nullptr;
  info.lpszProxyBypass = nullptr;
  if (!::WinHttpSetOption(session, WINHTTP_OPTION_PROXY, &info, sizeof(info))) {
    fail("Unable to set WinHTTP proxy information!");
  }
  if (!named || settings->user_name.empty()) return;
  const DWORD scheme =
      settings->authorization == proxy_authorization_ntlm ? WINHTTP_AUTH_SCHEME_NTLM : WINHTTP_AUTH_SCHEME_BASIC;
  const std::wstring user = utils::to_wide(settings->user_name);
  const std::wstring password = utils::to_wide(settings->password);
  if (!::WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme, user.c_str(), password.c_str(), nullptr)) {
    fail("Unable to set proxy credentials!");
  }
}

}  // namespace vyn::http
