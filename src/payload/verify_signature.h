#pragma once
// Checks of the signature block at the end of signed data: the stub executable, "sfx-info.xml",
// downloaded product descriptions and setup files. A check that fails for any reason (no block,
// malformed block, unknown key set, unreadable data) returns false; the caller decides.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vyn::sfx {

class verify_signature_intf {
 public:
  // file is an open Windows file handle (HANDLE) with read access; key set 7.
  virtual bool verify_handle(void* file) = 0;
  // size bytes at data; key set 7.
  virtual bool verify_block(const std::uint8_t* data, std::size_t size) = 0;
  // Key set 7. Raises vyn::exceptions::error (system code) when the file cannot be opened.
  virtual bool verify_file(const std::wstring& path) = 0;
  // As verify_handle with the alternative key set 8.
  virtual bool verify_handle_ext(void* file) = 0;
  // As verify_file with the alternative key set 8.
  virtual bool verify_file_ext(const std::wstring& path) = 0;
  // Compares the file's SHA-256 with the first line of the hash file.
  virtual bool verify_file_by_hash_file(const std::wstring& path, const std::string& hash_file) = 0;
  // Compares the file's SHA-256 with 64 hexadecimal digits.
  virtual bool verify_file_by_hash(const std::wstring& path, const std::string& sha256) = 0;
  virtual ~verify_signature_intf() = default;
};

class verify_signature : public verify_signature_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::shared_ptr<verify_signature_intf> create_verify_signature() = 0;
  };
};

}  // namespace vyn::sfx
