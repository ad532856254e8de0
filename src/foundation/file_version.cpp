// Version resources of other files, read through the system's version API. The program's own
// identity strings are read from its loaded image instead (version_resource.h).
#include <fmt/format.h>
#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/log.h"
#include "foundation/strings.h"

namespace vyn::files {
namespace {

[[noreturn]] void fail(DWORD code, const char* call, std::wstring_view path) {
  std::string message = fmt::format("{} '{}'", call, utils::to_log(path));
  VYN_LOG_ERROR("{}, error {}", message, code);
  throw exceptions::error(code, std::move(message));
}

std::vector<std::uint8_t> version_block(std::wstring_view path) {
  const std::wstring name(path);
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(name.c_str(), &ignored);
  if (size == 0) fail(::GetLastError(), "GetFileVersionInfoSizeW", path);
  std::vector<std::uint8_t> block(size);
  if (!::GetFileVersionInfoW(name.c_str(), 0, size, block.data())) {
    fail(::GetLastError(), "GetFileVersionInfoW", path);
  }
  return block;
}

// The value at sub_block, which must hold at least min_bytes.
void* query(std::vector<std::uint8_t>& block, const std::wstring& sub_block, UINT min_bytes,
            UINT& length, std::wstring_view path) {
  void* value = nullptr;
  length = 0;
  if (!::VerQueryValueW(block.data(), sub_block.c_str(), &value, &length) || !value ||
      length < min_bytes) {
    const DWORD code = ::GetLastError();
    fail(code ? code : ERROR_RESOURCE_TYPE_NOT_FOUND, "VerQueryValueW", path);
  }
  return value;
}

}  // namespace

std::wstring file_version_string(std::wstring_view path, std::wstring_view name) {
  auto block = version_block(path);
  UINT length = 0;
  const auto* translation =
      static_cast<const WORD*>(query(block, L"\\VarFileInfo\\Translation", 4, length, path));
  const std::wstring sub_block =
      utils::to_wide(fmt::format("\\StringFileInfo\\{:04x}{:04x}\\", translation[0], translation[1])) +
      std::wstring(name);
  const auto* text = static_cast<const wchar_t*>(query(block, sub_block, 0, length, path));
  // The length counts characters and may include the terminator.
  std::wstring value(text, length);
  if (const auto nul = value.find(L'\0'); nul != std::wstring::npos) value.resize(nul);
  return value;
}

std::array<std::uint16_t, 4> file_version_numbers(std::wstring_view path) {
  auto block = version_block(path);
  UINT length = 0;
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(
      query(block, L"\\", sizeof(VS_FIXEDFILEINFO), length, path));
  return {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
          HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)};
}

}  // namespace vyn::files
