#include "payload/verify_signature.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

#include "foundation/exceptions.h"
#include "foundation/file_digest.h"
#include "foundation/file_mapping.h"
#include "foundation/handle.h"
#include "foundation/log.h"
#include "foundation/sha256.h"
#include "foundation/strings.h"
#include "payload/keys.h"
#include "payload/signature_check.h"

namespace vyn::sfx {
namespace {

constexpr std::uint64_t max_signed_file = 0x100000000ull;  // files of 4 GiB or more are not checked
constexpr std::size_t max_hash_line = 1024;

// An open file read through bounded views: a 32-bit process has no room for a view of a file
// of a few hundred megabytes, let alone of 4 GiB.
class mapped_file_data final : public signature::piecewise_data {
 public:
  explicit mapped_file_data(HANDLE file) : mapping_(file) {}
  std::uint64_t size() const override { return mapping_.size(); }
  void read(std::uint64_t offset, std::uint64_t length,
            const std::function<void(signature::bytes)>& take) const override {
    mapping_.read_in_views(offset, length, take);
  }

 private:
  files::file_mapping mapping_;
};

bool check_handle(HANDLE file, unsigned key_set) {
  try {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) throw exceptions::error(::GetLastError(), "Unable to get file size!");
    const auto length = static_cast<std::uint64_t>(size.QuadPart);
    if (length == 0 || length >= max_signed_file) return false;
    const mapped_file_data data(file);
    return signature::check(data, key_set).valid();
  } catch (const std::exception& e) {
    VYN_LOG_EXC(log::level::debug, e, "DSA check of an open file failed.");
    return false;
  }
}

win::unique_handle open_for_check(const std::wstring& path) {
  win::unique_handle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD code = ::GetLastError();
    VYN_LOG_ERROR("Open file '{}' for DSA check fail  {}!", utils::to_log(path), code);
    throw exceptions::error(code, "Open file for DSA check fail!");
  }
  return file;
}

bool check_file(const std::wstring& path, unsigned key_set) {
  const win::unique_handle file = open_for_check(path);
  const bool result = check_handle(file.get(), key_set);
  VYN_LOG_DEBUG("DSA for file '{}' verified with result '{}'", utils::to_log(path), result);
  return result;
}

// SHA-256 of a whole file, through bounded views.
root::digest file_digest(const std::wstring& path) {
  win::unique_handle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    throw exceptions::error(::GetLastError(), fmt::format("Unable to open file '{}' for reading!", utils::to_log(path)));
  }
  root::sha256 hash;
  return root::digest_of_file(hash, file.get());
}

}  // namespace

bool verify_signature::verify_handle(void* file) {
  const bool result = check_handle(file, keys::stub_key_set);
  VYN_LOG_DEBUG("DSA for file verified with result '{}'", result);
  return result;
}

bool verify_signature::verify_block(const std::uint8_t* data, std::size_t length) {
  const bool result = data != nullptr && signature::is_signed({data, length}, keys::stub_key_set);
  VYN_LOG_DEBUG("DSA for block with size '{}' verified with result '{}'", length, result);
  return result;
}

bool verify_signature::verify_file(const std::wstring& path) { return check_file(path, keys::stub_key_set); }

bool verify_signature::verify_handle_ext(void* file) {
  const bool result = check_handle(file, keys::extended_key_set);
  VYN_LOG_DEBUG("DSA for file verified with result '{}'", result);
  return result;
}

bool verify_signature::verify_file_ext(const std::wstring& path) { return check_file(path, keys::extended_key_set); }

bool verify_signature::verify_file_by_hash_file(const std::wstring& path, const std::string& hash_file) {
  std::string line;
  bool read = false;
  errno = 0;
  try {
    if (std::FILE* f = ::_wfopen(utils::to_wide(hash_file).c_str(), L"rb")) {
      int c = 0;
      while (line.size() < max_hash_line && (c = std::fgetc(f)) != EOF && c != '\n') line += static_cast<char>(c);
      read = !std::ferror(f);
      std::fclose(f);
    }
  } catch (const std::exception&) {
    errno = EINVAL;  // a path that is not UTF-8
  }
  if (!read) {
    VYN_LOG_ERROR("Could not read sig file ({}) ({})", hash_file, std::strerror(errno));
    return false;
  }
  return verify_file_by_hash(path, line);
}

bool verify_signature::verify_file_by_hash(const std::wstring& path, const std::string& sha256) {
  try {
    const root::digest expected{std::string_view(sha256)};
    return !expected.empty() && expected == file_digest(path);
  } catch (const std::exception& e) {
    VYN_LOG_EXC(log::level::debug, e, "Hash check of '{}' failed.", utils::to_log(path));
    return false;
  }
}

}  // namespace vyn::sfx
