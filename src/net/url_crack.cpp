#include <windows.h>
#include <winhttp.h>

#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/strings.h"
#include "net/sfx_win_http.h"

namespace vyn::http {
namespace {

constexpr std::uint32_t invalid_parameter = 87;

[[noreturn]] void refuse(const std::wstring& url, const char* what) {
  const std::string message = fmt::format("Unable to crack the URL '{}' into components!{}", utils::to_log(url), what);
  VYN_LOG_ERROR("{}", message);
  throw vyn::exceptions::error(invalid_parameter, message);
}

std::string part(const wchar_t* text, DWORD length) {
  return text && length ? utils::to_narrow(std::wstring_view(text, length)) : std::string();
}

}  // namespace

url_parts crack_url(const std::wstring& url) {
  URL_COMPONENTS components{};
  components.dwStructSize = sizeof(components);
  // Lengths of -1 ask for pointers into the text for every part.
  components.dwSchemeLength = components.dwHostNameLength = components.dwUrlPathLength =
      components.dwExtraInfoLength = components.dwUserNameLength = components.dwPasswordLength =
          static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &components)) refuse(url, "");
  if (!components.lpszScheme || components.dwSchemeLength == 0) refuse(url, " Scheme is missing.");
  if (!components.lpszHostName || components.dwHostNameLength == 0) refuse(url, " Hostname is missing.");

  url_parts parts;
  parts.scheme = part(components.lpszScheme, components.dwSchemeLength);
  parts.host = part(components.lpszHostName, components.dwHostNameLength);
  parts.port = components.nPort;
  if ((parts.port == INTERNET_DEFAULT_HTTP_PORT && parts.scheme == "http") ||
      (parts.port == INTERNET_DEFAULT_HTTPS_PORT && parts.scheme == "https")) {
    parts.port = 0;
  }
  std::wstring_view path(components.lpszUrlPath ? components.lpszUrlPath : L"",
                         components.lpszUrlPath ? components.dwUrlPathLength : 0);
  std::wstring_view extra(components.lpszExtraInfo ? components.lpszExtraInfo : L"",
                          components.lpszExtraInfo ? components.dwExtraInfoLength : 0);
  // A fragment never belongs to the path; Wine's cracker leaves it there when no query precedes
  // it, Windows hands it over as extra information.
  if (const std::size_t hash = path.find(L'#'); hash != std::wstring_view::npos) {
    extra = std::wstring_view(path.data() + hash, path.size() - hash + extra.size());
    path = path.substr(0, hash);
  }
  parts.path = path.empty() ? std::string() : utils::to_narrow(path);
  if (extra.size() > 1 && extra.front() != L'#') {
    const std::wstring_view query = extra.substr(1);
    parts.query = utils::to_narrow(query.substr(0, query.find(L'#')));
  }
  return parts;
}

}  // namespace vyn::http
