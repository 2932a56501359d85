// Text, "x y z r g b" a line (with normals "x y z r g b nx ny nz"): each coordinate and normal
// component in the shortest form that reads back as the same float (-0 stays -0), colours
// 0-255.

#include <charconv>

#include "PointWriter.h"

namespace quarn {

namespace {

class XyzWriter final : public PointWriter {
 public:
  XyzWriter(std::ostream& out, std::uint64_t count, std::uint64_t pixels, bool normals)
      : PointWriter(out, count, pixels, normals) {}

 private:
  std::string header(std::uint64_t, std::uint64_t) const override { return ""; }

  void put(const PointBlock& block) override {
    const float* xyz = block.xyz;
    const std::uint8_t* rgb = block.rgb;
    const std::size_t count = block.count;
    const float* normals = this->normals() ? block.normals : nullptr;
    char line[6 * 25 + 3 * 5];  // no float takes more than 24 characters
    for (std::size_t i = 0; i < count; ++i) {
      char* p = line;
      for (int k = 0; k < 3; ++k) {
        p = std::to_chars(p, p + 24, xyz[3 * i + k]).ptr;
        *p++ = ' ';
      }
      for (int k = 0; k < 3; ++k) {
        p = std::to_chars(p, p + 4, rgb[3 * i + k]).ptr;
        *p++ = k < 2 || normals ? ' ' : '\n';
      }
      for (int k = 0; k < 3 && normals; ++k) {
        p = std::to_chars(p, p + 24, normals[3 * i + k]).ptr;
        *p++ = k < 2 ? ' ' : '\n';
      }
      out_.write(line, p - line);
    }
  }
};

}  // namespace

std::unique_ptr<PointWriter> makeXyzWriter(std::ostream& out, std::uint64_t count,
                                           std::uint64_t pixels, bool normals) {
  return std::make_unique<XyzWriter>(out, count, pixels, normals);
}

}  // namespace quarn
