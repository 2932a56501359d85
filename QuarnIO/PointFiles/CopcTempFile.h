#pragma once

// Where COPC's writer keeps the points until the octree's cube is known: a file without a name,
// in TMPDIR (or /tmp), so that nothing is left behind however the process ends, a kill included.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace quarn {

class CopcTempFile {
 public:
  // Throws PointFormatError naming the folder and the system's reason.
  CopcTempFile();
  ~CopcTempFile();
  CopcTempFile(const CopcTempFile&) = delete;
  CopcTempFile& operator=(const CopcTempFile&) = delete;

  // Appends `size` bytes and returns where they start. Throws PointFormatError.
  std::uint64_t append(const void* data, std::size_t size);
  // The `size` bytes at `at`, from any thread. Throws PointFormatError.
  void read(std::uint64_t at, void* data, std::size_t size);

 private:
  [[noreturn]] void fail(int error) const;

  std::string folder_;
  std::uint64_t size_ = 0;
#if defined(_WIN32)
  std::mutex mutex_;  // a stream's position is shared
  void* file_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace quarn
