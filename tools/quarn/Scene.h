#pragma once

// The known scene of the sample scans: a room without a ceiling (floor and four walls) with
// boxes and spheres in it, every surface patterned so that a picture of the cloud shows its
// structure. Coordinates are metres, z up, the floor at z = 0.

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include <Eigen/Core>

namespace quarn::tool {

using Vec3 = Eigen::Vector3d;
using Rgb = std::array<std::uint8_t, 3>;

inline constexpr double kPi = 3.14159265358979323846;

// Uniform in [low, high) from the generator's raw output, the same on every standard library
// (std::uniform_real_distribution is not).
double uniform(std::mt19937& random, double low, double high);

struct SurfaceHit {
  double distance;  // along the ray, in units of its direction's length
  Vec3 point;
  Rgb colour;  // pattern and shading
};

class Scene {
 public:
  // The sample scene: fixed room, objects placed with small offsets drawn from `seed`.
  explicit Scene(std::uint32_t seed);

  // The nearest surface along origin + t * direction for t in (0, maxDistance].
  bool intersect(const Vec3& origin, const Vec3& direction, double maxDistance,
                 SurfaceHit& hit) const;

  const Vec3& roomSize() const { return roomSize_; }

  // A surface patch: an axis-aligned rectangle (floor, wall) or a box turned about z.
  struct Pattern {
    Rgb first, second;
    double period;   // metres, or radians on spheres
    bool checkered;  // checker board, else stripes across the first in-plane coordinate
  };
  struct Rectangle {
    int axis;  // the coordinate that is constant on it
    double level;
    double low[2], high[2];  // bounds of the other two coordinates, in x, y, z order
    Pattern pattern;
  };
  struct Box {
    Vec3 centre, half;
    double yaw;
    Pattern pattern;
  };
  struct Sphere {
    Vec3 centre;
    double radius;
    Pattern pattern;
  };

 private:
  Vec3 roomSize_;
  std::vector<Rectangle> rectangles_;
  std::vector<Box> boxes_;
  std::vector<Sphere> spheres_;
};

}  // namespace quarn::tool
