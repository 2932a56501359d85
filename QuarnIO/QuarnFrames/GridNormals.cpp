#include "GridNormals.h"

#include <cmath>

namespace quarn {

namespace {

double distance(const double p[3]) { return std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]); }

// The neighbour at (x, y) into `q`, if there is one on the surface of a point at `depth`.
bool neighbour(const PointGrid& grid, int x, int y, double depth, double q[3]) {
  if (x < 0 || y < 0 || x >= grid.sizeX || y >= grid.sizeY) return false;
  const float* n = grid.at(x, y);
  for (int k = 0; k < 3; ++k) q[k] = n[k];
  if (!std::isfinite(q[0]) || !std::isfinite(q[1]) || !std::isfinite(q[2])) return false;
  return std::fabs(distance(q) - depth) <= kDepthJump * depth;
}

// The difference across the point along one direction of the grid: from the neighbour before
// to the one after where both are there, else from or to the one there is.
bool across(const PointGrid& grid, int x, int y, int dx, int dy, const double p[3], double depth,
            double d[3]) {
  double before[3], after[3];
  const bool hasBefore = neighbour(grid, x - dx, y - dy, depth, before);
  const bool hasAfter = neighbour(grid, x + dx, y + dy, depth, after);
  if (!hasBefore && !hasAfter) return false;
  for (int k = 0; k < 3; ++k)
    d[k] = (hasAfter ? after[k] : p[k]) - (hasBefore ? before[k] : p[k]);
  return true;
}

}  // namespace

void gridNormal(const PointGrid& grid, int x, int y, float normal[3]) {
  normal[0] = normal[1] = normal[2] = 0;
  const float* at = grid.at(x, y);
  const double p[3] = {at[0], at[1], at[2]};
  const double depth = distance(p);
  double u[3], v[3];
  if (!across(grid, x, y, 1, 0, p, depth, u) || !across(grid, x, y, 0, 1, p, depth, v)) return;
  double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
  const double length = distance(n);
  if (!(length > 0) || !std::isfinite(length)) return;
  // Towards the scanner: against the ray from the origin to the point.
  const double side = n[0] * p[0] + n[1] * p[1] + n[2] * p[2] > 0 ? -1 : 1;
  for (int k = 0; k < 3; ++k) normal[k] = static_cast<float>(side * n[k] / length);
}

void gridNormals(const PointGrid& grid, const std::int32_t* pixels, std::size_t count,
                 const FlatRigidTransform& frameToGlobal, const FlatRigidTransform& globalToOutput,
                 float* frameNormals, float* normals) {
  for (std::size_t i = 0; i < count; ++i) {
    float* own = frameNormals + 3 * i;
    const std::int32_t x = pixels[2 * i], y = pixels[2 * i + 1];
    const float* p = x >= 0 && y >= 0 && x < grid.sizeX && y < grid.sizeY ? grid.at(x, y) : nullptr;
    if (p != nullptr && std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2])) {
      gridNormal(grid, x, y, own);
    } else {
      own[0] = own[1] = own[2] = 0;
    }
    double q[3], r[3];
    frameToGlobal.rotate(own[0], own[1], own[2], q);
    globalToOutput.rotate(static_cast<float>(q[0]), static_cast<float>(q[1]),
                          static_cast<float>(q[2]), r);
    for (int k = 0; k < 3; ++k) normals[3 * i + k] = static_cast<float>(r[k]);
  }
}

}  // namespace quarn
