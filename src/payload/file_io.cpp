#include "payload/file_io.h"

#include <algorithm>

#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/file_mapping.h"

namespace vyn::sfx::file_io {
namespace {

using vyn::exceptions::error;

constexpr std::uint64_t digest_view_size = 0x2000000;  // 32 MiB
constexpr DWORD write_chunk = 0x2000000;

bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

using redirection_fn = BOOL(WINAPI*)(PVOID*);

redirection_fn kernel32_function(const char* name) {
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  return kernel32 ? reinterpret_cast<redirection_fn>(
                        reinterpret_cast<void*>(::GetProcAddress(kernel32, name)))
                  : nullptr;
}

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

root::digest digest_of_file(HANDLE file) {
  root::sha256 hash;
  hash.reset();
  const files::file_mapping mapping(file);
  for (std::uint64_t offset = 0; offset < mapping.size(); offset += digest_view_size) {
    const auto view = mapping.map_view(offset, std::min(digest_view_size, mapping.size() - offset));
    if (view.bytes().data() == nullptr) throw error("Unable to retrieve size of unmapped view!");
    hash.update(view.bytes().data(), view.bytes().size());
  }
  return root::finish_digest(hash);
}

fs_redirection_off::fs_redirection_off() {
  static const redirection_fn disable = kernel32_function("Wow64DisableWow64FsRedirection");
  if (disable) disabled_ = disable(&old_value_) != FALSE;
}

fs_redirection_off::~fs_redirection_off() {
  static const redirection_fn revert = kernel32_function("Wow64RevertWow64FsRedirection");
  if (disabled_ && revert) {
    const DWORD saved = ::GetLastError();
    revert(&old_value_);
    ::SetLastError(saved);
  }
}

}  // namespace vyn::sfx::file_io
