#pragma once

// Poses, frames and file bytes for the tests and the fuzzer.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ScanOutput.h"
#include "ScanWriter.h"

namespace quarn::test {

using scan::PoseArray;
using scan::ScanFrame;
using scan::ScanPixel;
using Bytes = std::vector<unsigned char>;

// The scan written to a file as quarn writes one.
inline void writeScan(const std::string& path, const PoseArray& scanPose,
                      const std::vector<ScanFrame>& frames) {
  output::writeScanFile(path, scanPose, frames);
}

// A rotation about z by `angle` and a translation, column by column as the SDK stores poses.
inline PoseArray rotationAboutZ(double angle, double tx = 0, double ty = 0, double tz = 0) {
  PoseArray p{};
  p[0] = p[5] = std::cos(angle);
  p[1] = std::sin(angle);
  p[4] = 0.0 - std::sin(angle);  // +0 at angle 0
  p[10] = p[15] = 1.0;
  p[12] = tx;
  p[13] = ty;
  p[14] = tz;
  return p;
}

// A frame whose pixel i cycles through every flag combination, unused bits included.
inline ScanFrame cyclingFrame(int sizeX, int sizeY, const PoseArray& pose, float base) {
  static const std::uint8_t kFlags[] = {scan::kHasPoint | scan::kHasColour, scan::kHasPoint, 0,
                                        scan::kHasColour, 0xff};
  ScanFrame frame{sizeX, sizeY, pose, {}};
  for (int i = 0; i < sizeX * sizeY; ++i) {
    const float v = base + 0.25f * static_cast<float>(i);
    const auto c = static_cast<std::uint8_t>(17 * i);
    frame.pixels.push_back({v, -v, 2.0f - v, kFlags[i % 5], {c, static_cast<std::uint8_t>(~c), 7}});
  }
  return frame;
}

inline Bytes readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string readText(const std::string& path) {
  const Bytes bytes = readBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

inline void writeBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// `value` written over `bytes` at `offset`; throws when it does not fit.
template <typename T>
Bytes with(Bytes bytes, std::size_t offset, T value) {
  bytes.at(offset + sizeof value - 1);
  std::memcpy(bytes.data() + offset, &value, sizeof value);
  return bytes;
}

// Offset of frame `index`'s record, from the frame table.
inline std::size_t frameOffset(const Bytes& file, int index) {
  std::uint64_t offset;
  std::memcpy(&offset, &file.at(scan::kHeaderSize + 8 * index), sizeof offset);
  return static_cast<std::size_t>(offset);
}

}  // namespace quarn::test
