#pragma once
// The heap allocator the LZMA library's decoder and encoder are given.

#include <cstddef>
#include <cstdlib>

#include <lzma-sdk/Types.h>

namespace vyn::packers::detail {

inline void* lzma_heap_alloc(void*, std::size_t size) { return size == 0 ? nullptr : std::malloc(size); }
inline void lzma_heap_free(void*, void* address) { std::free(address); }
inline ISzAlloc lzma_heap_allocator{lzma_heap_alloc, lzma_heap_free};

}  // namespace vyn::packers::detail
