#include "app/entry_point.h"

namespace vyn::sfx {

std::uint32_t entry_point(HINSTANCE) noexcept { return 0; }

}  // namespace vyn::sfx
