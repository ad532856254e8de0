#pragma once
// Checks the signature block at the end of the stub executable, its configuration file and
// downloaded files against the built-in key sets (key set 7 for the plain operations, 8 for the
// _ext ones). Stateless. The implementation is Windows code; the byte-level check it uses is
// signature_check.h.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vyn::sfx {

// Every operation answers whether the data is validly signed; malformed blocks, unreadable files
// and every other failure inside the check give false. Only verify_file and verify_file_ext
// raise, when the file cannot be opened.
class verify_signature_intf {
 public:
  // file is an open Windows file handle (HANDLE) with read access; key set 7.
  virtual bool verify_handle(void* file) = 0;
  // length bytes at data; key set 7.
  virtual bool verify_block(const std::uint8_t* data, std::size_t length) = 0;
  // Key set 7. Raises vyn::exceptions::error (system code) when the file cannot be opened.
  virtual bool verify_file(const std::wstring& path) = 0;
  // As verify_handle with the alternative key set 8.
  virtual bool verify_handle_ext(void* file) = 0;
  // As verify_file with the alternative key set 8.
  virtual bool verify_file_ext(const std::wstring& path) = 0;
  // Compares the file's SHA-256 with the first line of hash_file (a UTF-8 path).
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

  bool verify_handle(void* file) override;
  bool verify_block(const std::uint8_t* data, std::size_t length) override;
  // Raises vyn::exceptions::error with the system error code and "Open file for DSA check fail!"
  // when the file cannot be opened.
  bool verify_file(const std::wstring& path) override;
  bool verify_handle_ext(void* file) override;
  bool verify_file_ext(const std::wstring& path) override;
  bool verify_file_by_hash_file(const std::wstring& path, const std::string& hash_file) override;
  bool verify_file_by_hash(const std::wstring& path, const std::string& sha256) override;
};

}  // namespace vyn::sfx
