#pragma once

#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

// Fresh output storage is written exactly once, column by column, and on first touch every
// page costs a fault. Where the platform can map a range of pages in one call, this maps the
// blocks in ahead of the pixel loop: on a second thread, in slices of the same columns of every
// block so the loop keeps finding its pages ready, or in place if no thread can be had.
// Elsewhere it does nothing. It never reads or writes the storage, so results never depend on it.
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
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
