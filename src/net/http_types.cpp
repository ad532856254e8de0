#include "net/http_types.h"

namespace vyn::http {

std::string display_url(const url_parts& url) {
  std::string text = url.scheme == "https" ? "https://" : "http://";
  text += url.host;
  if (url.port != 0) text += ":" + std::to_string(url.port);
  if (url.path.empty() || url.path.front() != '/') text += '/';
  text += url.path;
  if (!url.query.empty()) text += "?" + url.query;
  return text;
}

}  // namespace vyn::http
