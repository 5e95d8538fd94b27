#include "platform/virtual_memory.h"

#include <sys/mman.h>
#include <unistd.h>

namespace talven::platform {

void* reserve_lazy_memory(std::size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

bool make_inaccessible(void* address, std::size_t bytes) {
  return mprotect(address, bytes, PROT_NONE) == 0;
}

void discard_pages(void* address, std::size_t bytes) {
  madvise(address, bytes, MADV_DONTNEED);
}

std::size_t page_size() {
  static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

}  // namespace talven::platform
