#pragma once

// Validating scan reader. open() checks the whole structure (header, frame table and
// every frame record's extent) before it succeeds, reading the header, the table and each
// frame's header but no pixels; a frame's pixels are read on request in one read.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ByteSource.h"
#include "ScanFormat.h"
#include "ScanStatus.h"

namespace quarn::scan {

struct FrameInfo {
  std::uint64_t pixelOffset;  // where the frame's pixel block starts
  std::int32_t sizeX, sizeY;
  PoseArray pose;
};

class ScanReader {
 public:
  // Each returns a ScanStatus (kOk, kCannotOpen, kNotScanFile, kUnsupportedVersion,
  // kDamaged) and replaces any open scan; on failure nothing is open. The only exception
  // they let through is std::bad_alloc, for tables no larger than the input.
  int open(const std::string& path);
  // `data` must stay alive and unchanged while the scan is open.
  int open(const void* data, std::size_t size);
  int open(std::unique_ptr<ByteSource> source);
  void close();

  bool isOpen() const { return source_ != nullptr; }
  std::int32_t frameCount() const { return static_cast<std::int32_t>(frames_.size()); }
  const PoseArray& scanPose() const { return scanPose_; }
  // Requires 0 <= index < frameCount().
  const FrameInfo& frame(std::int32_t index) const { return frames_[index]; }

  // Resizes `pixels` to the frame's pixel count and reads them in; false when the index is
  // out of range, nothing is open, or the read fails (the file changed since open).
  // Reusing `pixels` from frame to frame keeps memory to the largest frame.
  bool readPixels(std::int32_t index, std::vector<ScanPixel>& pixels);

 private:
  int validate();

  std::unique_ptr<ByteSource> source_;
  PoseArray scanPose_{};
  std::vector<FrameInfo> frames_;
};

}  // namespace quarn::scan
