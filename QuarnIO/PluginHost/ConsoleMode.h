#pragma once

// The plug-in, loaded into this process, prints through std::cout. A quiet read mutes it by
// taking the stream's buffer away while it runs; what other code writes to the process's
// standard output by other means (Python's sys.stdout, a file written through descriptor 1)
// is not touched. Quiet and loud reads wait for each other, so a loud read never runs muted.

#include <condition_variable>
#include <iostream>
#include <mutex>

namespace quarn {

class ConsoleMode {
 public:
  explicit ConsoleMode(bool quiet) : quiet_(quiet) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return (quiet_ ? loud_ : muted_) == 0; });
    if (!quiet_) {
      ++loud_;
    } else if (muted_++ == 0) {
      std::cout.flush();
      buffer_ = std::cout.rdbuf(nullptr);
    }
  }
  ~ConsoleMode() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!quiet_) {
      --loud_;
    } else if (--muted_ == 0) {
      std::cout.rdbuf(buffer_);  // and clears the stream's failure from the muted writes
    }
    changed_.notify_all();
  }
  ConsoleMode(const ConsoleMode&) = delete;
  ConsoleMode& operator=(const ConsoleMode&) = delete;

 private:
  const bool quiet_;
  static inline std::mutex mutex_;
  static inline std::condition_variable changed_;
  static inline int loud_ = 0, muted_ = 0;
  static inline std::streambuf* buffer_ = nullptr;
};

}  // namespace quarn
