// Host-side block primitives: the C library's malloc, free, memset and memcpy behind one seam, so
// that the tests can link a recording fake in their place.
#pragma once

#include <cstddef>

// The byte that every pageable block holds from its allocation until the first copy into it.
constexpr unsigned char HOST_BLOCK_FILL_BYTE = 0xA5;

// Pageable memory, or nullptr when the allocator cannot supply it.
void* allocate_host_block(std::size_t size_bytes);

// Writes HOST_BLOCK_FILL_BYTE over the whole block. A page of a fresh block that has only been
// read may be one shared zero page; once written, every page is the process's own memory, so a
// copy out of the block reads the whole block from memory.
void fill_host_block(void* block, std::size_t size_bytes);

void release_host_block(void* block);

void copy_host_block(void* destination, const void* source, std::size_t size_bytes);
