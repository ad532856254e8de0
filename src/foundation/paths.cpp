#include "foundation/paths.h"

namespace vyn::files {
namespace {

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

std::wstring join_path(std::wstring_view left, std::wstring_view right) {
  std::wstring joined(left);
  if (right.empty()) return joined;
  const bool left_has = !left.empty() && is_separator(left.back());
  const bool right_has = is_separator(right.front());
  if (left_has && right_has) {
    right.remove_prefix(1);
  } else if (!left_has && !right_has) {
    joined += L'\\';
  }
  joined += right;
  return joined;
}

}  // namespace vyn::files
