#include "host_memory.hpp"

#include <cstdlib>
#include <cstring>

void* allocate_host_block(std::size_t size_bytes) { return std::malloc(size_bytes); }

void fill_host_block(void* block, std::size_t size_bytes) {
    std::memset(block, HOST_BLOCK_FILL_BYTE, size_bytes);
}

void release_host_block(void* block) { std::free(block); }

void copy_host_block(void* destination, const void* source, std::size_t size_bytes) {
    std::memcpy(destination, source, size_bytes);
}
