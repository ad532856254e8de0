#pragma once
// What goes into a stub's payload, as `build` is told on its command line or in list files:
// files under an alias (default: their file name), files reachable only by their SHA-256 (empty
// alias), whole folders, and the stored/LZMA switches that apply to the entries named after them.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "arguments.h"

namespace vyn::tool {

struct payload_entry {
  std::filesystem::path source;
  std::string alias;  // UTF-8; empty: the record is found by its SHA-256 only
  bool packed = false;
};

// The entries named by the options in command-line order: "file" (PATH[:ALIAS]), "hashed" (PATH),
// "dir" (DIR, every regular file below it under its relative path with '/'), "list" (FILE, lines
// of the same options without "--") and the switches "lzma" and "stored". Aliases are checked
// (valid UTF-8 without control characters, at most 65535 bytes); raises tool_error(exit_usage) for
// a malformed entry and tool_error(exit_io) for a folder or list that cannot be read.
std::vector<payload_entry> collect_entries(const std::vector<option_use>& options);

// Raises tool_error(exit_usage) unless alias is a valid record alias.
void check_alias(const std::string& alias, const std::string& context);

}  // namespace vyn::tool
