#include "VoxelGrid.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "PoseText.h"

namespace quarn {

namespace {

constexpr double kMaxCell = 4611686018427387904.0;  // 2^62

// Each cell number times a large odd constant, the high bits folded into the low ones that
// pick the slot: neighbouring cells land far apart.
std::uint64_t hashOf(const std::int64_t key[3]) {
  const std::uint64_t h = static_cast<std::uint64_t>(key[0]) * 0x9E3779B97F4A7C15u ^
                          static_cast<std::uint64_t>(key[1]) * 0xC2B2AE3D27D4EB4Fu ^
                          static_cast<std::uint64_t>(key[2]) * 0x165667B19E3779F9u;
  return h ^ (h >> 32);
}

// The cells' means, computed once, handed out as one chunk on every pass (of no points where
// there are no cells).
class CellSource final : public PointSource {
 public:
  CellSource(int frames, std::uint64_t pixels, std::uint64_t withoutColour)
      : frames_(frames), pixels_(pixels), withoutColour_(withoutColour) {}

  int frames() const override { return frames_; }
  std::uint64_t pixels() const override { return pixels_; }
  std::uint64_t withoutColour() const override { return withoutColour_; }

  void pass(const std::function<void(PointChunk&)>& prepare,
            const std::function<void(const PointChunk&)>& use) override {
    PointChunk chunk{xyz.data(), rgb.data(), rgb.size() / 3};
    if (!colourless.empty()) chunk.colourless = colourless.data();
    if (!normals.empty()) chunk.normals = normals.data();
    prepare(chunk);  // the means are finite: nothing is left out
    use(chunk);
  }

  std::vector<std::uint64_t> countFinitePoints() override { return {rgb.size() / 3}; }

  std::vector<float> xyz, normals;
  std::vector<std::uint8_t> rgb, colourless;

 private:
  int frames_;
  std::uint64_t pixels_, withoutColour_;
};

}  // namespace

VoxelGrid::VoxelGrid(double size) : size_(size) {
  if (!(size > 0) || !std::isfinite(size))
    throw std::invalid_argument("the voxel size must be a positive number of metres");
  rehash(1024);
}

void VoxelGrid::add(const PointChunk& chunk) {
  flagsColour_ |= chunk.colourless != nullptr;
  normals_ |= chunk.normals != nullptr;
  for (std::size_t i = 0; i < chunk.count; ++i) {
    const float* p = chunk.xyz + 3 * i;
    std::int64_t key[3];
    for (int axis = 0; axis < 3; ++axis) {
      const double cell = static_cast<double>(p[axis]) / size_;
      if (!(std::fabs(cell) < kMaxCell)) {
        throw VoxelSizeError("a point at " + number(p[axis]) + " m is beyond what a grid of " +
                             number(size_) + " m cells can number");
      }
      // floor, without a call: the cast rounds toward zero, one less below zero unless whole.
      key[axis] = static_cast<std::int64_t>(cell);
      key[axis] -= static_cast<double>(key[axis]) > cell;
    }
    // A frame's neighbouring pixels mostly share a cell: the last one is tried first.
    if (cells_.empty() || key[0] != lastKey_[0] || key[1] != lastKey_[1] || key[2] != lastKey_[2]) {
      last_ = cellOf(key);
      std::copy(key, key + 3, lastKey_);
    }
    Cell& cell = cells_[last_];
    for (int axis = 0; axis < 3; ++axis) cell.sum[axis] += p[axis];
    ++cell.points;
    for (int axis = 0; axis < 3 && chunk.normals != nullptr; ++axis)
      cell.normalSum[axis] += chunk.normals[3 * i + axis];
    if (chunk.colourless != nullptr && chunk.colourless[i]) continue;
    for (int c = 0; c < 3; ++c) cell.colourSum[c] += chunk.rgb[3 * i + c];
    ++cell.coloured;
  }
  points_ += chunk.count;
}

std::size_t VoxelGrid::cellOf(const std::int64_t key[3]) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = hashOf(key) & mask;
  for (; slots_[slot] != 0; slot = (slot + 1) & mask) {
    const std::size_t held = slots_[slot] - 1;
    const Cell& cell = cells_[held];
    if (cell.key[0] == key[0] && cell.key[1] == key[1] && cell.key[2] == key[2]) return held;
  }
  cells_.push_back(Cell{{key[0], key[1], key[2]}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, 0, 0});
  slots_[slot] = cells_.size();
  if (2 * cells_.size() > slots_.size()) rehash(2 * slots_.size());  // a probe ends soon
  return cells_.size() - 1;
}

void VoxelGrid::rehash(std::size_t slots) {
  slots_.assign(slots, 0);
  const std::size_t mask = slots - 1;
  for (std::size_t i = 0; i < cells_.size(); ++i) {
    std::size_t slot = hashOf(cells_[i].key) & mask;
    while (slots_[slot] != 0) slot = (slot + 1) & mask;
    slots_[slot] = i + 1;
  }
}

std::unique_ptr<PointSource> VoxelGrid::takeCells(const PointSource& source) {
  auto out = std::make_unique<CellSource>(source.frames(), source.pixels(), source.withoutColour());
  out->xyz.reserve(3 * cells_.size());
  out->rgb.reserve(3 * cells_.size());
  if (flagsColour_) out->colourless.reserve(cells_.size());
  if (normals_) out->normals.reserve(3 * cells_.size());
  for (const Cell& cell : cells_) {
    const double n = static_cast<double>(cell.points);
    for (int axis = 0; axis < 3; ++axis) out->xyz.push_back(static_cast<float>(cell.sum[axis] / n));
    for (int c = 0; c < 3; ++c) {
      const std::uint64_t level =
          cell.coloured == 0 ? 0 : (2 * cell.colourSum[c] + cell.coloured) / (2 * cell.coloured);
      out->rgb.push_back(static_cast<std::uint8_t>(level));
    }
    if (flagsColour_) out->colourless.push_back(cell.coloured == 0);
    if (!normals_) continue;
    // The normalised sum, so that a surface's cell keeps its side; (0, 0, 0) where they cancel.
    const double* m = cell.normalSum;
    const double length = std::sqrt(m[0] * m[0] + m[1] * m[1] + m[2] * m[2]);
    for (int axis = 0; axis < 3; ++axis)
      out->normals.push_back(length > 0 ? static_cast<float>(m[axis] / length) : 0.0f);
  }
  cells_ = {};
  slots_ = {};
  return out;
}

}  // namespace quarn
