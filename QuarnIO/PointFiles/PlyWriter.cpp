// Binary little-endian PLY: per vertex float x, y, z and uchar red, green, blue (the SDK's
// colour bytes 0, 1, 2); with normals, float nx, ny, nz after them, as Open3D and PCL name them.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "PointWriter.h"

namespace quarn {

namespace {

constexpr std::size_t kVertexSize = 3 * 4 + 3;
constexpr std::size_t kNormalSize = 3 * 4;
constexpr std::size_t kChunk = 1 << 16;  // vertices per write

class PlyWriter final : public PointWriter {
 public:
  PlyWriter(std::ostream& out, std::uint64_t count, std::uint64_t pixels, bool normals)
      : PointWriter(out, count, pixels, normals) {}

 private:
  std::string header(std::uint64_t count, std::uint64_t pixels) const override {
    return "ply\n"
           "format binary_little_endian 1.0\n"
           "comment written by quarn" +
           headerPadding(count, pixels) + "\nelement vertex " + std::to_string(count) +
           "\n"
           "property float x\n"
           "property float y\n"
           "property float z\n"
           "property uchar red\n"
           "property uchar green\n"
           "property uchar blue\n" +
           (normals() ? "property float nx\nproperty float ny\nproperty float nz\n" : "") +
           "end_header\n";
  }

  void put(const PointBlock& block) override {
    const float* xyz = block.xyz;
    const std::uint8_t* rgb = block.rgb;
    const std::size_t count = block.count;
    const float* normals = this->normals() ? block.normals : nullptr;
    const std::size_t size = kVertexSize + (normals ? kNormalSize : 0);
    buffer_.resize(kChunk * size);
    for (std::size_t start = 0; start < count; start += kChunk) {
      const std::size_t end = std::min(count, start + kChunk);
      unsigned char* p = buffer_.data();
      for (std::size_t i = start; i < end; ++i, p += size) {
        std::memcpy(p, &xyz[3 * i], 3 * 4);
        std::memcpy(p + 3 * 4, &rgb[3 * i], 3);
        if (normals) std::memcpy(p + kVertexSize, &normals[3 * i], kNormalSize);
        if (!kLittleEndian) {
          for (unsigned char* value = p; value < p + 3 * 4; value += 4)
            std::reverse(value, value + 4);
          for (unsigned char* value = p + kVertexSize; value < p + size; value += 4)
            std::reverse(value, value + 4);
        }
      }
      out_.write(reinterpret_cast<const char*>(buffer_.data()), p - buffer_.data());
    }
  }

  std::vector<unsigned char> buffer_;
};

}  // namespace

std::unique_ptr<PointWriter> makePlyWriter(std::ostream& out, std::uint64_t count,
                                           std::uint64_t pixels, bool normals) {
  return std::make_unique<PlyWriter>(out, count, pixels, normals);
}

}  // namespace quarn
