#pragma once
// The proxy the installer's transfers use, read once at start-up from the file named by the
// command line's "proxy_ini" switch. Without that switch there are no settings and transfers use
// the system's default behaviour.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vyn::http {

struct ProxySettings {
  virtual ~ProxySettings() = default;

  std::int32_t authorization = 0;  // 0 none, 1 basic, 2 NTLM
  std::int32_t type = 0;           // 0 none, 1 system settings, 2 HTTP, 3 SOCKS 4, 4 SOCKS 5, 5 HTTPS
  std::int32_t port = 8080;
  std::string name;       // proxy host, UTF-8
  std::string user_name;  // UTF-8
  std::string password;   // raw bytes
  std::uint8_t fallback = 1;
};

}  // namespace vyn::http

namespace vyn::sfx {

class sfx_proxy_parser_intf {
 public:
  // True when settings are held and name a proxy (type other than 0).
  virtual bool is_configured() const = 0;
  // The held settings; raises std::bad_optional_access when there are none.
  virtual const http::ProxySettings& settings() const = 0;
  // A copy of the held settings, empty when there are none.
  virtual std::optional<http::ProxySettings> settings_copy() const = 0;
  virtual ~sfx_proxy_parser_intf() = default;
};

class sfx_proxy_parser : public sfx_proxy_parser_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    // command_line is the process command line as the system gives it, program name first.
    virtual std::shared_ptr<sfx_proxy_parser_intf> create_sfx_proxy_parser(const std::wstring& command_line) = 0;
  };
};

}  // namespace vyn::sfx
