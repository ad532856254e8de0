#include "foundation/exceptions.h"

#include <utility>

namespace vyn::exceptions::detail {

// Not inlined, so that the return address lies in the function that raises the exception.
[[gnu::noinline]] base::base(std::string message)
    : message_(std::move(message)), code_(no_code), address_(__builtin_return_address(0)) {}

[[gnu::noinline]] base::base(std::uint32_t code, std::string message)
    : message_(std::move(message)), code_(code), address_(__builtin_return_address(0)) {}

[[gnu::noinline]] base::base(std::uint32_t code)
    : code_(code), address_(__builtin_return_address(0)) {}

}  // namespace vyn::exceptions::detail
