#pragma once

// A point file written in chunks, in order, so that a cloud can be written whole or piece by
// piece as it is read. PLY and PCD headers hold the point count; their length depends only on
// the pixels the points come from (see headerPadding), so a writer not told the count first
// writes a placeholder header and the real one over it once the points are written.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "PointFormat.h"

namespace quarn {

class PointWriter {
 public:
  // The count is not known yet: counted as the points come.
  static constexpr std::uint64_t kUncounted = ~std::uint64_t{0};

  virtual ~PointWriter() = default;
  // Appends `count` points: point i at xyz[3i], xyz[3i + 1], xyz[3i + 2], its colour at
  // rgb[3i], rgb[3i + 1], rgb[3i + 2]. Throws std::logic_error beyond the count announced
  // or the pixels.
  void write(const float* xyz, const std::uint8_t* rgb, std::size_t count);
  // After the last chunk. Without a count announced, writes the header over the placeholder
  // (the stream must seek then, unless the format has no header). Throws std::logic_error
  // unless exactly the count announced came.
  void finish();

 protected:
  PointWriter(std::ostream& out, std::uint64_t count, std::uint64_t pixels)
      : out_(out), count_(count), pixels_(pixels) {}
  // The header of a file of `count` points out of `pixels`, "" for a format without one.
  virtual std::string header(std::uint64_t count, std::uint64_t pixels) const = 0;
  virtual void put(const float* xyz, const std::uint8_t* rgb, std::size_t count) = 0;

  std::ostream& out_;

 private:
  friend std::unique_ptr<PointWriter> startPointWriter(const PointFormat&, std::ostream&,
                                                       std::uint64_t, std::uint64_t);
  void start();

  std::uint64_t count_, pixels_, written_ = 0;
  std::ostream::pos_type headerAt_ = -1;
};

// A writer to `out` of `count` points (kUncounted: not known yet) in `format` out of `pixels`
// pixels (the columns of the whole read, the frames' sizes summed); the header is written at
// once, a placeholder where the count is not known.
std::unique_ptr<PointWriter> startPointWriter(const PointFormat& format, std::ostream& out,
                                              std::uint64_t count, std::uint64_t pixels);

// The spaces a header's comment line takes so that the header for `count` points is as long
// as the one for `pixels`: one per digit the count has fewer than the pixels. Every reader
// ignores a comment's text. Throws std::logic_error when count > pixels.
std::string headerPadding(std::uint64_t count, std::uint64_t pixels);

// Each format's writer, in its own file.
std::unique_ptr<PointWriter> makePlyWriter(std::ostream& out, std::uint64_t count,
                                           std::uint64_t pixels);
std::unique_ptr<PointWriter> makePcdWriter(std::ostream& out, std::uint64_t count,
                                           std::uint64_t pixels);
std::unique_ptr<PointWriter> makeXyzWriter(std::ostream& out, std::uint64_t count,
                                           std::uint64_t pixels);

}  // namespace quarn
