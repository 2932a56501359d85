#pragma once

// Points thinned to one per occupied cell of a grid of cubes anchored at the origin of the
// output coordinates: the cell of p is floor(p / size), axis by axis, in double precision. A
// cell's point is the mean of its points, summed in double precision in the order they came
// and rounded to single precision once; its colour is the mean of the colours of its points
// that have one, rounded to the nearest level (halves up), and black, flagged, where none has;
// where the points have normals, its normal is the normalised sum of theirs, (0, 0, 0) where
// they cancel.
// Memory for the cells, not the points. The cells come out in the order they were first
// occupied, so the same points give the same cells whether read whole or frame by frame.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include "PointSource.h"

namespace quarn {

// A cell size too fine for the points it is asked to thin: the request's fault, not the scan's.
class VoxelSizeError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

class VoxelGrid {
 public:
  // `size` in metres. Throws std::invalid_argument unless it is positive and finite.
  explicit VoxelGrid(double size);

  // Adds the chunk's points, all finite. Throws VoxelSizeError for a point whose cell is beyond
  // what the grid can number (2^62 cells from the origin).
  void add(const PointChunk& chunk);

  std::uint64_t points() const { return points_; }
  std::uint64_t cells() const { return cells_.size(); }

  // The cells' means as a source of one chunk without frames, standing in for `source`, whose
  // frames, pixels and points without a colour it reports. The grid is left empty.
  std::unique_ptr<PointSource> takeCells(const PointSource& source);

 private:
  struct Cell {
    std::int64_t key[3];
    double sum[3];
    double normalSum[3];
    std::uint64_t colourSum[3];
    std::uint64_t points, coloured;
  };

  std::size_t cellOf(const std::int64_t key[3]);  // found or added
  void rehash(std::size_t slots);

  double size_;
  std::uint64_t points_ = 0;
  bool flagsColour_ = false;  // points came with colourless flags
  bool normals_ = false;      // and with normals
  std::vector<Cell> cells_;
  std::vector<std::uint64_t> slots_;  // open addressing: a cell's index + 1, 0 for a free slot
  std::int64_t lastKey_[3];           // set with the first cell
  std::size_t last_ = 0;              // the cell of lastKey_, once there are cells
};

}  // namespace quarn
