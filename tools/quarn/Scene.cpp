#include "Scene.h"

#include <algorithm>
#include <cmath>
#include <random>

#include <Eigen/Geometry>

namespace quarn::tool {

namespace {

constexpr double kWallHeight = 2.6;
constexpr double kSkirting = 0.12;

Rgb patternColour(const Scene::Pattern& pattern, double u, double v) {
  long cell = static_cast<long>(std::floor(u / pattern.period));
  if (pattern.checkered) cell += static_cast<long>(std::floor(v / pattern.period));
  return (cell & 1) != 0 ? pattern.second : pattern.first;
}

// A fixed light from above, so that faces facing different ways differ in brightness.
Rgb shade(const Rgb& colour, const Vec3& normal) {
  static const Vec3 light = Vec3(-0.35, -0.5, 0.8).normalized();
  const double factor = 0.55 + 0.45 * std::max(0.0, normal.dot(light));
  Rgb shaded;
  for (int i = 0; i < 3; ++i)
    shaded[i] = static_cast<std::uint8_t>(std::lround(colour[i] * factor));
  return shaded;
}

Eigen::Matrix3d turn(double yaw) {
  return Eigen::AngleAxisd(yaw, Vec3::UnitZ()).toRotationMatrix();
}

}  // namespace

double uniform(std::mt19937& random, double low, double high) {
  return low + (high - low) * (random() / 4294967296.0);
}

Scene::Scene(std::uint32_t seed) : roomSize_(7.0, 5.5, kWallHeight) {
  std::mt19937 random(seed);
  const double w = roomSize_.x(), d = roomSize_.y(), h = roomSize_.z();
  const Pattern floor{{196, 170, 130}, {150, 118, 86}, 0.5, true};
  rectangles_.push_back({2, 0.0, {0, 0}, {w, d}, floor});
  const Pattern nearWalls{{222, 212, 192}, {236, 228, 210}, 0.4, false};
  rectangles_.push_back({0, 0.0, {0, 0}, {d, h}, nearWalls});
  rectangles_.push_back({1, 0.0, {0, 0}, {w, h}, nearWalls});
  rectangles_.push_back({0, w, {0, 0}, {d, h}, {{112, 152, 205}, {150, 184, 228}, 0.4, false}});
  rectangles_.push_back({1, d, {0, 0}, {w, h}, {{128, 184, 132}, {168, 212, 160}, 0.4, false}});

  const auto jitter = [&random](double size) { return uniform(random, -size, size); };
  const Vec3 table(4.6 + jitter(0.25), 3.4 + jitter(0.25), 0.45);
  boxes_.push_back(
      {table, {0.6, 0.4, 0.45}, 0.35 + jitter(0.3), {{200, 60, 50}, {238, 128, 84}, 0.2, true}});
  boxes_.push_back({{6.6, 1.6 + jitter(0.3), 0.9},
                    {0.3, 0.7, 0.9},
                    jitter(0.05),
                    {{232, 190, 60}, {196, 146, 36}, 0.3, false}});
  boxes_.push_back({{2.9 + jitter(0.2), 4.6 + jitter(0.2), 0.25},
                    {0.3, 0.3, 0.25},
                    jitter(kPi),
                    {{92, 72, 164}, {136, 118, 206}, 0.15, true}});
  spheres_.push_back({{3.3 + jitter(0.2), 2.5 + jitter(0.2), 0.5},
                      0.5,
                      {{40, 92, 200}, {236, 236, 240}, kPi / 4, false}});
  spheres_.push_back(
      {{table.x(), table.y(), 0.9 + 0.3}, 0.3, {{222, 80, 172}, {250, 204, 232}, kPi / 6, true}});
}

bool Scene::intersect(const Vec3& origin, const Vec3& direction, double maxDistance,
                      SurfaceHit& hit) const {
  double best = maxDistance;
  bool found = false;
  Vec3 normal;
  Rgb colour{};

  for (const Rectangle& r : rectangles_) {
    const int a = r.axis, u = a == 0 ? 1 : 0, v = a == 2 ? 1 : 2;
    if (direction[a] == 0.0) continue;
    const double t = (r.level - origin[a]) / direction[a];
    if (!(t > 0.0 && t <= best)) continue;
    const Vec3 p = origin + t * direction;
    if (p[u] < r.low[0] || p[u] > r.high[0] || p[v] < r.low[1] || p[v] > r.high[1]) continue;
    best = t;
    found = true;
    normal = Vec3::Zero();
    normal[a] = direction[a] < 0.0 ? 1.0 : -1.0;
    const bool skirting = a != 2 && p.z() < kSkirting;
    colour = skirting ? Rgb{70, 60, 56} : patternColour(r.pattern, p[u], p[v]);
  }

  for (const Box& b : boxes_) {
    // Slabs in the box's own frame.
    const Eigen::Matrix3d toBox = turn(-b.yaw);
    const Vec3 o = toBox * (origin - b.centre), dir = toBox * direction;
    double enter = 0.0, leave = best;
    int enterAxis = -1;
    for (int i = 0; i < 3 && enter <= leave; ++i) {
      if (dir[i] == 0.0) {
        if (std::abs(o[i]) > b.half[i]) enter = leave + 1.0;
        continue;
      }
      double t0 = (-b.half[i] - o[i]) / dir[i], t1 = (b.half[i] - o[i]) / dir[i];
      if (t0 > t1) std::swap(t0, t1);
      if (t0 > enter) {
        enter = t0;
        enterAxis = i;
      }
      leave = std::min(leave, t1);
    }
    if (enterAxis < 0 || enter > leave || !(enter > 0.0 && enter <= best)) continue;
    best = enter;
    found = true;
    Vec3 local = Vec3::Zero();
    local[enterAxis] = dir[enterAxis] < 0.0 ? 1.0 : -1.0;
    normal = turn(b.yaw) * local;
    const Vec3 p = o + enter * dir;
    const int u = enterAxis == 0 ? 1 : 0, v = enterAxis == 2 ? 1 : 2;
    colour = patternColour(b.pattern, p[u] + b.half[u], p[v] + b.half[v]);
  }

  for (const Sphere& s : spheres_) {
    const Vec3 o = origin - s.centre;
    const double a = direction.squaredNorm(), halfB = o.dot(direction);
    const double c = o.squaredNorm() - s.radius * s.radius;
    const double discriminant = halfB * halfB - a * c;
    if (discriminant < 0.0) continue;
    const double t = (-halfB - std::sqrt(discriminant)) / a;  // the near side: rays start outside
    if (!(t > 0.0 && t <= best)) continue;
    best = t;
    found = true;
    normal = (o + t * direction) / s.radius;
    const double longitude = std::atan2(normal.y(), normal.x()) + kPi;
    const double latitude = std::asin(std::clamp(normal.z(), -1.0, 1.0)) + kPi / 2;
    colour = patternColour(s.pattern, longitude, latitude);
  }

  if (!found) return false;
  hit.distance = best;
  hit.point = origin + best * direction;
  hit.colour = shade(colour, normal);
  return true;
}

}  // namespace quarn::tool
