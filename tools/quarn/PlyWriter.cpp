#include "PlyWriter.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quarn::tool {

namespace {

constexpr std::size_t kVertexSize = 3 * 4 + 3;

// Byte by byte, so that the file is little-endian whatever the machine is.
unsigned char* putFloat(unsigned char* out, float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 4; ++i) *out++ = static_cast<unsigned char>(bits >> (8 * i));
  return out;
}

}  // namespace

void writePly(std::ostream& out, const PointCloud& cloud) {
  out << "ply\n"
         "format binary_little_endian 1.0\n"
         "comment written by quarn\n"
         "element vertex "
      << cloud.size()
      << "\n"
         "property float x\n"
         "property float y\n"
         "property float z\n"
         "property uchar red\n"
         "property uchar green\n"
         "property uchar blue\n"
         "end_header\n";
  constexpr std::size_t kChunk = 1 << 16;  // vertices per write
  std::vector<unsigned char> buffer(kChunk * kVertexSize);
  for (std::size_t start = 0; start < cloud.size(); start += kChunk) {
    const std::size_t end = std::min(cloud.size(), start + kChunk);
    unsigned char* p = buffer.data();
    for (std::size_t i = start; i < end; ++i) {
      for (float coordinate : cloud.points[i]) p = putFloat(p, coordinate);
      for (std::uint8_t channel : cloud.colours[i]) *p++ = channel;
    }
    out.write(reinterpret_cast<const char*>(buffer.data()), p - buffer.data());
  }
}

}  // namespace quarn::tool
