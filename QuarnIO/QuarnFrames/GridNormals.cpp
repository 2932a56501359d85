#include "GridNormals.h"

#include <cmath>

namespace quarn {

namespace {

// Within the depth jump: a neighbour's distance from the scanner within kDepthJump of the
// point's, compared as squares, without a root.
constexpr float kNearSquared = static_cast<float>((1 - kDepthJump) * (1 - kDepthJump));
constexpr float kFarSquared = static_cast<float>((1 + kDepthJump) * (1 + kDepthJump));

// ((0 + r0 x) + r1 y) + r2 z for each row, as a point is turned.
void turn(const double r[9], double x, double y, double z, double out[3]) {
  for (int i = 0; i < 3; ++i) out[i] = ((0.0 + r[3 * i] * x) + r[3 * i + 1] * y) + r[3 * i + 2] * z;
}

}  // namespace

void GridNormals::begin(int sizeY, const double toGlobal[9], const double toOutput[9],
                        float* frameNormals, float* normals) {
  sizeY_ = sizeY > 0 ? static_cast<std::size_t>(sizeY) : 0;
  for (int k = 0; k < 9; ++k) {
    toGlobal_[k] = toGlobal[k];
    toOutput_[k] = toOutput[k];
  }
  frameNormals_ = frameNormals;
  normals_ = normals;
  made_ = filling_ = 0;
  for (int c = 0; c < 3; ++c) {
    xyz_[c].resize(3 * sizeY_);
    depths_[c].resize(sizeY_);
    kept_[c].clear();
  }
}

void GridNormals::next() {
  // Each pixel's squared distance from the scanner, once: NaN where it has no point, which
  // fails every comparison.
  const float* p = xyz_[filling_ % 3].data();
  float* depth = depths_[filling_ % 3].data();
  for (std::size_t y = 0; y < sizeY_; ++y, p += 3)
    depth[y] = p[0] * p[0] + p[1] * p[1] + p[2] * p[2];
  if (filling_ > 0) emit(filling_ - 1, filling_ > 1, true);
  ++filling_;
  kept_[filling_ % 3].clear();
}

std::size_t GridNormals::finish() {
  if (filling_ > 0) emit(filling_ - 1, filling_ > 1, false);
  return made_;
}

void GridNormals::emit(std::size_t middle, bool hasLeft, bool hasRight) {
  const float* xyz = xyz_[middle % 3].data();
  const float* here = depths_[middle % 3].data();
  const float* left = depths_[(middle + 2) % 3].data();
  const float* right = depths_[(middle + 1) % 3].data();
  const float* leftXyz = xyz_[(middle + 2) % 3].data();
  const float* rightXyz = xyz_[(middle + 1) % 3].data();
  for (const int at : kept_[middle % 3]) {
    const std::size_t y = static_cast<std::size_t>(at);
    float* moved = normals_ + 3 * made_;
    float* own = frameNormals_ != nullptr ? frameNormals_ + 3 * made_ : nullptr;
    ++made_;
    float unit[3] = {0, 0, 0}, out[3] = {0, 0, 0};  // (0, 0, 0) unless the grid gives one
    const float depth = here[y];
    const float near = kNearSquared * depth, far = kFarSquared * depth;
    const auto on = [&](bool inside, const float* depths, std::size_t n) {
      return inside && depths[n] >= near && depths[n] <= far;
    };
    // A pixel whose point is not finite has no neighbour: NaN or infinity fails every test.
    const bool hasL = on(hasLeft, left, y), hasR = on(hasRight, right, y);
    const bool hasU = on(y > 0, here, y - 1), hasD = on(y + 1 < sizeY_, here, y + 1);
    if ((hasL || hasR) && (hasU || hasD) && std::isfinite(depth)) {
      // The differences across the pixel along x and along y, in single precision as the
      // points are: neighbours millimetres apart at metres keep about 17 of their bits.
      const float* p = xyz + 3 * y;
      const float* u1 = hasR ? rightXyz + 3 * y : p;
      const float* u0 = hasL ? leftXyz + 3 * y : p;
      const float* v1 = hasD ? p + 3 : p;
      const float* v0 = hasU ? p - 3 : p;
      const float u[3] = {u1[0] - u0[0], u1[1] - u0[1], u1[2] - u0[2]};
      const float v[3] = {v1[0] - v0[0], v1[1] - v0[1], v1[2] - v0[2]};
      const float n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                          u[0] * v[1] - u[1] * v[0]};
      const float squared = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
      if (squared > 0 && std::isfinite(squared)) {
        // Towards the scanner: against the ray from the origin to the point.
        const float scale =
            (n[0] * p[0] + n[1] * p[1] + n[2] * p[2] > 0 ? -1.0f : 1.0f) / std::sqrt(squared);
        for (int k = 0; k < 3; ++k) unit[k] = n[k] * scale;
        double q[3], r[3];
        turn(toGlobal_, unit[0], unit[1], unit[2], q);
        turn(toOutput_, static_cast<float>(q[0]), static_cast<float>(q[1]),
             static_cast<float>(q[2]), r);
        for (int k = 0; k < 3; ++k) out[k] = static_cast<float>(r[k]);
      }
    }
    for (int k = 0; k < 3; ++k) moved[k] = out[k];
    for (int k = 0; k < 3 && own != nullptr; ++k) own[k] = unit[k];
  }
}

}  // namespace quarn
