#include "PointFormat.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "Platform.h"
#include "PlyWriter.h"

namespace quarn::tool {

namespace {

// The extension of `path` in lower case, "" when it has none.
std::string extensionOf(const std::string& path) {
  std::string extension = pathToUtf8(pathFromUtf8(path).extension());
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

std::invalid_argument unknownFormat(const std::string& path, const char* known) {
  return std::invalid_argument("unknown output format '" +
                               pathToUtf8(pathFromUtf8(path).extension()) + "' (known: " + known +
                               ")");
}

void putLittleEndian(std::vector<unsigned char>& out, std::uint32_t bits) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(bits >> (8 * i)));
}

// PCL's binary PCD 0.7: x, y, z and the colour packed in a float's bits as PCL packs it,
// (r << 16) | (g << 8) | b, little-endian.
class PcdWriter final : public PointWriter {
 public:
  PcdWriter(std::ostream& out, std::uint64_t count, std::uint64_t pixels)
      : PointWriter(out, count, pixels) {}

 private:
  std::string header(std::uint64_t count, std::uint64_t pixels) const override {
    // The count appears twice: twice the padding.
    const std::string padding = headerPadding(count, pixels);
    return "# .PCD v0.7 - Point Cloud Data file format" + padding + padding +
           "\n"
           "VERSION 0.7\n"
           "FIELDS x y z rgb\n"
           "SIZE 4 4 4 4\n"
           "TYPE F F F F\n"
           "COUNT 1 1 1 1\n"
           "WIDTH " +
           std::to_string(count) + "\nHEIGHT 1\nVIEWPOINT 0 0 0 1 0 0 0\nPOINTS " +
           std::to_string(count) + "\nDATA binary\n";
  }

  void put(const float* xyz, const std::uint8_t* rgb, std::size_t count) override {
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
      }
      out_.write(reinterpret_cast<const char*>(bytes_.data()),
                 static_cast<std::streamsize>(bytes_.size()));
    }
  }

  static constexpr std::size_t kChunk = 1 << 16;  // points per write
  std::vector<unsigned char> bytes_;
};

// Text, "x y z r g b" a line: each coordinate in the shortest form that reads back as the same
// float (-0 stays -0), colours 0-255.
class XyzWriter final : public PointWriter {
 public:
  XyzWriter(std::ostream& out, std::uint64_t count, std::uint64_t pixels)
      : PointWriter(out, count, pixels) {}

 private:
  std::string header(std::uint64_t, std::uint64_t) const override { return ""; }

  void put(const float* xyz, const std::uint8_t* rgb, std::size_t count) override {
    char line[3 * 25 + 3 * 5];  // no float takes more than 24 characters
    for (std::size_t i = 0; i < count; ++i) {
      char* p = line;
      for (int k = 0; k < 3; ++k) {
        p = std::to_chars(p, p + 24, xyz[3 * i + k]).ptr;
        *p++ = ' ';
      }
      for (int k = 0; k < 3; ++k) {
        p = std::to_chars(p, p + 4, rgb[3 * i + k]).ptr;
        *p++ = k < 2 ? ' ' : '\n';
      }
      out_.write(line, p - line);
    }
  }
};

}  // namespace

PointFormat pointFormatOf(const std::string& path) {
  const std::string extension = extensionOf(path);
  if (extension.empty() || extension == ".ply") return PointFormat::ply;
  if (extension == ".pcd") return PointFormat::pcd;
  if (extension == ".xyz") return PointFormat::xyz;
  throw unknownFormat(path, ".ply, .pcd, .xyz");
}

const char* formatName(PointFormat format) {
  return format == PointFormat::ply ? "PLY" : format == PointFormat::pcd ? "PCD" : "XYZ";
}

void checkPictureFormat(const std::string& path) {
  const std::string extension = extensionOf(path);
  if (!extension.empty() && extension != ".png") throw unknownFormat(path, ".png");
}

std::string headerPadding(std::uint64_t count, std::uint64_t pixels) {
  if (count > pixels) throw std::logic_error("more points than pixels");
  return std::string(std::to_string(pixels).size() - std::to_string(count).size(), ' ');
}

bool countFirst(PointFormat format) { return format != PointFormat::xyz; }

void PointWriter::start() {
  const bool counted = count_ != kUncounted;
  const std::string text = header(counted ? count_ : pixels_, pixels_);
  if (!counted && !text.empty()) {
    headerAt_ = out_.tellp();
    if (headerAt_ == std::ostream::pos_type(-1)) out_.setstate(std::ios::failbit);
  }
  out_ << text;
}

void PointWriter::write(const float* xyz, const std::uint8_t* rgb, std::size_t count) {
  if (count > std::min(count_, pixels_) - written_)
    throw std::logic_error("more points than announced");
  put(xyz, rgb, count);
  written_ += count;
}

void PointWriter::finish() {
  if (count_ != kUncounted) {
    if (written_ != count_) throw std::logic_error("fewer points than announced");
    return;
  }
  if (headerAt_ == std::ostream::pos_type(-1)) return;
  const std::ostream::pos_type end = out_.tellp();
  out_.seekp(headerAt_);
  out_ << header(written_, pixels_);
  out_.seekp(end);
}

std::unique_ptr<PointWriter> makePointWriter(PointFormat format, std::ostream& out,
                                             std::uint64_t count, std::uint64_t pixels) {
  std::unique_ptr<PointWriter> writer;
  switch (format) {
    case PointFormat::pcd:
      writer.reset(new PcdWriter(out, count, pixels));
      break;
    case PointFormat::xyz:
      writer.reset(new XyzWriter(out, count, pixels));
      break;
    default:
      writer = makePlyWriter(out, count, pixels);
  }
  writer->start();
  return writer;
}

void writePoints(PointWriter& writer, const PointCloud& cloud) {
  static_assert(sizeof(cloud.points[0]) == 3 * sizeof(float) && sizeof(cloud.colours[0]) == 3);
  writer.write(cloud.points.empty() ? nullptr : cloud.points[0].data(),
               cloud.colours.empty() ? nullptr : cloud.colours[0].data(), cloud.size());
  writer.finish();
}

}  // namespace quarn::tool
