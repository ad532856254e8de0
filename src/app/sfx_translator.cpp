#include "app/sfx_translator.h"

#include <windows.h>

#include "app/language_table.h"
#include "foundation/log.h"
#include "foundation/strings.h"
#include "payload/lzma_packer.h"
#include "setup/xml_paths.h"

namespace vyn::sfx {
namespace {

// The bytes of the localisation resource of the running executable; empty when it has none.
std::span<const std::uint8_t> own_resource() noexcept {
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(sfx_translator::resource_id), sfx_translator::resource_type);
  if (!found) return {};
  HGLOBAL loaded = ::LoadResource(module, found);
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  if (!bytes) return {};
  return {static_cast<const std::uint8_t*>(bytes), ::SizeofResource(module, found)};
}

}  // namespace

sfx_translator::sfx_translator(std::int32_t language) : language_(language) { load(own_resource()); }

sfx_translator::sfx_translator(std::int32_t language, std::span<const std::uint8_t> packed) : language_(language) {
  load(packed);
}

void sfx_translator::load(std::span<const std::uint8_t> packed) noexcept {
  try {
    if (packed.empty()) {
      VYN_LOG_WARNING("The localisation resource is missing; texts are shown by their identifiers.");
      return;
    }
    const std::vector<std::uint8_t> xml = packers::lzma_packer().decompress(packed);
    const pugi::xml_parse_result parsed = document_.load_buffer(xml.data(), xml.size());
    if (!parsed) {
      VYN_LOG_WARNING("The localisation resource is not readable XML ({}).", parsed.description());
      document_.reset();
    }
  } catch (const std::exception& e) {
    VYN_LOG_EXC(log::level::warning, e, "The localisation resource cannot be unpacked.");
    document_.reset();
  }
}

// The text of the first <language lang="tag"> of the first <identifier id="identifier"> under the
// root <identifiers> that has one. The values are compared as plain strings, so a message of any
// text (apostrophes, brackets) can only ever fail to match.
const wchar_t* sfx_translator::lookup(const std::wstring& identifier, const wchar_t* tag) const {
  for (const pugi::xml_node& entry : xml::elements_at(document_, L"identifiers/identifier")) {
    if (!xml::has_attribute(entry, L"id", identifier)) continue;
    for (pugi::xml_node language = entry.first_child(); language; language = language.next_sibling()) {
      if (xml::is_element(language, L"language") && xml::has_attribute(language, L"lang", tag)) {
        return language.text().get();
      }
    }
  }
  return nullptr;
}

std::wstring sfx_translator::translate(const std::wstring& identifier) {
  try {
    const language* row = find_language(language_);
    if (const wchar_t* text = lookup(identifier, row ? row->tag : L"en-us")) return text;
    if (const wchar_t* text = lookup(identifier, L"en-us")) return text;
  } catch (const std::exception& e) {
    VYN_LOG_EXC(log::level::debug, e, "Looking up '{}' failed.", utils::to_log(identifier));
  }
  return identifier;
}

std::wstring sfx_translator::format(const std::wstring& identifier, const std::vector<std::wstring>& arguments) {
  return fill_placeholders(translate(identifier), arguments);
}

std::wstring fill_placeholders(const std::wstring& text, const std::vector<std::wstring>& arguments) {
  std::wstring result;
  result.reserve(text.size());
  std::size_t at = 0;  // text before this is in result
  for (std::size_t open = text.find(L'{'); open != std::wstring::npos; open = text.find(L'{', open + 1)) {
    std::size_t end = open + 1;
    std::size_t index = 0;
    while (end < text.size() && end - open <= 4 && text[end] >= L'0' && text[end] <= L'9') {
      index = index * 10 + static_cast<std::size_t>(text[end] - L'0');
      ++end;
    }
    if (end == open + 1 || end >= text.size() || text[end] != L'}' || index >= arguments.size()) continue;
    result.append(text, at, open - at).append(arguments[index]);
    at = end + 1;
    open = end;
  }
  result.append(text, at, std::wstring::npos);
  return result;
}

}  // namespace vyn::sfx
