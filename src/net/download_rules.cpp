#include "net/download_rules.h"

#include <numeric>

#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/strings.h"

namespace vyn::http {

std::wstring repository_path(const std::wstring& hash) {
  if (hash.size() < 12) {
    throw exceptions::error(13u, fmt::format("The hash '{}' is too short for a repository path!", utils::to_log(hash)));
  }
  return hash.substr(0, 4) + L"/" + hash.substr(4, 4) + L"/" + hash.substr(8, 4) + L"/" + hash + L".lzma";
}

std::wstring download_url(const std::wstring& text) {
  if (text.find(L"://") != std::wstring::npos) return text;
  return L"https://" + text;
}

double speed_statistics::record(std::uint64_t bytes, std::uint64_t milliseconds) {
  const double seconds = static_cast<double>(milliseconds) / 1000.0;
  double current = 0;
  if (seconds > 0 && bytes != 0) {
    current = static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds;
    speeds_.push_back(current);
  }
  average_ = speeds_.empty() ? 0.0 : std::accumulate(speeds_.begin(), speeds_.end(), 0.0) / static_cast<double>(speeds_.size());
  return current;
}

}  // namespace vyn::http
