#include "GridNormals.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace quarn {

namespace {

// Within the depth jump: a neighbour's distance from the scanner within kDepthJump of the
// point's, compared as squares, without a root.
constexpr float kNearSquared = static_cast<float>((1 - kDepthJump) * (1 - kDepthJump));
constexpr float kFarSquared = static_cast<float>((1 + kDepthJump) * (1 + kDepthJump));

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kLargest = std::numeric_limits<float>::max();

// The difference across a pixel at `at` from `before` to `after`: central where both
// neighbours are on its surface, one sided where one is, 0 where neither is. Chosen by the
// bits, so that the compiler need not branch to spare the loads it would not use.
float across(bool hasAfter, bool hasBefore, float after, float at, float before) {
  const auto bits = [](float value) {
    std::uint32_t b;
    std::memcpy(&b, &value, sizeof b);
    return b;
  };
  const std::uint32_t takeAfter = 0u - static_cast<std::uint32_t>(hasAfter),
                      takeBefore = 0u - static_cast<std::uint32_t>(hasBefore);
  const std::uint32_t to = (bits(after) & takeAfter) | (bits(at) & ~takeAfter),
                      from = (bits(before) & takeBefore) | (bits(at) & ~takeBefore);
  float a, b;
  std::memcpy(&a, &to, sizeof a);
  std::memcpy(&b, &from, sizeof b);
  return a - b;
}

// A column's lanes: x, y, z and squared distance of each pixel, NaN beyond its ends.
struct Column {
  const float *x, *y, *z, *depth;
};

// The normals of pixels [0, n) of column `here` between columns `left` and `right`: in the
// frame's coordinates to own, turned into output coordinates by the rotation `m` to moved. Every
// pixel is worked through the same operations, its neighbours chosen by selection, not by a
// branch, so that the compiler makes four at a time; where a pixel has no normal, what was
// worked out is dropped for (0, 0, 0). The outputs are the only memory written.
void columnNormals(std::size_t n, const Column& left, const Column& here, const Column& right,
                   const float (&m)[9], float* __restrict ownX, float* __restrict ownY,
                   float* __restrict ownZ, float* __restrict movedX, float* __restrict movedY,
                   float* __restrict movedZ) {
  for (std::size_t i = 0; i < n; ++i) {
    const float depth = here.depth[i];
    const float near = kNearSquared * depth, far = kFarSquared * depth;
    // On the pixel's surface: within the depth jump. A pixel without a point (NaN), or
    // beyond the grid, fails both comparisons.
    const auto on = [&](float d) { return (d >= near) & (d <= far); };
    const bool hasL = on(left.depth[i]), hasR = on(right.depth[i]);
    const bool hasU = on(here.depth[i - 1]), hasD = on(here.depth[i + 1]);
    // The differences across the pixel along x (u) and along y (v), in single precision as
    // the points are: neighbours millimetres apart at metres keep about 17 of their bits.
    const float px = here.x[i], py = here.y[i], pz = here.z[i];
    const float lx = left.x[i], ly = left.y[i], lz = left.z[i];
    const float rx = right.x[i], ry = right.y[i], rz = right.z[i];
    const float ux = here.x[i - 1], uy = here.y[i - 1], uz = here.z[i - 1];
    const float dx = here.x[i + 1], dy = here.y[i + 1], dz = here.z[i + 1];
    const float u0 = across(hasR, hasL, rx, px, lx), u1 = across(hasR, hasL, ry, py, ly),
                u2 = across(hasR, hasL, rz, pz, lz);
    const float v0 = across(hasD, hasU, dx, px, ux), v1 = across(hasD, hasU, dy, py, uy),
                v2 = across(hasD, hasU, dz, pz, uz);
    const float n0 = u1 * v2 - u2 * v1, n1 = u2 * v0 - u0 * v2, n2 = u0 * v1 - u1 * v0;
    const float squared = n0 * n0 + n1 * n1 + n2 * n2;
    // Both directions have a neighbour, the point's distance can be squared, and the
    // differences are neither parallel nor too large to square. NaN fails every test.
    const bool has =
        (hasL | hasR) & (hasU | hasD) & (depth <= kLargest) & (squared > 0) & (squared <= kLargest);
    // Towards the scanner: against the ray from the origin to the point.
    const float facing = n0 * px + n1 * py + n2 * pz > 0 ? -1.0f : 1.0f;
    const float scale = facing / std::sqrt(has ? squared : 1.0f);
    const float a = n0 * scale, b = n1 * scale, c = n2 * scale;
    ownX[i] = has ? a : 0.0f;
    ownY[i] = has ? b : 0.0f;
    ownZ[i] = has ? c : 0.0f;
    // Turned into output coordinates, each row summed as a point's are.
    const float r0 = ((0.0f + m[0] * a) + m[1] * b) + m[2] * c;
    const float r1 = ((0.0f + m[3] * a) + m[4] * b) + m[5] * c;
    const float r2 = ((0.0f + m[6] * a) + m[7] * b) + m[8] * c;
    movedX[i] = has ? r0 : 0.0f;
    movedY[i] = has ? r1 : 0.0f;
    movedZ[i] = has ? r2 : 0.0f;
  }
}

}  // namespace

void GridNormals::begin(int sizeY, const double toGlobal[9], const double toOutput[9],
                        float* frameNormals, float* normals) {
  sizeY_ = sizeY > 0 ? static_cast<std::size_t>(sizeY) : 0;
  stride_ = sizeY_ + 2;
  // The one rotation from the frame's coordinates to output coordinates: the product of the
  // two a point is moved by, in double, then in single precision as the normals are.
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double sum = 0;
      for (int k = 0; k < 3; ++k) sum += toOutput[3 * i + k] * toGlobal[3 * k + j];
      rotation_[3 * i + j] = static_cast<float>(sum);
    }
  }
  frameNormals_ = frameNormals;
  normals_ = normals;
  made_ = filling_ = 0;
  grid_.assign(16 * stride_, kNaN);
  columnNormals_.resize(6 * sizeY_);
  for (std::vector<int>& kept : kept_) kept.resize(sizeY_);
  std::fill(keptCount_, keptCount_ + 3, 0);
}

void GridNormals::next(std::size_t kept) {
  // Each pixel's squared distance from the scanner, once: NaN where it has no point.
  const std::size_t c = filling_ % 3;
  keptCount_[c] = std::min(kept, sizeY_);
  const float *x = lanes(c, 0), *y = lanes(c, 1), *z = lanes(c, 2);
  float* depth = lanes(c, 3);
  for (std::size_t i = 0; i < sizeY_; ++i) depth[i] = x[i] * x[i] + y[i] * y[i] + z[i] * z[i];
  if (filling_ > 0) emit(filling_ - 1, filling_ > 1, true);
  ++filling_;
}

std::size_t GridNormals::finish() {
  if (filling_ > 0) emit(filling_ - 1, filling_ > 1, false);
  return made_;
}

void GridNormals::emit(std::size_t middle, bool hasLeft, bool hasRight) {
  const auto column = [&](std::size_t c) {
    return Column{lanes(c, 0), lanes(c, 1), lanes(c, 2), lanes(c, 3)};
  };
  float m[9];  // in registers across the column
  std::copy(rotation_, rotation_ + 9, m);
  float* lane[6];
  for (std::size_t k = 0; k < 6; ++k) lane[k] = columnNormals_.data() + k * sizeY_;
  columnNormals(sizeY_, column(hasLeft ? (middle + 2) % 3 : 3), column(middle % 3),
                column(hasRight ? (middle + 1) % 3 : 3), m, lane[0], lane[1], lane[2], lane[3],
                lane[4], lane[5]);
  // The column's points are its kept pixels, in order.
  const int* kept = kept_[middle % 3].data();
  const std::size_t count = keptCount_[middle % 3];
  float* moved = normals_ + 3 * made_;
  for (std::size_t i = 0; i < count; ++i)
    for (std::size_t k = 0; k < 3; ++k) *moved++ = lane[3 + k][kept[i]];
  if (frameNormals_ != nullptr) {
    float* own = frameNormals_ + 3 * made_;
    for (std::size_t i = 0; i < count; ++i)
      for (std::size_t k = 0; k < 3; ++k) *own++ = lane[k][kept[i]];
  }
  made_ += count;
}

}  // namespace quarn
