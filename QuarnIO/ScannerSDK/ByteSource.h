#pragma once

// Random-access bytes for the scan reader: a file, or a memory buffer (for fuzzing).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quarn::scan {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Total size, fixed when the source was opened.
  virtual std::uint64_t size() const = 0;
  // Reads exactly `count` bytes at `offset`; false when they cannot all be read.
  virtual bool read(std::uint64_t offset, void* out, std::size_t count) = 0;
};

// Opens `path` (narrow characters, as std::fopen takes it); null when it cannot be opened
// or its size cannot be found.
std::unique_ptr<ByteSource> openFileSource(const std::string& path);

// Reads from `data`, which the caller keeps alive and unchanged while the source lives.
std::unique_ptr<ByteSource> memorySource(const void* data, std::size_t size);

}  // namespace quarn::scan
