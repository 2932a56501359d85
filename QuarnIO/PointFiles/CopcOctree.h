#pragma once

// COPC's octree over quarn's LAS records (LasRecords), in the records' own integer steps: each
// node a cube, halved level by level. A node holds a sample of the points in its cube, the first
// (in the points' order) of each cell of a grid 128 cells a side over it, and hands the rest to
// its eight children, down to nodes few enough to hold all theirs. The sample is by position, so
// a viewer's level 0 is the whole scene thinly and each level halves the spacing; it depends on
// the points and their order alone, never on threads.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <tuple>

namespace quarn {

inline constexpr std::size_t kCopcNodePoints = 100000;  // no node holds more, but see copcSubtree
inline constexpr int kCopcGridBits = 7;                 // a sample's grid: 2^7 cells a side
inline constexpr int kCopcDeepest = 30;                 // keys' coordinates stay in an int32

struct CopcKey {
  std::int32_t level = 0, x = 0, y = 0, z = 0;
  // Octant bit 0 is the upper half along x, bit 1 along y, bit 2 along z.
  CopcKey child(int octant) const {
    return {level + 1, 2 * x + (octant & 1), 2 * y + (octant >> 1 & 1), 2 * z + (octant >> 2)};
  }
  CopcKey parent() const { return {level - 1, x >> 1, y >> 1, z >> 1}; }
  friend bool operator<(const CopcKey& a, const CopcKey& b) {
    return std::tie(a.level, a.x, a.y, a.z) < std::tie(b.level, b.x, b.y, b.z);
  }
  friend bool operator==(const CopcKey& a, const CopcKey& b) { return !(a < b) && !(b < a); }
};

// The octree's cube in the records' steps: its low corner and its side, 2^shift steps.
struct CopcCube {
  std::int64_t low[3] = {0, 0, 0};
  int shift = 0;
  // A node's side is 2^sideShift(key) steps.
  int sideShift(const CopcKey& key) const { return shift - key.level; }
  std::int64_t nodeLow(const CopcKey& key, int axis) const {
    const std::int32_t at[3] = {key.x, key.y, key.z};
    return low[axis] + (static_cast<std::int64_t>(at[axis]) << sideShift(key));
  }
};

// A record's X, Y or Z in steps.
std::int32_t lasCoordinate(const unsigned char* record, int axis);

// Moves `key`'s sample to the front of [first, last), indices of records (of `recordSize` bytes at
// `records`) inside its cube, each part in its order; returns its size. The grid is
// coarsened while the sample would exceed kCopcNodePoints.
std::size_t copcSample(const CopcCube& cube, const CopcKey& key, const unsigned char* records,
                       std::size_t recordSize, std::uint32_t* first, std::uint32_t* last);

// Called for each node: its key, its points' indices and whether it has children.
using CopcEmit = std::function<void(const CopcKey& key, const std::uint32_t* first,
                                    const std::uint32_t* last, bool parent)>;

// The nodes of `key`'s subtree over the records [first, last) inside its cube, in pre-order
// (the node, then its children's subtrees by octant). A node of more than kCopcNodePoints points
// holds its sample; a node one step wide, or at kCopcDeepest, all its points, however many:
// they are one position.
void copcSubtree(const CopcCube& cube, const CopcKey& key, const unsigned char* records,
                 std::size_t size, std::uint32_t* first, std::uint32_t* last, const CopcEmit& emit);

}  // namespace quarn
