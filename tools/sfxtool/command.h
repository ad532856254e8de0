#pragma once
// The tool's commands. Each lives in its own file and registers one entry of the command table;
// main() dispatches to it.

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "exit_codes.h"

namespace vyn::tool {

struct command {
  std::string_view name;
  std::string_view summary;  // one line for the command list
  std::string_view help;     // full usage text printed by --help
  int (*run)(const std::vector<std::string>& args);
};

// A failure that ends the command with a message and an exit code.
class tool_error : public std::runtime_error {
 public:
  tool_error(exit_code code, const std::string& message) : std::runtime_error(message), code_(code) {}
  exit_code code() const noexcept { return code_; }

 private:
  exit_code code_;
};

extern const command keygen_command;
extern const command sign_command;
extern const command verify_command;
extern const command pack_command;
extern const command unpack_command;
extern const command build_command;
extern const command publish_command;
extern const command inspect_command;

}  // namespace vyn::tool
