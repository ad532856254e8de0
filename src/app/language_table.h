#pragma once
// The user-interface languages the installer knows: their Windows language identifiers and the
// tags under which the localisation resource keeps their texts. Both the run's language choice
// and the translator use this one table.

#include <array>
#include <cstdint>
#include <string_view>

#include "app/command_line.h"

namespace vyn::sfx {

struct language {
  std::uint16_t id;        // Windows language identifier (LANGID)
  const wchar_t* tag;      // e.g. L"de-de"
  const char* narrow_tag;  // the same tag for log lines and queries built from narrow text
};

inline constexpr std::uint16_t us_english = 0x409;

extern const std::array<language, 47> language_table;

// The table row of the identifier, or null when the installer does not know that language.
const language* find_language(std::int32_t id) noexcept;
// The table row with exactly this tag (e.g. L"de-de"), or null.
const language* find_language(std::wstring_view tag) noexcept;

// The language to show: the decimal number of the "lang-id" switch, or else of "language", when
// it names a language of the table, US English for any other value; without either switch the
// user's default, taken as it is.
std::int32_t choose_language(const command_line& cmd, std::int32_t user_default);

}  // namespace vyn::sfx
