#pragma once
// The facts about the running process that the entry point needs besides the foundation's OS
// information: its integrity level and the process that started it.

#include <cstdint>
#include <string>
#include <vector>


namespace vyn::sfx::system_info {

// The mandatory integrity level of the process token (0x3000 high); 0 when it cannot be read.
std::uint32_t process_integrity_level() noexcept;

struct parent_process {
  std::uint32_t id = 0;
  std::wstring image_path;
};

// The process that started this one. Raises vyn::exceptions::error when it is gone or cannot be
// queried.
parent_process query_parent_process();

}  // namespace vyn::sfx::system_info
