#pragma once

// Point-cloud files by extension: binary PLY, PCL's binary PCD and XYZ text. A writer is told
// the point count first (PLY and PCD headers hold it), then takes the points in chunks, in
// order, so a cloud can be written whole or piece by piece as it is read.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "PointCloud.h"

namespace quarn::tool {

enum class PointFormat { ply, pcd, xyz };

// The format `path`'s extension names, in any case; PLY for a name without one (standard
// output, a device). Throws std::invalid_argument
// "unknown output format '.foo' (known: .ply, .pcd, .xyz)".
PointFormat pointFormatOf(const std::string& path);

// "PLY", "PCD", "XYZ".
const char* formatName(PointFormat format);

// Throws std::invalid_argument likewise unless `path` names a PNG picture (or has no extension).
void checkPictureFormat(const std::string& path);

// True when the file's header holds the point count (PLY, PCD): it must be known first.
bool countFirst(PointFormat format);

class PointWriter {
 public:
  // For a format that needs no count first: any number of points.
  static constexpr std::uint64_t kUncounted = ~std::uint64_t{0};

  virtual ~PointWriter() = default;
  // Appends `count` points: point i at xyz[3i], xyz[3i + 1], xyz[3i + 2], its colour at
  // rgb[3i], rgb[3i + 1], rgb[3i + 2]. Throws std::logic_error beyond the count announced.
  void write(const float* xyz, const std::uint8_t* rgb, std::size_t count);
  // After the last chunk. Throws std::logic_error unless exactly the count announced came.
  void finish() const;

 protected:
  explicit PointWriter(std::uint64_t count) : count_(count) {}
  virtual void put(const float* xyz, const std::uint8_t* rgb, std::size_t count) = 0;

 private:
  std::uint64_t count_, written_ = 0;
};

// A writer of `count` points in `format` to `out` (kUncounted where countFirst() is false); the
// header is written at once.
std::unique_ptr<PointWriter> makePointWriter(PointFormat format, std::ostream& out,
                                             std::uint64_t count);

// The whole cloud in one chunk, finished.
void writePoints(PointWriter& writer, const PointCloud& cloud);

}  // namespace quarn::tool
