#pragma once

// A point's surface normal from the scanner's own grid: a frame's pixels are samples of the
// surfaces it saw, so a point's neighbours on its surface are the pixels beside it, and the
// side the scanner saw them from is known. No search over the cloud, no guessed orientation.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pose/FlatRigidTransform.h"

namespace quarn {

// A neighbour whose distance from the scanner differs from the point's by more than this
// share of the point's is taken to be on another surface (a depth jump at an object's edge).
// A surface seen at a grazing angle a has neighbours that differ by about the angle between
// two pixels over tan(a): 5 % keeps surfaces down to a few degrees at a millirad a pixel.
inline constexpr double kDepthJump = 0.05;

// The measured points of one frame, in the frame's own coordinates: pixel (x, y) at
// xyz[3 * (x * sizeY + y)], NaN where the pixel has no point.
struct PointGrid {
  int sizeX = 0, sizeY = 0;
  std::vector<float> xyz;

  const float* at(int x, int y) const {
    return xyz.data() + 3 * (static_cast<std::size_t>(x) * sizeY + y);
  }
};

// The unit normal at pixel (x, y), which has a finite point, in the frame's coordinates,
// facing the scanner (the frame's origin): the cross product of the differences across the
// pixel along x and along y, central where both neighbours are on the point's surface, one
// sided where only one is. (0, 0, 0) where a direction has no neighbour, or the differences
// are parallel.
void gridNormal(const PointGrid& grid, int x, int y, float normal[3]);

// The normals of `count` points at the pixels x = pixels[2i], y = pixels[2i + 1]: in the frame's
// coordinates at frameNormals[3i..3i+2], and moved into output coordinates as the points are,
// by the two rotations with a rounding to single precision after each, at normals[3i..3i+2].
void gridNormals(const PointGrid& grid, const std::int32_t* pixels, std::size_t count,
                 const FlatRigidTransform& frameToGlobal, const FlatRigidTransform& globalToOutput,
                 float* frameNormals, float* normals);

}  // namespace quarn
