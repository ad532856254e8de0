#include "app/language_table.h"

#include <algorithm>

#include "app/decimal.h"

namespace vyn::sfx {

const std::array<language, 47> language_table{{
    {0x409, L"en-us", "en-us"}, {0x401, L"ar-sa", "ar-sa"}, {0x423, L"be-by", "be-by"},
    {0x402, L"bg-bg", "bg-bg"}, {0x445, L"bn-in", "bn-in"}, {0x403, L"ca-es", "ca-es"},
    {0x405, L"cs-cz", "cs-cz"}, {0x406, L"da-dk", "da-dk"}, {0x407, L"de-de", "de-de"},
    {0x408, L"el-gr", "el-gr"}, {0x809, L"en-gb", "en-gb"}, {0xC0A, L"es-es", "es-es"},
    {0x80A, L"es-mx", "es-mx"}, {0x425, L"et-ee", "et-ee"}, {0x429, L"fa-ir", "fa-ir"},
    {0x40B, L"fi-fi", "fi-fi"}, {0x40C, L"fr-fr", "fr-fr"}, {0xC0C, L"fr-ca", "fr-ca"},
    {0x40D, L"he-il", "he-il"}, {0x439, L"hi-in", "hi-in"}, {0x41A, L"hr-hr", "hr-hr"},
    {0x40E, L"hu-hu", "hu-hu"}, {0x421, L"id-id", "id-id"}, {0x410, L"it-it", "it-it"},
    {0x411, L"ja-jp", "ja-jp"}, {0x412, L"ko-kr", "ko-kr"}, {0x427, L"lt-lt", "lt-lt"},
    {0x426, L"lv-lv", "lv-lv"}, {0x43E, L"ms-my", "ms-my"}, {0x414, L"nb-no", "nb-no"},
    {0x413, L"nl-nl", "nl-nl"}, {0x415, L"pl-pl", "pl-pl"}, {0x416, L"pt-br", "pt-br"},
    {0x816, L"pt-pt", "pt-pt"}, {0x418, L"ro-ro", "ro-ro"}, {0x419, L"ru-ru", "ru-ru"},
    {0x41B, L"sk-sk", "sk-sk"}, {0x424, L"sl-si", "sl-si"}, {0x81A, L"sr-sp", "sr-sp"},
    {0x41D, L"sv-se", "sv-se"}, {0x41E, L"th-th", "th-th"}, {0x41F, L"tr-tr", "tr-tr"},
    {0x422, L"uk-ua", "uk-ua"}, {0x420, L"ur-pk", "ur-pk"}, {0x42A, L"vi-vn", "vi-vn"},
    {0x804, L"zh-cn", "zh-cn"}, {0x404, L"zh-tw", "zh-tw"},
}};

const language* find_language(std::int32_t id) noexcept {
  const auto it = std::find_if(language_table.begin(), language_table.end(),
                               [id](const language& row) { return row.id == id; });
  return it == language_table.end() ? nullptr : &*it;
}

const language* find_language(std::wstring_view tag) noexcept {
  const auto it = std::find_if(language_table.begin(), language_table.end(),
                               [tag](const language& row) { return tag == row.tag; });
  return it == language_table.end() ? nullptr : &*it;
}

std::int32_t choose_language(const command_line& cmd, std::int32_t user_default) {
  auto requested = cmd.find(L"lang-id");
  if (!requested) requested = cmd.find(L"language");
  if (!requested) return user_default;
  const decimal_result number = parse_decimal_prefix(*requested);
  if (number.status == decimal_status::ok && find_language(number.value)) return number.value;
  return us_english;
}

}  // namespace vyn::sfx
