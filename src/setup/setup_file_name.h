#pragma once
// Which names of setup files a product description may give. A signed description is trusted,
// but the installer runs elevated: a name must not place a file outside the product folder,
// whatever the description says. Sub-folders inside it are allowed.

#include <string_view>

namespace vyn::sfx {

// True for a relative path of one or more components separated by "\" or "/", none of them
// empty, made of dots only, ending in a dot or a blank, holding a character that Windows refuses
// in names (":" of a drive or stream, control characters, <>"|?*), or naming a device (CON, PRN,
// AUX, NUL, COM0-9, LPT0-9, with or without an extension).
bool stays_in_folder(std::wstring_view name) noexcept;

}  // namespace vyn::sfx
