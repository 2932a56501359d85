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
// in the frame's coordinates, where asked, and turned into output coordinates by the rotation
// `toOutput` after `toGlobal` (rows, r[3i..3i+2] row i), the two the point is moved by, taken
// as one.
class GridNormals {
 public:
  // A frame of columns of `sizeY` pixels; normal i to normals[3i..3i+2] and, unless null,
  // frameNormals[3i..3i+2].
  void begin(int sizeY, const double toGlobal[9], const double toOutput[9], float* frameNormals,
             float* normals);
  // The next column's points, coordinate `axis` (x, y, z: 0, 1, 2) of pixel y at [y], NaN
  // where it has none: to fill.
  float* column(int axis) { return lanes(filling_ % 3, axis); }
  // The column's pixels that are among the frame's points, in order, y of each: to fill.
  int* keptColumn() { return kept_[filling_ % 3].data(); }
  // The column is filled, the first `kept` of keptColumn() with the pixels kept: the one before
  // it gets its normals.
  void next(std::size_t kept);
  // After the last column; returns how many normals were made.
  std::size_t finish();

 private:
  // Column c's lanes: x, y, z and the squared distance from the scanner (3) of each pixel,
  // with a pixel of NaN before and after, so that the first and last pixels' missing
  // neighbours fail every test as a pixel without a point does. Column 3 is all NaN: the
  // neighbour of the first and last columns.
  float* lanes(std::size_t c, int lane) { return grid_.data() + (4 * c + lane) * stride_ + 1; }
  void emit(std::size_t middle, bool hasLeft, bool hasRight);

  std::size_t sizeY_ = 0, stride_ = 0;
  float rotation_[9];  // frame to output coordinates, rows
  float *frameNormals_ = nullptr, *normals_ = nullptr;
  std::size_t made_ = 0, filling_ = 0;  // normals made; columns begun
  std::vector<float> grid_;             // four columns' lanes
  std::vector<float> columnNormals_;    // the middle column's normals: own x, y, z, moved x, y, z
  std::vector<int> kept_[3];            // each column's kept pixels, the first keptCount_ of them
  std::size_t keptCount_[3] = {};
};

}  // namespace quarn
