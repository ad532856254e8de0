#include "app/sfx_migrate_cmd_params.h"

#include <algorithm>
#include <string_view>

#include "foundation/strings.h"

namespace vyn::sfx {
namespace {

constexpr auto npos = std::wstring::npos;

bool contains(std::wstring_view text, std::wstring_view needle) {
  return utils::ifind(text, needle) != npos;
}

// The older switches take "=" but the text also arrives re-rendered from a parse, which writes
// every switch with ":"; both spellings must migrate. The earlier occurrence counts.
std::size_t find_either(std::wstring_view text, std::wstring_view with_equals,
                        std::wstring_view with_colon) {
  return std::min(utils::ifind(text, with_equals), utils::ifind(text, with_colon));
}

void replace_very_silent(std::wstring& text) {
  const std::size_t at = utils::ifind(text, L"/verysilent");
  if (at == npos || contains(text, L"/silent")) return;
  text.replace(at, 11, L"/silent");
}

// "/LANG=L1031" names the language by its identifier behind an "L"; other forms (such as a
// language name) have no equivalent here and stay untouched.
void replace_language(std::wstring& text) {
  if (contains(text, L"/lang-id")) return;
  const std::size_t at = find_either(text, L"/LANG=", L"/LANG:");
  if (at == npos) return;
  const std::size_t value_at = at + 6;
  std::size_t end = text.find_first_of(L" \t\r\n", value_at);
  if (end == npos) end = text.size();
  std::wstring_view value = std::wstring_view(text).substr(value_at, end - value_at);
  if (value.empty()) return;
  if (value.starts_with(L'"')) value.remove_prefix(1);
  if (value.ends_with(L'"')) value.remove_suffix(1);
  if (value.empty() || (value.front() != L'L' && value.front() != L'l')) return;
  value.remove_prefix(1);
  text.replace(at, end - at, L" /lang-id:" + std::wstring(value));
}

// Only the switch is renamed; the path behind it, quoted or not, stays as it was.
void replace_directory(std::wstring& text) {
  if (contains(text, L"/install-path")) return;
  const std::size_t at = find_either(text, L"/DIR=", L"/DIR:");
  if (at == npos) return;
  text.replace(at, 5, L"/install-path:");
}

}  // namespace

std::wstring sfx_migrate_cmd_params::first_conversion(const std::wstring& text) {
  std::wstring converted = text;
  replace_very_silent(converted);
  replace_language(converted);
  replace_directory(converted);
  return converted;
}

std::wstring sfx_migrate_cmd_params::second_conversion(const std::wstring& text) {
  std::wstring converted = text;
  const std::size_t at = utils::ifind(converted, L"/ga_clientid");
  if (at != npos && !contains(converted, L"/track-guid")) converted.replace(at, 12, L"/track-guid");
  return converted;
}

}  // namespace vyn::sfx
