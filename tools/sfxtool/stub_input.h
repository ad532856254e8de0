#pragma once
// The linked stub image that `build` appends a payload to. The stub finds its payload where its
// last section's raw data ends, so whatever lies there must be ours: an image that already
// carries data behind its sections (a payload, a signature block, an Authenticode table, an
// overlay) is refused. The one exception is the COFF symbol table that the linker leaves behind
// the sections of an unstripped image: it is dropped and its header fields cleared, since the
// stub would otherwise read it as the first payload record, and section names kept in its string
// table are cut to 8 characters.

#include <cstdint>
#include <string>
#include <vector>

namespace vyn::tool {

struct stub_input {
  std::vector<std::uint8_t> image;    // headers and sections; the payload goes directly behind
  bool pe64 = false;                  // PE32+ (the x86_64 test build) rather than PE32
  std::uint64_t dropped_symbols = 0;  // bytes of COFF symbol and string table removed
};

// Checks a stub image read from name; raises tool_error(exit_refused) saying why it cannot take a
// payload.
stub_input prepare_stub(std::vector<std::uint8_t> file, const std::string& name);

}  // namespace vyn::tool
