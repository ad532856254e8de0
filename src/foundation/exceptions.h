#pragma once
// Every failure of the program is one of these types. Each carries a UTF-8 message (its what()
// text), the code address where it was raised and a 32-bit code; a type raised with a message
// only carries the code 0xFFFFFFFF (-1). Windows calls that fail put their system error code here.

#include <cstdint>
#include <exception>
#include <string>

namespace vyn::exceptions {

inline constexpr std::uint32_t no_code = 0xFFFFFFFFu;

namespace detail {

class base : public std::exception {
 public:
  explicit base(std::string message);
  base(std::uint32_t code, std::string message);
  explicit base(std::uint32_t code);

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }
  std::uint32_t code() const noexcept { return code_; }
  // Code address inside the function that raised the exception.
  const void* address() const noexcept { return address_; }
  // True when the exception carries a code other than the "message only" -1.
  bool has_code() const noexcept { return code_ != no_code; }

 private:
  std::string message_;
  std::uint32_t code_;
  const void* address_;
};

}  // namespace detail

class error : public detail::base {
 public:
  using detail::base::base;
};

class fatal : public detail::base {
 public:
  using detail::base::base;
};

}  // namespace vyn::exceptions

namespace vyn::sfx::exceptions {

using vyn::exceptions::error;

// The installer's own failures; their codes are part of the exit-code table.
class unsupported_os : public error {
 public:
  unsupported_os() : error(0xB000u) {}
};

class insufficient_integrity_level : public error {
 public:
  insufficient_integrity_level() : error(124u) {}
};

class sfx_invalid_signature : public error {
 public:
  sfx_invalid_signature() : error(44024u, "SFX is not DSA signed!") {}
};

class invalid_payload : public error {
 public:
  explicit invalid_payload(std::string message) : error(487u, std::move(message)) {}
};

class unsupported_file_format : public error {
 public:
  explicit unsupported_file_format(std::string message) : error(193u, std::move(message)) {}
};

class ppi_cancel : public error {
 public:
  ppi_cancel() : error(1223u) {}
};

// The confirmation dialog ended with a non-zero value other than Cancel.
class ppi_abort : public error {
 public:
  explicit ppi_abort(std::uint32_t dialog_result) : error(dialog_result) {}
};

class download_file_fail : public error {
 public:
  using error::error;
};

class download_no_content : public error {
 public:
  download_no_content() : error("No content") {}
};

class download_file_invalid_signature : public download_file_fail {
 public:
  using download_file_fail::download_file_fail;
};

class missign_sfx_file : public error {
 public:
  explicit missign_sfx_file(std::string message) : error(std::move(message)) {}
};

}  // namespace vyn::sfx::exceptions
