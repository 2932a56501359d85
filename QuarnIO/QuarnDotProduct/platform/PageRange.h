#pragma once

#include <cstddef>
#include <cstdint>

// The whole pages of `pageBytes` (a power of two: 4 KiB for madvise, 2 MiB for huge pages)
// inside the `bytes` from `start`, as [first, last); first == last when there is none.
struct PageRange {
  std::uintptr_t first, last;
  std::uintptr_t bytes() const { return last - first; }
  void* data() const { return reinterpret_cast<void*>(first); }
};

constexpr PageRange wholePagesWithin(std::uintptr_t start, std::size_t bytes,
                                     std::uintptr_t pageBytes) {
  const std::uintptr_t first = (start + pageBytes - 1) & ~(pageBytes - 1);
  const std::uintptr_t last = (start + bytes) & ~(pageBytes - 1);
  return {first, last > first ? last : first};
}
