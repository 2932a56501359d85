// PCL's binary PCD 0.7: x, y, z and the colour packed in a float's bits as PCL packs it,
// (r << 16) | (g << 8) | b, little-endian; with normals, normal_x, normal_y, normal_z after it
// (PCL's names, which Open3D reads).

#include <algorithm>
#include <cstring>
#include <vector>

#include "PointWriter.h"

namespace quarn {

namespace {

void putLittleEndian(std::vector<unsigned char>& out, std::uint32_t bits) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(bits >> (8 * i)));
}

class PcdWriter final : public PointWriter {
 public:
  PcdWriter(std::ostream& out, std::uint64_t count, std::uint64_t pixels, bool normals)
      : PointWriter(out, count, pixels, normals) {}

 private:
  std::string header(std::uint64_t count, std::uint64_t pixels) const override {
    // The count appears twice: twice the padding.
    const std::string padding = headerPadding(count, pixels);
    const bool n = normals();
    return "# .PCD v0.7 - Point Cloud Data file format" + padding + padding +
           "\n"
           "VERSION 0.7\n"
           "FIELDS x y z rgb" +
           (n ? " normal_x normal_y normal_z" : "") + "\nSIZE 4 4 4 4" + (n ? " 4 4 4" : "") +
           "\nTYPE F F F F" + (n ? " F F F" : "") + "\nCOUNT 1 1 1 1" + (n ? " 1 1 1" : "") +
           "\nWIDTH " + std::to_string(count) + "\nHEIGHT 1\nVIEWPOINT 0 0 0 1 0 0 0\nPOINTS " +
           std::to_string(count) + "\nDATA binary\n";
  }

  void put(const PointBlock& block) override {
    const float* xyz = block.xyz;
    const std::uint8_t* rgb = block.rgb;
    const std::size_t count = block.count;
    const float* normals = this->normals() ? block.normals : nullptr;
    // In chunks, so that a whole cloud costs no second copy of itself.
    for (std::size_t start = 0; start < count; start += kChunk) {
      const std::size_t end = std::min(count, start + kChunk);
      bytes_.clear();
      for (std::size_t i = start; i < end; ++i) {
        for (int k = 0; k < 3; ++k) {
          std::uint32_t bits;
          std::memcpy(&bits, &xyz[3 * i + k], sizeof bits);
          putLittleEndian(bytes_, bits);
        }
        putLittleEndian(bytes_, std::uint32_t{rgb[3 * i]} << 16 |
                                    std::uint32_t{rgb[3 * i + 1]} << 8 | rgb[3 * i + 2]);
        for (int k = 0; k < 3 && normals; ++k) {
          std::uint32_t bits;
          std::memcpy(&bits, &normals[3 * i + k], sizeof bits);
          putLittleEndian(bytes_, bits);
        }
      }
      out_.write(reinterpret_cast<const char*>(bytes_.data()),
                 static_cast<std::streamsize>(bytes_.size()));
    }
  }

  static constexpr std::size_t kChunk = 1 << 16;  // points per write
  std::vector<unsigned char> bytes_;
};

}  // namespace

std::unique_ptr<PointWriter> makePcdWriter(std::ostream& out, std::uint64_t count,
                                           std::uint64_t pixels, bool normals) {
  return std::make_unique<PcdWriter>(out, count, pixels, normals);
}

}  // namespace quarn
