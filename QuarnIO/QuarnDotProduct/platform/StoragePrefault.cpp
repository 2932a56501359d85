#include "StoragePrefault.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

void prefaultStorage(void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  // Only whole pages inside the block; small blocks are not worth a system call.
  constexpr std::uintptr_t kPage = 4096;
  if (bytes < (std::size_t{1} << 20)) return;
  const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
  const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kPage - 1);
  // Kernels before 5.14 refuse the advice; the writes then fault the pages in as usual.
  madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
  // No such call here: the writes fault the pages in as they come.
  (void)data;
  (void)bytes;
#endif
}
