#pragma once

// A point file written in chunks, in order, so that a cloud can be written whole or piece by
// piece as it is read. PLY and PCD headers hold the point count; their length depends only on
// the pixels the points come from (see headerPadding), so a writer not told the count first
// writes a placeholder header and the real one over it once the points are written.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

#include "PointFormat.h"

namespace quarn {

// Every binary point file is little-endian: on such a machine a value is written as it is
// held, elsewhere byte by byte. (Every Windows target is little-endian.)
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ || defined(_WIN32)
inline constexpr bool kLittleEndian = true;
#else
inline constexpr bool kLittleEndian = false;
#endif

// A run of points in output coordinates with their colours. From a frame source each block is
// one frame, and a format that keeps a frame's structure finds it here.
struct PointBlock {
  const float* xyz = nullptr;         // point i at xyz[3i], xyz[3i + 1], xyz[3i + 2]
  const std::uint8_t* rgb = nullptr;  // its colour bytes at rgb[3i], rgb[3i + 1], rgb[3i + 2]
  std::size_t count = 0;
  // Where points without a colour are kept: 1 for each such point (its rgb black), else 0.
  const std::uint8_t* colourless = nullptr;
  // The frame the points come from: -1 for points without a frame's structure.
  int frame = -1;
  int sizeX = 0, sizeY = 0;      // the frame's pixel grid
  const double* pose = nullptr;  // the frame's pose in output coordinates, 16 values row by row
  // Where the format asks for them (PointFormat::keepsFrames): each point as the scanner
  // measured it, in the frame's coordinates, and its pixel, x at pixel[2i], y at pixel[2i + 1].
  const float* frameXyz = nullptr;
  const std::int32_t* pixel = nullptr;
  // Where the writer was asked for them (startPointWriter): each point's unit surface normal,
  // nx, ny, nz at normals[3i..3i+2] in output coordinates, (0, 0, 0) where there is none; with
  // the measured points, the same in the frame's coordinates.
  const float* normals = nullptr;
  const float* frameNormals = nullptr;
};

// Points a format cannot hold (beyond its coordinates' range, say), in words for the user.
class PointFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class PointWriter {
 public:
  // The count is not known yet: counted as the points come.
  static constexpr std::uint64_t kUncounted = ~std::uint64_t{0};

  virtual ~PointWriter() = default;
  // Appends `count` points: point i at xyz[3i], xyz[3i + 1], xyz[3i + 2], its colour at
  // rgb[3i], rgb[3i + 1], rgb[3i + 2]. Throws std::logic_error beyond the count announced
  // or the pixels.
  void write(const float* xyz, const std::uint8_t* rgb, std::size_t count);
  void write(const PointBlock& block);
  // After the last block. Without a count announced, or when the format asks for it, writes
  // the header over the placeholder (the stream must seek then, unless the format has no
  // header); then the format's end(). Throws std::logic_error unless exactly the count
  // announced came.
  void finish();

 protected:
  PointWriter(std::ostream& out, std::uint64_t count, std::uint64_t pixels, bool normals)
      : out_(out), count_(count), pixels_(pixels), normals_(normals) {}
  // The header of a file of `count` points out of `pixels`, "" for a format without one. Its
  // length may depend on nothing but `pixels`.
  virtual std::string header(std::uint64_t count, std::uint64_t pixels) const = 0;
  // True when the header holds what only the points tell (bounds, say): it is written again
  // at the end even when the count was announced.
  virtual bool headerLast() const { return false; }
  virtual void put(const PointBlock& block) = 0;
  // After the last block, before the header is written again: what the format holds back till
  // then (LAZ's last chunks and their table, which its header points at).
  virtual void beforeHeader() {}
  // After the points and the header: what the file ends with.
  virtual void end() {}

  // Each point has a normal, which the file holds after its colour.
  bool normals() const { return normals_; }

  std::ostream& out_;

 private:
  friend std::unique_ptr<PointWriter> startPointWriter(const PointFormat&, std::ostream&,
                                                       std::uint64_t, std::uint64_t, bool);
  void start();

  std::uint64_t count_, pixels_, written_ = 0;
  std::ostream::pos_type headerAt_ = -1;
  bool normals_;
};

// A writer to `out` of `count` points (kUncounted: not known yet) in `format` out of `pixels`
// pixels (the columns of the whole read, the frames' sizes summed), with each point's normal
// where `normals` (every block then brings them); the header is written at once, a
// placeholder where the count is not known.
std::unique_ptr<PointWriter> startPointWriter(const PointFormat& format, std::ostream& out,
                                              std::uint64_t count, std::uint64_t pixels,
                                              bool normals = false);

// The spaces a header's comment line takes so that the header for `count` points is as long
// as the one for `pixels`: one per digit the count has fewer than the pixels. Every reader
// ignores a comment's text. Throws std::logic_error when count > pixels.
std::string headerPadding(std::uint64_t count, std::uint64_t pixels);

// Each format's writer, in its own file.
std::unique_ptr<PointWriter> makePlyWriter(std::ostream& out, std::uint64_t count,
                                           std::uint64_t pixels, bool normals);
std::unique_ptr<PointWriter> makePcdWriter(std::ostream& out, std::uint64_t count,
                                           std::uint64_t pixels, bool normals);
std::unique_ptr<PointWriter> makeXyzWriter(std::ostream& out, std::uint64_t count,
                                           std::uint64_t pixels, bool normals);
std::unique_ptr<PointWriter> makeE57Writer(std::ostream& out, std::uint64_t count,
                                           std::uint64_t pixels, bool normals);
std::unique_ptr<PointWriter> makeLasWriter(std::ostream& out, std::uint64_t count,
                                           std::uint64_t pixels, bool normals);
std::unique_ptr<PointWriter> makeLazWriter(std::ostream& out, std::uint64_t count,
                                           std::uint64_t pixels, bool normals);

}  // namespace quarn
