#pragma once

// Writes scan files frame by frame, holding no more than the frame the caller passes in.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OutputFile.h"
#include "ScanFormat.h"

namespace quarn::scan {

class ScanWriter {
 public:
  // Starts writing `path` (UTF-8), which appears only once finish() succeeds (see OutputFile).
  // Throws std::invalid_argument for a negative frame count, OutputFileError when the file
  // cannot be written.
  ScanWriter(const std::string& path, std::int32_t frameCount, const PoseArray& scanPose);
  // Discards the file unless finish() succeeded.
  ~ScanWriter();
  ScanWriter(const ScanWriter&) = delete;
  ScanWriter& operator=(const ScanWriter&) = delete;

  // Appends the next frame; pixels[x * sizeY + y] is pixel (x, y); sizeX * sizeY pixels.
  // Throws std::invalid_argument for negative sizes or null pixels, std::runtime_error when
  // all frames are already written or the write fails (which ends the writer).
  void addFrame(std::int32_t sizeX, std::int32_t sizeY, const PoseArray& pose,
                const ScanPixel* pixels);
  // Writes the frame table and puts the file in place. Throws std::runtime_error when
  // fewer frames than announced were added (more may then be added) or on a write failure.
  void finish();

 private:
  void write(const void* data, std::size_t size);
  void writeZeros(std::uint64_t size);
  void checkWriting() const;
  [[noreturn]] void fail();  // ends the writer with the file's error

  std::string path_;
  std::unique_ptr<OutputFile> file_;  // null once finished or failed
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
// when a frame's pixel count is not sizeX * sizeY; no file is left behind on failure.
void writeScan(const std::string& path, const PoseArray& scanPose,
               const std::vector<ScanFrame>& frames);

}  // namespace quarn::scan
