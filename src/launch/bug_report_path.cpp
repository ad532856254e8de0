#include "launch/bug_report_path.h"

#include <algorithm>

#include "foundation/paths.h"

namespace vyn::sfx {
namespace {

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool is_drive(std::wstring_view path) {
  return path.size() >= 2 && path[1] == L':' &&
         ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

// Position after the path component that starts at from.
std::size_t component_end(std::wstring_view path, std::size_t from) {
  while (from < path.size() && !is_separator(path[from])) ++from;
  return from;
}

std::size_t skip_separators(std::wstring_view path, std::size_t from) {
  while (from < path.size() && is_separator(path[from])) ++from;
  return from;
}

// Length of the server and share part that follows "\\" or "\\?\UNC\".
std::size_t share_end(std::wstring_view path, std::size_t from) {
  const std::size_t server = component_end(path, from);
  return component_end(path, skip_separators(path, server));
}

std::size_t root_length(std::wstring_view path) {
  if (is_drive(path)) return 2;
  if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
    const bool device = path.size() >= 4 && (path[2] == L'?' || path[2] == L'.') && is_separator(path[3]);
    if (!device) return share_end(path, 2);
    const std::wstring_view named = path.substr(4);
    if (named.size() >= 3 && (named[0] == L'U' || named[0] == L'u') && (named[1] == L'N' || named[1] == L'n') &&
        (named[2] == L'C' || named[2] == L'c') && (named.size() == 3 || is_separator(named[3]))) {
      return share_end(path, 4 + 4);
    }
    return is_drive(named) ? 4 + 2 : component_end(path, 4);
  }
  return 0;
}

}  // namespace

std::wstring_view without_root(std::wstring_view path) {
  const std::size_t root = root_length(path);
  // A path that starts with a separator is rooted on the current drive.
  return path.substr(skip_separators(path, std::min(root, path.size())));
}

std::wstring expected_bug_report_path(std::wstring_view folder) {
  const std::wstring_view relative = without_root(folder);
  if (relative.empty()) return std::wstring(bug_report_name);
  return files::join_path(relative, bug_report_name);
}

bool matches_expected_path(std::wstring_view image_path, std::wstring_view expected_path) {
  if (expected_path.empty() || !image_path.ends_with(expected_path)) return false;
  const std::size_t start = image_path.size() - expected_path.size();
  return start == 0 || is_separator(image_path[start - 1]);
}

}  // namespace vyn::sfx
