#pragma once
// Whole-file reads and all-or-nothing writes: a write goes to a temporary file beside the target
// and is renamed over it only when complete, so a failure never leaves a partial file.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

namespace vyn::tool {

// Raises tool_error(exit_io) when the file cannot be read.
std::vector<std::uint8_t> read_file(const std::filesystem::path& path);

// Replaces path with data; private files are created readable by the owner only.
void write_file(const std::filesystem::path& path, std::span<const std::uint8_t> data,
                bool owner_only = false);
void write_file(const std::filesystem::path& path, std::string_view text, bool owner_only = false);

// Whether a text file breaks its lines with CR LF (anywhere): files written or signed for it then
// keep that line ending.
inline bool uses_crlf(std::span<const std::uint8_t> text) {
  const std::string_view crlf = "\r\n";
  return std::search(text.begin(), text.end(), crlf.begin(), crlf.end()) != text.end();
}

}  // namespace vyn::tool
