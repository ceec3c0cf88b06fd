// Host-side block primitives: the C library's malloc, free and memcpy behind one seam, so that
// the tests can link a recording fake in their place. Nothing here touches the memory itself.
#pragma once

#include <cstddef>

// Pageable memory, or nullptr when the allocator cannot supply it.
void* allocate_host_block(std::size_t size_bytes);

void release_host_block(void* block);

void copy_host_block(void* destination, const void* source, std::size_t size_bytes);
