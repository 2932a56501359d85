#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "ScanFormat.h"
#include "ScanWriter.h"
#include "ScratchDir.h"

namespace quarn::scan::test {

using Bytes = std::vector<unsigned char>;

inline Bytes readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

template <typename T>
void put(Bytes& bytes, std::size_t offset, T value) {
  bytes.at(offset + sizeof value - 1);  // throws when the value does not fit
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// Offset of frame `index`'s record, from the frame table.
inline std::size_t frameOffset(const Bytes& file, int index) {
  std::uint64_t offset;
  std::memcpy(&offset, &file.at(kHeaderSize + 8 * index), sizeof offset);
  return static_cast<std::size_t>(offset);
}

inline PoseArray poseFrom(double first) {
  PoseArray pose;
  for (std::size_t i = 0; i < pose.size(); ++i) pose[i] = first + 0.5 * static_cast<double>(i);
  return pose;
}

// Three frames: 2 x 3 with every flag combination, an empty 0 x 4, and 1 x 1.
inline std::vector<ScanFrame> sampleFrames() {
  std::vector<ScanFrame> frames = {
      {2, 3, poseFrom(100), {}},
      {0, 4, poseFrom(200), {}},
      {1, 1, poseFrom(300), {{-0.0f, 1e-45f, -3.4e38f, 3, {1, 2, 3}}}}};
  const std::uint8_t flags[] = {0, kHasPoint, kHasColour, kHasPoint | kHasColour, 0xfc, 0xff};
  for (int i = 0; i < 6; ++i) {
    const float f = static_cast<float>(i);
    const auto c = static_cast<std::uint8_t>(i);
    frames[0].pixels.push_back(
        {f, -f, f / 3, flags[i], {c, static_cast<std::uint8_t>(255 - c), 7}});
  }
  return frames;
}

}  // namespace quarn::scan::test
