#pragma once

#include <windows.h>

#include <cstdint>

namespace vyn::sfx {

// Runs the whole installer for the process and returns its exit code.
std::uint32_t entry_point(HINSTANCE instance) noexcept;

}  // namespace vyn::sfx
