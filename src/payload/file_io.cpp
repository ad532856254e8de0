#include "payload/file_io.h"

#include <algorithm>

#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/file_mapping.h"

namespace vyn::sfx::file_io {
namespace {

using vyn::exceptions::error;

constexpr DWORD write_chunk = 0x2000000;

bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

}  // namespace

void set_file_size(HANDLE file, std::int64_t size) {
  if (!valid(file) || size < 0) throw error(87u, "Unable to set the size of the file!");
  LARGE_INTEGER zero{}, current{}, wanted{};
  if (!::SetFilePointerEx(file, zero, &current, FILE_CURRENT)) {
    throw error(::GetLastError(), "Unable to retrieve the file pointer!");
  }
  wanted.QuadPart = size;
  if (!::SetFilePointerEx(file, wanted, nullptr, FILE_BEGIN) || !::SetEndOfFile(file)) {
    throw error(::GetLastError(), fmt::format("Unable to set size of file to {} bytes!", size));
  }
  if (!::SetFilePointerEx(file, current, nullptr, FILE_BEGIN)) {
    throw error(::GetLastError(), "Unable to set the file pointer!");
  }
}

void write_all(HANDLE file, std::span<const std::uint8_t> bytes, const char* message) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), write_chunk));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr)) throw error(::GetLastError(), message);
    if (written == 0) throw error(static_cast<std::uint32_t>(ERROR_WRITE_FAULT), message);
    bytes = bytes.subspan(written);
  }
}

}  // namespace vyn::sfx::file_io
