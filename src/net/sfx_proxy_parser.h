#pragma once
// The proxy the installer's transfers use, read once at start-up from the file named by the
// command line's "proxy_ini" switch. Without that switch there are no settings and transfers use
// the system's default behaviour.

#include <cstdint>
#include <functional>
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

// What the Internet Explorer settings of the user say about the proxy.
struct ie_proxy_config {
  bool read = false;                 // false: the settings could not be read
  std::uint32_t error = 0;           // the system error code when they could not
  std::optional<std::wstring> proxy;  // the proxy list; nothing when none is set
};

class sfx_proxy_parser : public sfx_proxy_parser_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    // command_line is the process command line as the system gives it, program name first.
    virtual std::shared_ptr<sfx_proxy_parser_intf> create_sfx_proxy_parser(const std::wstring& command_line) = 0;
  };

  using ie_reader = std::function<ie_proxy_config()>;

  // Reads the file named by the command line's "proxy_ini" option (nothing is held without one,
  // or when it names no existing file), resolves type 1 through the Internet Explorer settings
  // (read_ie) and logs what it loaded, never the user name or the password. An unreadable file
  // leaves every key at its default. Windows only.
  explicit sfx_proxy_parser(const std::wstring& command_line, ie_reader read_ie = read_ie_settings);

  bool is_configured() const override;
  const http::ProxySettings& settings() const override;
  std::optional<http::ProxySettings> settings_copy() const override;

  // The current user's settings through WinHTTP.
  static ie_proxy_config read_ie_settings();

 private:
  std::optional<http::ProxySettings> settings_;
};

// Writes the settings as proxy.ini for the setup master: UTF-16 little-endian, all seven keys.
// Raises vyn::exceptions::error with the system code when the file cannot be written. Windows only.
void write_proxy_ini(const http::ProxySettings& settings, const std::wstring& path);

}  // namespace vyn::sfx
