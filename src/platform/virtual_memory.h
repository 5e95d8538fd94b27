// Reserving and protecting large stretches of address space without committing memory.
#pragma once
#include <cstddef>

namespace talven::platform {

// Maps `bytes` of zero-filled, read-write address space that takes physical memory only
// when touched. Returns nullptr when the system refuses.
void* reserve_lazy_memory(std::size_t bytes);

// Makes [address, address + bytes) inaccessible: any access faults.
bool make_inaccessible(void* address, std::size_t bytes);

// Hands the pages of [address, address + bytes) back to the system; they read as zero afterwards.
void discard_pages(void* address, std::size_t bytes);

std::size_t page_size();

}  // namespace talven::platform
