#pragma once

// Compresses LAZ chunks on every core and hands them back in the order they came, so that the
// file's bytes never depend on the thread count or on timing. The threads start with the first
// chunk queued: a file of one chunk is compressed on the caller's thread alone.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quarn {

class LazChunkPool {
 public:
  // Chunks of records of `recordSize` bytes: 36, or 48 with normals.
  explicit LazChunkPool(std::size_t recordSize = 36) : recordSize_(recordSize) {}
  LazChunkPool(const LazChunkPool&) = delete;
  LazChunkPool& operator=(const LazChunkPool&) = delete;
  // Stops the threads; chunks not taken are dropped.
  ~LazChunkPool();

  // Queues `count` records for compression, taking their buffer.
  void queue(std::vector<unsigned char> records, std::size_t count);
  // How many queued chunks are not taken yet; the caller bounds its memory with it.
  std::size_t pending() const { return jobs_.size(); }
  // Whether the oldest chunk is compressed, so that take() would not wait.
  bool oldestReady();
  // The oldest chunk compressed, waiting for it; its records' buffer goes to `spare` for the
  // next chunk. Rethrows what its compression threw.
  std::vector<unsigned char> take(std::vector<unsigned char>& spare);
  // A few chunks per thread keep every thread busy while the caller writes.
  std::size_t limit() const { return 3 * threadCount(); }

 private:
  struct Job {
    std::vector<unsigned char> records, chunk;
    std::size_t count = 0;
    bool started = false, done = false;
    std::exception_ptr error;
  };
  static std::size_t threadCount();
  void work();

  std::size_t recordSize_;
  std::mutex mutex_;
  std::condition_variable queued_, finished_;
  std::deque<std::shared_ptr<Job>> jobs_;  // oldest first
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace quarn
