#include "PlyWriter.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quarn::tool {

namespace {

constexpr std::size_t kVertexSize = 3 * 4 + 3;
constexpr std::size_t kChunk = 1 << 16;  // vertices per write

// Byte by byte, so that the file is little-endian whatever the machine is.
unsigned char* putFloat(unsigned char* out, float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 4; ++i) *out++ = static_cast<unsigned char>(bits >> (8 * i));
  return out;
}

class PlyWriter final : public PointWriter {
 public:
  PlyWriter(std::ostream& out, std::uint64_t count) : PointWriter(count), out_(out) {
    out << "ply\n"
           "format binary_little_endian 1.0\n"
           "comment written by quarn\n"
           "element vertex "
        << count
        << "\n"
           "property float x\n"
           "property float y\n"
           "property float z\n"
           "property uchar red\n"
           "property uchar green\n"
           "property uchar blue\n"
           "end_header\n";
  }

 private:
  void put(const float* xyz, const std::uint8_t* rgb, std::size_t count) override {
    buffer_.resize(kChunk * kVertexSize);
    for (std::size_t start = 0; start < count; start += kChunk) {
      const std::size_t end = std::min(count, start + kChunk);
      unsigned char* p = buffer_.data();
      for (std::size_t i = start; i < end; ++i) {
        for (int k = 0; k < 3; ++k) p = putFloat(p, xyz[3 * i + k]);
        for (int k = 0; k < 3; ++k) *p++ = rgb[3 * i + k];
      }
      out_.write(reinterpret_cast<const char*>(buffer_.data()), p - buffer_.data());
    }
  }

  std::ostream& out_;
  std::vector<unsigned char> buffer_;
};

}  // namespace

std::unique_ptr<PointWriter> makePlyWriter(std::ostream& out, std::uint64_t count) {
  return std::make_unique<PlyWriter>(out, count);
}

}  // namespace quarn::tool
