#include "setup/setup_file_name.h"

#include <array>
#include <cwctype>

namespace vyn::sfx {
namespace {

bool iequals_ascii(std::wstring_view a, std::wstring_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  }
  return true;
}

bool names_device(std::wstring_view component) noexcept {
  const std::wstring_view stem = component.substr(0, component.find(L'.'));
  static constexpr std::array<std::wstring_view, 4> plain = {L"CON", L"PRN", L"AUX", L"NUL"};
  for (const auto device : plain) {
    if (iequals_ascii(stem, device)) return true;
  }
  if (stem.size() == 4 && stem[3] >= L'0' && stem[3] <= L'9') {
    return iequals_ascii(stem.substr(0, 3), L"COM") || iequals_ascii(stem.substr(0, 3), L"LPT");
  }
  return false;
}

bool valid_component(std::wstring_view component) noexcept {
  if (component.empty()) return false;
  if (component.find_first_not_of(L'.') == std::wstring_view::npos) return false;  // ".", "..", ...
  if (component.back() == L'.' || component.back() == L' ') return false;
  for (const wchar_t c : component) {
    if (c < 0x20 || std::wstring_view(L":<>\"|?*").find(c) != std::wstring_view::npos) return false;
  }
  return !names_device(component);
}

}  // namespace

bool stays_in_folder(std::wstring_view name) noexcept {
  if (name.empty()) return false;
  for (;;) {
    const std::size_t separator = name.find_first_of(L"\\/");
    if (!valid_component(name.substr(0, separator))) return false;
    if (separator == std::wstring_view::npos) return true;
    name.remove_prefix(separator + 1);
  }
}

}  // namespace vyn::sfx
