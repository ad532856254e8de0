#pragma once
// Strings of the version resource ("ProductId", "ModuleId", "MainProductId", ...) read straight
// from a PE image by walking its resource section. The program reads its own identity this way,
// without the system's version API, so it works the same inside a host process and on the
// build machine, where the maker tool reads a stub file.

#include <string>
#include <string_view>

#include "foundation/byte_view.h"

namespace vyn::root {

// How the image bytes are laid out: as the loader maps a module (an address inside the image is
// its offset) or as the file is stored (addresses are translated through the section table).
enum class image_layout { mapped, file };

// Looks the key up, ignoring case, in the string tables of the image's version resource: the
// last top-level resource entry of type 16 (version), its first name and first language. A
// missing key gives an empty text when optional. Failures: "There is no resource section in
// module" (no resource directory entry, or not a PE image), "Resource section is empty",
// "Unable to determine product identifier from resources!" (mandatory key missing), and code 5
// "Unable to read outside of the mapped view!" for structures that reach past the image.
std::wstring read_version_string(utils::byte_view image, image_layout layout,
                                 std::wstring_view key, bool optional);

// The same for a module loaded in this process, given its base address.
std::wstring read_module_version_string(const void* module_base, std::wstring_view key,
                                        bool optional);

}  // namespace vyn::root
