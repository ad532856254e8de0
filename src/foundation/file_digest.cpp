#include "foundation/file_digest.h"

#include <algorithm>
#include <string>

#include "foundation/exceptions.h"
#include "foundation/file_mapping.h"
#include "foundation/handle.h"
#include "foundation/log.h"
#include "foundation/strings.h"

namespace vyn::root {

void digest_of_file(detail::basic_hash& hash, HANDLE file, std::uint8_t* out) {
  hash.reset();
  const files::file_mapping mapping(file);
  for (std::uint64_t offset = 0; offset < mapping.size();) {
    const std::uint64_t length = std::min(file_digest_view_size, mapping.size() - offset);
    const files::mapped_view view = mapping.map_view(offset, length);
    if (view.bytes().size() != length) {
      VYN_LOG_ERROR("Unmapped view while hashing at offset {:#x}, length {:#x}", offset, length);
      throw exceptions::error("Unable to retrieve size of unmapped view!");
    }
    hash.update(view.bytes().data(), view.bytes().size());
    offset += length;
  }
  hash.finish(out);
}

digest digest_of_file(detail::basic_hash& hash, HANDLE file) {
  digest result(hash.digest_length());
  if (result.empty()) throw exceptions::error("The digest is not initialized!");
  digest_of_file(hash, file, result.bytes().data());
  return result;
}

void digest_of_file(detail::basic_hash& hash, std::wstring_view path, std::uint8_t* out) {
  const std::wstring name(path);
  win::unique_handle file(::CreateFileW(name.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD code = ::GetLastError();
    VYN_LOG_ERROR("Unable to open file '{}' for reading, error {}", utils::to_log(path), code);
    throw exceptions::error(code, fmt::format("Unable to open file '{}' for reading!",
                                              utils::to_log(path)));
  }
  digest_of_file(hash, file.get(), out);
}

digest digest_of_file(detail::basic_hash& hash, std::wstring_view path) {
  digest result(hash.digest_length());
  if (result.empty()) throw exceptions::error("The digest is not initialized!");
  digest_of_file(hash, path, result.bytes().data());
  return result;
}

}  // namespace vyn::root
