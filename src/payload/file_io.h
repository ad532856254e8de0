#pragma once
// File helpers of the payload code: sizing and writing open files, the SHA-256 of an open file,
// and switching off the file-system redirection of a 32-bit process on 64-bit Windows.

#include <windows.h>

#include <cstdint>
#include <span>

#include "foundation/sha256.h"

namespace vyn::sfx::file_io {

// Sets the end of the file at size bytes and puts the file pointer back where it was. Raises the
// system error code with "Unable to retrieve the file pointer!", "Unable to set size of file to
// {} bytes!" or "Unable to set the file pointer!"; 87 for an invalid handle or a negative size.
void set_file_size(HANDLE file, std::int64_t size);

// Writes all bytes at the file pointer; raises the system error code with message on failure.
void write_all(HANDLE file, std::span<const std::uint8_t> bytes, const char* message);

// SHA-256 of the whole open file, read through mapped views of at most 32 MiB so that memory use
// does not grow with the file size.
root::digest digest_of_file(HANDLE file);

// Switches off the WOW64 file-system redirection of the calling thread while it lives (nothing
// happens where there is no redirection, as in 64-bit processes).
class fs_redirection_off {
 public:
  fs_redirection_off();
  ~fs_redirection_off();
  fs_redirection_off(const fs_redirection_off&) = delete;
  fs_redirection_off& operator=(const fs_redirection_off&) = delete;

 private:
  void* old_value_ = nullptr;
  bool disabled_ = false;
};

}  // namespace vyn::sfx::file_io
