#pragma once

// A point's surface normal from the scanner's own grid: a frame's pixels are samples of the
// surfaces it saw, so a point's neighbours on its surface are the pixels beside it, and the
// side the scanner saw them from is known. No search over the cloud, no guessed orientation.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quarn {

// A neighbour whose distance from the scanner differs from the point's by more than this
// share of the point's is taken to be on another surface (a depth jump at an object's edge).
// A surface seen at a grazing angle a has neighbours that differ by about the angle between
// two pixels over tan(a): 5 % keeps surfaces down to a few degrees at a millirad a pixel.
inline constexpr double kDepthJump = 0.05;

// The normals of a frame's points, made as its grid is walked column by column (x outer, y
// inner, as the points come): three columns are held, so the work stays in the cache however
// large the frame. Each normal is the unit normal at its pixel, facing the scanner (the
// frame's origin): the cross product of the differences across the pixel along x and along y,
// central where both neighbours are on the point's surface, one sided where only one is;
// (0, 0, 0) where a direction has no neighbour, or the differences are parallel. It is written
// in the frame's coordinates, where asked, and turned into output coordinates by the rotations
// `toGlobal` and `toOutput` (rows, r[3i..3i+2] row i), each row summed as the point's are and
// rounded to single precision after each, as the point is moved.
class GridNormals {
 public:
  // A frame of columns of `sizeY` pixels; normal i to normals[3i..3i+2] and, unless null,
  // frameNormals[3i..3i+2].
  void begin(int sizeY, const double toGlobal[9], const double toOutput[9], float* frameNormals,
             float* normals);
  // The next column's points, x, y, z of pixel y at [3y..3y+2], NaN where it has none: to fill.
  float* column() { return xyz_[filling_ % 3].data(); }
  // Pixel y of the column being filled is one of the frame's points (the next one).
  void keep(int y) { kept_[filling_ % 3].push_back(y); }
  // The column is filled: the one before it gets its normals.
  void next();
  // After the last column; returns how many normals were made.
  std::size_t finish();

 private:
  void emit(std::size_t middle, bool hasLeft, bool hasRight);

  std::size_t sizeY_ = 0;
  double toGlobal_[9], toOutput_[9];
  float *frameNormals_ = nullptr, *normals_ = nullptr;
  std::size_t made_ = 0, filling_ = 0;  // normals made; columns begun
  std::vector<float> xyz_[3], depths_[3];
  std::vector<int> kept_[3];
};

}  // namespace quarn
