#include "StoragePrefault.h"

#include <algorithm>
#include <cstdint>
#include <system_error>
#include <utility>

#include "KernelText.h"
#include "PageRange.h"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
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
// A transparent huge page: a free block of order 9 of 4 KiB pages.
constexpr int kHugePageOrder = 9;
constexpr std::uintptr_t kHugePage = kPage << kHugePageOrder;
// Free huge blocks left over beyond the output's: the zones' watermarks and whoever else
// allocates meanwhile must not make the last of our faults compact.
constexpr std::uint64_t kSpareHugePages = 32;

#if defined(__linux__)
PageRange wholePages(const StoragePrefault::Block& block, std::uintptr_t pageBytes) {
  return wholePagesWithin(reinterpret_cast<std::uintptr_t>(block.data), block.bytes, pageBytes);
}
#endif

// Maps in the whole pages of slice `slice` of `slices` of the block.
void populateSlice(const StoragePrefault::Block& block, std::size_t slice, std::size_t slices) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  const PageRange range = wholePages(block, kPage);
  const std::uintptr_t pages = range.bytes() / kPage;
  const std::uintptr_t from = range.first + pages * slice / slices * kPage;
  const std::uintptr_t to = range.first + pages * (slice + 1) / slices * kPage;
  // Kernels before 5.14 refuse the advice; the writes then fault the pages in as usual.
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
  (void)block, (void)slice, (void)slices;
#endif
}

// Asks for huge pages for the blocks when the kernel has them free right now (see
// hugePagesAreFree); otherwise they stay on 4 KiB pages.
void adviseHugePages(const std::vector<StoragePrefault::Block>& blocks) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (sysconf(_SC_PAGESIZE) != static_cast<long>(kPage)) return;  // order 9 is not 2 MiB
  std::uint64_t hugePages = 0;
  for (const StoragePrefault::Block& block : blocks)
    hugePages += wholePages(block, kHugePage).bytes() / kHugePage;
  using kernel_text::readKernelFile;
  bool reported = false;
  std::error_code error;  // no virtio bus: no balloon
  for (std::filesystem::directory_iterator device("/sys/bus/virtio/devices", error), end;
       !error && device != end; device.increment(error)) {
    const std::string path = device->path().string();
    reported = reported || reportsFreePages(readKernelFile(path + "/device").value_or(""),
                                            readKernelFile(path + "/features").value_or(""));
  }
  if (!hugePagesAreFree(readKernelFile("/proc/buddyinfo").value_or(""),
                        readKernelFile("/sys/kernel/mm/transparent_hugepage/enabled").value_or(""),
                        reported, hugePages))
    return;
  for (const StoragePrefault::Block& block : blocks) {
    const PageRange range = wholePages(block, kPage);
    if (range.bytes() != 0) madvise(range.data(), range.bytes(), MADV_HUGEPAGE);
  }
#else
  (void)blocks;
#endif
}

}  // namespace

bool reportsFreePages(std::string_view virtioDevice, std::string_view virtioFeatures) {
  // The features file is one '0' or '1' per feature bit, bit 0 first.
  return kernel_text::nextLine(virtioDevice) == "0x0005" && virtioFeatures.find('1', 5) == 5;
}

bool hugePagesAreFree(std::string_view buddyinfo, std::string_view thpEnabled,
                      bool freeBlocksReported, std::uint64_t hugePages) {
  using namespace kernel_text;
  if (thpEnabled.find("[always]") == thpEnabled.npos &&
      thpEnabled.find("[madvise]") == thpEnabled.npos)
    return false;  // "[never]", or a kernel without transparent huge pages
  if (freeBlocksReported) return false;
  std::uint64_t free = 0;
  while (!buddyinfo.empty()) {
    std::string_view line = nextLine(buddyinfo);
    for (int skipped = 0; skipped < 4; ++skipped) nextField(line);  // "Node 0, zone Normal"
    for (int order = 0; !line.empty(); ++order) {
      const std::uint64_t blocks = number(nextField(line)).value_or(0);
      if (order >= kHugePageOrder) free += blocks << (order - kHugePageOrder);
    }
  }
  return free >= hugePages + kSpareHugePages;
}

StoragePrefault::StoragePrefault(std::vector<Block> blocks) : blocks_(std::move(blocks)) {
  std::size_t largest = 0;
  for (const Block& block : blocks_) largest = std::max(largest, block.bytes);
  if (!kCanPopulate || largest < kMinimumBytes) return;
  slices_ = (largest + kSliceBytes - 1) / kSliceBytes;
  adviseHugePages(blocks_);
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
  for (std::size_t slice = 0; slice < slices_ && !stop_; ++slice) {
    for (const Block& block : blocks_) populateSlice(block, slice, slices_);
  }
}
