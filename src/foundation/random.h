#pragma once
// Random numbers for temporary names, log rotation names and identifiers.

#include <cstdint>
#include <string>

namespace vyn::utils {

// The next 64-bit number of the process-wide random pool.
std::uint64_t random_u64();

// A random version-4 UUID as 36 lower-case hexadecimal characters in groups 8-4-4-4-12.
std::string random_uuid();

// Formats a UUID from its two 64-bit halves, setting the version nibble to 4 and the variant
// bits to 10.
std::string format_uuid_v4(std::uint64_t high, std::uint64_t low);

}  // namespace vyn::utils
