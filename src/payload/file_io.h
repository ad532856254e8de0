#pragma once
// File helpers of the payload code: sizing and writing open files.

#include <windows.h>

#include <cstdint>
#include <span>


namespace vyn::sfx::file_io {

// Sets the end of the file at size bytes and puts the file pointer back where it was. Raises the
// system error code with "Unable to retrieve the file pointer!", "Unable to set size of file to
// {} bytes!" or "Unable to set the file pointer!"; 87 for an invalid handle or a negative size.
void set_file_size(HANDLE file, std::int64_t size);

// Writes all bytes at the file pointer; raises the system error code with message on failure.
void write_all(HANDLE file, std::span<const std::uint8_t> bytes, const char* message);

}  // namespace vyn::sfx::file_io
