#pragma once
// Checks the signature block at the end of the stub executable, its configuration file and
// downloaded files against the built-in key sets (key set 7 for the plain operations, 8 for the
// _ext ones). Stateless.

#include <windows.h>

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
  virtual bool verify_handle(HANDLE file) = 0;
  virtual bool verify_block(const std::uint8_t* data, std::size_t length) = 0;
  virtual bool verify_file(const std::wstring& path) = 0;
  virtual bool verify_handle_ext(HANDLE file) = 0;
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

  bool verify_handle(HANDLE file) override;
  bool verify_block(const std::uint8_t* data, std::size_t length) override;
  // Raises vyn::exceptions::error with the system error code and "Open file for DSA check fail!"
  // when the file cannot be opened.
  bool verify_file(const std::wstring& path) override;
  bool verify_handle_ext(HANDLE file) override;
  bool verify_file_ext(const std::wstring& path) override;
  bool verify_file_by_hash_file(const std::wstring& path, const std::string& hash_file) override;
  bool verify_file_by_hash(const std::wstring& path, const std::string& sha256) override;
};

}  // namespace vyn::sfx
