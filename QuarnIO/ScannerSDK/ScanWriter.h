#pragma once

// Writes scan files frame by frame, holding no more than the frame the caller passes in.

#include <cstdint>
#include <ostream>
#include <vector>

#include "ScanFormat.h"

namespace quarn::scan {

// Writes a scan into a stream the caller opened, from where the stream stands; the caller puts
// the file in place. The stream must seek: the frame table, which comes first, is written
// last. A failed write says only that the scan could not be written: the caller's file knows
// the system's reason, and its error is the one to report.
class ScanWriter {
 public:
  // Writes the header. Throws std::invalid_argument for a negative frame count,
  // std::runtime_error when the stream cannot seek or the write fails.
  ScanWriter(std::ostream& out, std::int32_t frameCount, const PoseArray& scanPose);
  ScanWriter(const ScanWriter&) = delete;
  ScanWriter& operator=(const ScanWriter&) = delete;

  // Appends the next frame; pixels[x * sizeY + y] is pixel (x, y); sizeX * sizeY pixels.
  // Throws std::invalid_argument for negative sizes or null pixels, std::runtime_error when
  // all frames are already written or the write fails (which ends the writer).
  void addFrame(std::int32_t sizeX, std::int32_t sizeY, const PoseArray& pose,
                const ScanPixel* pixels);
  // Writes the frame table and flushes the stream, left at the scan's end. Throws
  // std::runtime_error when fewer frames than announced were added (more may then be added)
  // or on a write failure.
  void finish();

 private:
  void write(const void* data, std::size_t size);
  void writeZeros(std::uint64_t size);
  void checkWriting() const;
  [[noreturn]] void fail();  // ends the writer

  std::ostream* out_;  // null once finished or failed
  std::streamoff start_ = 0;
  std::int32_t frameCount_;
  std::vector<std::uint64_t> offsets_;  // of the records written so far
  std::uint64_t end_ = 0;
};

struct ScanFrame {
  std::int32_t sizeX = 0, sizeY = 0;
  PoseArray pose{};
  std::vector<ScanPixel> pixels;  // pixels[x * sizeY + y] is pixel (x, y)
};

// Writes a whole scan held in memory. Throws as ScanWriter does, and std::invalid_argument
// when a frame's pixel count is not sizeX * sizeY, before anything is written.
void writeScan(std::ostream& out, const PoseArray& scanPose, const std::vector<ScanFrame>& frames);

}  // namespace quarn::scan
