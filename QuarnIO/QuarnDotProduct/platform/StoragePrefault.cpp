#include "StoragePrefault.h"

#include <algorithm>
#include <cstdint>
#include <system_error>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
constexpr bool kCanPopulate = true;
#else
constexpr bool kCanPopulate = false;
#endif

// Small outputs are not worth a thread or a system call.
constexpr std::size_t kMinimumBytes = std::size_t{1} << 22;
// Slices of about this many bytes of the largest block.
constexpr std::size_t kSliceBytes = std::size_t{1} << 22;
constexpr std::uintptr_t kPage = 4096;

// Maps in the whole pages of slice `slice` of `slices` of the block.
void populateSlice(const StoragePrefault::Block& block, std::size_t slice, std::size_t slices) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  const auto start = reinterpret_cast<std::uintptr_t>(block.data);
  const std::uintptr_t first = (start + kPage - 1) & ~(kPage - 1);
  const std::uintptr_t last = (start + block.bytes) & ~(kPage - 1);
  if (last <= first) return;
  const std::uintptr_t pages = (last - first) / kPage;
  const std::uintptr_t from = first + pages * slice / slices * kPage;
  const std::uintptr_t to = first + pages * (slice + 1) / slices * kPage;
  // Kernels before 5.14 refuse the advice; the writes then fault the pages in as usual.
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
  (void)block, (void)slice, (void)slices;
#endif
}

}  // namespace

StoragePrefault::StoragePrefault(std::vector<Block> blocks) : blocks_(std::move(blocks)) {
  std::size_t largest = 0;
  for (const Block& block : blocks_) largest = std::max(largest, block.bytes);
  if (!kCanPopulate || largest < kMinimumBytes) return;
  try {
    thread_ = std::thread(&StoragePrefault::run, this);
  } catch (const std::system_error&) {
    run();  // no second thread: map everything in now, still one call per slice
  }
}

StoragePrefault::~StoragePrefault() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void StoragePrefault::run() {
  std::size_t largest = 0;
  for (const Block& block : blocks_) largest = std::max(largest, block.bytes);
  const std::size_t slices = (largest + kSliceBytes - 1) / kSliceBytes;
  for (std::size_t slice = 0; slice < slices && !stop_; ++slice) {
    for (const Block& block : blocks_) populateSlice(block, slice, slices);
  }
}
