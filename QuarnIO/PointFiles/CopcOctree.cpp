#include "CopcOctree.h"

#include <algorithm>
#include <vector>

#include "LasRecords.h"

namespace quarn {

std::int32_t lasCoordinate(const unsigned char* record, int axis) {
  const unsigned char* at = record + 4 * axis;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(at[0]) | std::uint32_t{at[1]} << 8 |
                                   std::uint32_t{at[2]} << 16 | std::uint32_t{at[3]} << 24);
}

std::size_t copcSample(const CopcCube& cube, const CopcKey& key, const unsigned char* records,
                       std::size_t recordSize, std::uint32_t* first, std::uint32_t* last) {
  const std::size_t count = static_cast<std::size_t>(last - first);
  const int side = cube.sideShift(key);
  const std::int64_t low[3] = {cube.nodeLow(key, 0), cube.nodeLow(key, 1), cube.nodeLow(key, 2)};
  std::vector<std::uint64_t> taken;
  std::vector<bool> sampled(count);
  for (int bits = std::min(kCopcGridBits, side);; --bits) {
    const int cellShift = side - bits;
    taken.assign(((std::size_t{1} << 3 * bits) + 63) / 64, 0);
    std::size_t size = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const unsigned char* record = records + std::size_t{first[i]} * recordSize;
      std::size_t cell = 0;
      for (int k = 0; k < 3; ++k) {
        const auto at = static_cast<std::size_t>((lasCoordinate(record, k) - low[k]) >> cellShift);
        cell = cell << bits | at;
      }
      const std::uint64_t bit = std::uint64_t{1} << (cell & 63);
      sampled[i] = (taken[cell >> 6] & bit) == 0;
      taken[cell >> 6] |= bit;
      size += sampled[i];
    }
    if (size <= kCopcNodePoints || bits == 0) {
      std::vector<std::uint32_t> rest;
      rest.reserve(count - size);
      std::uint32_t* kept = first;
      for (std::size_t i = 0; i < count; ++i) {
        if (sampled[i]) {
          *kept++ = first[i];
        } else {
          rest.push_back(first[i]);
        }
      }
      std::copy(rest.begin(), rest.end(), kept);
      return size;
    }
  }
}

void copcSubtree(const CopcCube& cube, const CopcKey& key, const unsigned char* records,
                 std::size_t recordSize, std::uint32_t* first, std::uint32_t* last,
                 const CopcEmit& emit) {
  const auto count = static_cast<std::size_t>(last - first);
  const int side = cube.sideShift(key);
  if (count <= kCopcNodePoints || side == 0 || key.level == kCopcDeepest) {
    emit(key, first, last, false);
    return;
  }
  std::uint32_t* rest = first + copcSample(cube, key, records, recordSize, first, last);
  emit(key, first, rest, true);
  // The rest by octant, each in its order.
  const std::int64_t low[3] = {cube.nodeLow(key, 0), cube.nodeLow(key, 1), cube.nodeLow(key, 2)};
  std::vector<std::uint32_t> octants[8];
  for (const std::uint32_t* i = rest; i != last; ++i) {
    const unsigned char* record = records + std::size_t{*i} * recordSize;
    int octant = 0;
    for (int k = 0; k < 3; ++k)
      octant |= static_cast<int>((lasCoordinate(record, k) - low[k]) >> (side - 1)) << k;
    octants[octant].push_back(*i);
  }
  std::uint32_t* at = rest;
  std::uint32_t* starts[9];
  for (int octant = 0; octant < 8; ++octant) {
    starts[octant] = at;
    at = std::copy(octants[octant].begin(), octants[octant].end(), at);
    std::vector<std::uint32_t>().swap(octants[octant]);
  }
  starts[8] = at;
  for (int octant = 0; octant < 8; ++octant) {
    if (starts[octant] != starts[octant + 1])
      copcSubtree(cube, key.child(octant), records, recordSize, starts[octant], starts[octant + 1],
                  emit);
  }
}

}  // namespace quarn
