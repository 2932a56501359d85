#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <thread>
#include <vector>

// True when transparent huge pages are not off (`thpEnabled`, the text of
// /sys/kernel/mm/transparent_hugepage/enabled), free blocks are not handed back to a
// hypervisor, and the free blocks of order 9 and above in `buddyinfo` (/proc/buddyinfo, all
// zones; a block of order k is 2^(k-9) huge pages) cover `hugePages` with a spare of 32.
bool hugePagesAreFree(std::string_view buddyinfo, std::string_view thpEnabled,
                      bool freeBlocksReported, std::uint64_t hugePages);

// True for a virtio balloon (`virtioDevice`, the text of /sys/bus/virtio/devices/*/device, is
// 0x0005) with free page reporting (bit 5 of `virtioFeatures`, its features file, is 1). Such
// a guest hands its free blocks of order 9 and above (page_reporting_order) back to the
// hypervisor within seconds, so /proc/buddyinfo's free huge blocks are mostly memory the host
// has taken back: the first touch costs a hypervisor fault per 4 KiB, and a read that asks for
// huge pages there after a pause took several times as long as one on 4 KiB pages recycled in
// the guest (docs/memory.md has the figures).
bool reportsFreePages(std::string_view virtioDevice, std::string_view virtioFeatures);

// Fresh output storage is written exactly once, column by column, and on first touch every
// page costs a fault. Where the platform can map a range of pages in one call, this maps the
// blocks in ahead of the pixel loop: on a second thread, in slices of the same columns of every
// block so the loop keeps finding its pages ready, or in place if no thread can be had.
// Elsewhere it does nothing. It never reads or writes the storage, so results never depend on it.
//
// First it asks for transparent huge pages for the blocks (one fault and no TLB misses per
// 2 MiB instead of 512 of each) but only when hugePagesAreFree() says the kernel has them free
// right now: on fragmented memory the first huge-page fault would make the kernel compact
// memory synchronously, on the host's time (seconds, measured), so there the blocks keep
// 4 KiB pages.
class StoragePrefault {
 public:
  struct Block {
    void* data;
    std::size_t bytes;
  };

  explicit StoragePrefault(std::vector<Block> blocks);
  // Stops early if the loop is done first, and waits for the thread.
  ~StoragePrefault();
  StoragePrefault(const StoragePrefault&) = delete;
  StoragePrefault& operator=(const StoragePrefault&) = delete;

 private:
  void run();

  std::vector<Block> blocks_;
  std::size_t slices_ = 0;  // of the largest block, about kSliceBytes each
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
