#pragma once

// Where a conversion's points come from: the plug-in's whole read, or the frames read one
// after the other. Either hands out the pixels with a point and a colour, in the plug-in's
// order, in chunks that the conversion may change in place; where asked, the pixels with a
// point but no colour too.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PointWriter.h"
#include "WholeRead.h"

namespace quarn {

// A block of points the conversion may change in place (PointBlock's arrays, writable).
struct PointChunk {
  float* xyz;  // point i at xyz[3i], xyz[3i + 1], xyz[3i + 2]
  std::uint8_t* rgb;
  std::size_t count;
  std::uint8_t* colourless = nullptr;  // see PointBlock
  std::uint64_t leftOut = 0;           // what the conversion's filter left out of it
  // From a frame source: the frame's index, grid and pose in output coordinates (16 values row
  // by row), and where asked for, the measured points and their pixels (see PointBlock).
  int frame = -1;
  int sizeX = 0, sizeY = 0;
  const double* pose = nullptr;
  float* frameXyz = nullptr;
  std::int32_t* pixel = nullptr;
  float* normals = nullptr;  // where made: see PointBlock
  float* frameNormals = nullptr;

  PointBlock block() const {
    PointBlock b;
    b.xyz = xyz;
    b.rgb = rgb;
    b.count = count;
    b.colourless = colourless;
    b.frame = frame;
    b.sizeX = sizeX;
    b.sizeY = sizeY;
    b.pose = pose;
    b.frameXyz = frameXyz;
    b.pixel = pixel;
    b.normals = normals;
    b.frameNormals = frameNormals;
    return b;
  }
};

class PointSource {
 public:
  virtual ~PointSource() = default;

  virtual int frames() const = 0;
  // The pixels of all frames, valid or not.
  virtual std::uint64_t pixels() const = 0;

  // One pass over the points: `prepare` on each chunk where it is made (on another thread,
  // perhaps), then `use` on it on the calling thread, chunk by chunk in order. Every pass
  // gives the same chunks. What either throws ends the pass and is thrown here.
  virtual void pass(const std::function<void(PointChunk&)>& prepare,
                    const std::function<void(const PointChunk&)>& use) = 0;

  // For each chunk, in order, how many of its points are finite: a pass that may spare the
  // arithmetic.
  virtual std::vector<std::uint64_t> countFinitePoints() = 0;

  // The pixels with a point but no colour, kept or not: after a pass.
  virtual std::uint64_t withoutColour() const = 0;
};

// The read's filled columns (counted), in chunks of 65,536 points.
std::unique_ptr<PointSource> wholeReadSource(WholeRead read);

// What a frame source hands out besides the points with a colour.
struct FrameSourceOptions {
  bool measured = false;        // each point as measured and its pixel
  bool keepUncoloured = false;  // the points without a colour
  bool normals = false;         // each point's normal (and in the frame's coordinates)
};

// The frames of `scan` read ahead on worker threads, a chunk each. Throws ScanError when the
// scan cannot be opened.
std::unique_ptr<PointSource> frameSource(const std::string& scan, FrameSourceOptions options = {});

}  // namespace quarn
