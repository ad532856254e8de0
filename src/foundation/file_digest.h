#pragma once
// Digests of whole files, read through bounded views of a read-only mapping so that memory use
// does not grow with the file size.

#include <windows.h>

#include <cstdint>
#include <string_view>

#include "foundation/sha256.h"

namespace vyn::root {

// Largest view mapped at once while hashing a file.
inline constexpr std::uint64_t file_digest_view_size = 0x2000000;  // 32 MiB

// Resets the hash, feeds it the whole open file from offset 0 and finishes into out
// (hash.digest_length() bytes). An empty file hashes no bytes. Mapping failures raise as the
// file mapping does; a view that comes back without its bytes raises
// "Unable to retrieve size of unmapped view!".
void digest_of_file(detail::basic_hash& hash, HANDLE file, std::uint8_t* out);
digest digest_of_file(detail::basic_hash& hash, HANDLE file);

// Opens the file for reading (sharing read and delete) and digests it as above. Raises the
// system error code with "Unable to open file '{}' for reading!" when it cannot be opened.
void digest_of_file(detail::basic_hash& hash, std::wstring_view path, std::uint8_t* out);
digest digest_of_file(detail::basic_hash& hash, std::wstring_view path);

}  // namespace vyn::root
