// Normals from a frame's grid: which neighbours count, which side they face, what turns them,
// and which pixels give none, on grids whose normals are known.

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "GridNormals.h"

namespace {

using quarn::GridNormals;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr double kIdentity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};

struct Point {
  float x, y, z;
};

struct Made {
  std::vector<Point> moved, own;  // one a kept pixel, in order
};

// Walks a sizeX x sizeY grid as the frame reader does: column by column, `point(x, y)` (NaN
// where the pixel has none), the pixels `kept(x, y)` among the frame's points.
Made walk(int sizeX, int sizeY, const std::function<Point(int, int)>& point,
          const std::function<bool(int, int)>& kept, const double (&toGlobal)[9] = kIdentity,
          const double (&toOutput)[9] = kIdentity) {
  int count = 0;
  for (int x = 0; x < sizeX; ++x)
    for (int y = 0; y < sizeY; ++y) count += kept(x, y);
  Made made{std::vector<Point>(count), std::vector<Point>(count)};
  GridNormals normals;
  normals.begin(sizeY, toGlobal, toOutput, &made.own[0].x, &made.moved[0].x);
  for (int x = 0; x < sizeX; ++x) {
    std::size_t keptHere = 0;
    for (int y = 0; y < sizeY; ++y) {
      const Point p = point(x, y);
      normals.column(0)[y] = p.x;
      normals.column(1)[y] = p.y;
      normals.column(2)[y] = p.z;
      if (kept(x, y)) normals.keptColumn()[keptHere++] = y;
    }
    normals.next(keptHere);
  }
  EXPECT_EQ(normals.finish(), static_cast<std::size_t>(count));
  return made;
}

// A 5 x 5 grid, a millimetre a pixel, at 2 m in front of the scanner (or behind it) on a plane
// z = depth + slope * x, with the changes a case makes to the pixel at (x, y).
struct Grid {
  float depth = 2, slope = 0;
  std::function<void(int, int, Point&)> change = [](int, int, Point&) {};
  Point operator()(int x, int y) const {
    Point p{(x - 2) * 1e-3f, (y - 2) * 1e-3f, depth + slope * (x - 2) * 1e-3f};
    change(x, y, p);
    return p;
  }
};

const auto all = [](int, int) { return true; };
const auto centre = [](int x, int y) { return x == 2 && y == 2; };

// Within what single precision leaves of a millimetre's difference at 2 m.
void expectNear(const Point& got, const Point& want, const std::string& what) {
  EXPECT_NEAR(got.x, want.x, 1e-4) << what;
  EXPECT_NEAR(got.y, want.y, 1e-4) << what;
  EXPECT_NEAR(got.z, want.z, 1e-4) << what;
}

TEST(GridNormals, KnownNormalsOfOnePixel) {
  const float tilt = static_cast<float>(1 / std::sqrt(1.25));  // z = 2 + x / 2
  const Point flat{0, 0, -1}, tilted{0.5f * tilt, 0, -tilt}, none{0, 0, 0};
  // The right neighbour of the centre (3, 2) moved along the ray by a share of its depth: the
  // normal leans towards it while it is within the depth jump, and not once it is beyond.
  const auto rightNeighbourDeeper = [](float share) {
    return [share](int x, int y, Point& p) {
      if (x == 3 && y == 2) p = Point{p.x * share, p.y * share, p.z * share};
    };
  };
  const auto without = [](std::function<bool(int, int)> gone) {
    return [gone](int x, int y, Point& p) {
      if (gone(x, y)) p = Point{kNaN, kNaN, kNaN};
    };
  };
  enum Check { exactly, within, leansRight };  // to the bit; expectNear; x beyond 0.01
  struct Case {
    const char* what;
    Grid grid;
    std::function<bool(int, int)> kept;
    Point want;
    Check check;
  };
  const Case cases[] = {
      {"flat, faces the scanner", {}, centre, flat, exactly},
      {"behind the scanner, faces it still", {-2}, centre, {0, 0, 1}, exactly},
      {"sloping", {2, 0.5f}, centre, tilted, within},
      {"corner pixel: one sided both ways",
       {2, 0.5f},
       [](int x, int y) { return x + y == 0; },
       tilted,
       within},
      {"last pixel of the last column",
       {2, 0.5f},
       [](int x, int y) { return x + y == 8; },
       tilted,
       within},
      {"neighbours not kept are samples all the same",
       {2, 0.5f, without([](int x, int y) { return x != 2 && y != 2; })},
       centre,
       tilted,
       within},
      {"no neighbour across",
       {2, 0, without([](int x, int) { return x != 2; })},
       centre,
       none,
       exactly},
      {"no neighbour along",
       {2, 0, without([](int, int y) { return y != 2; })},
       centre,
       none,
       exactly},
      {"isolated",
       {2, 0, without([](int x, int y) { return !centre(x, y); })},
       centre,
       none,
       exactly},
      {"no point of its own", {2, 0, without(centre)}, centre, none, exactly},
      {"neighbour 4 % deeper: on the surface",
       {2, 0, rightNeighbourDeeper(1.04f)},
       centre,
       {},
       leansRight},
      {"neighbour 6 % deeper: another surface",
       {2, 0, rightNeighbourDeeper(1.06f)},
       centre,
       flat,
       exactly},
      {"neighbour 6 % nearer: another surface",
       {2, 0, rightNeighbourDeeper(0.94f)},
       centre,
       flat,
       exactly},
      {"too far to square", {3e19f}, centre, none, exactly},
  };
  for (const Case& c : cases) {
    const Made made = walk(5, 5, c.grid, c.kept);
    ASSERT_EQ(made.moved.size(), 1u) << c.what;
    const Point& got = made.moved[0];
    if (c.check == exactly) {
      EXPECT_TRUE(got.x == c.want.x && got.y == c.want.y && got.z == c.want.z)
          << c.what << ": " << got.x << ' ' << got.y << ' ' << got.z;
    } else if (c.check == leansRight) {
      EXPECT_GT(got.x, 0.01f) << c.what;
    } else {
      expectNear(got, c.want, c.what);
    }
    expectNear(made.own[0], got, c.what);  // unturned, the same
  }
}

// Every kept pixel's normal, in order, on a sphere about the scanner: each faces its centre.
TEST(GridNormals, EveryKeptPixelInOrder) {
  const auto point = [](int x, int y) {
    const float a = (x - 50) * 0.01f, b = (y - 40) * 0.01f, length = std::hypot(a, b, 1.0f);
    return Point{2 * a / length, 2 * b / length, 2 / length};
  };
  const auto kept = [](int x, int y) { return (x * 7 + y * 3) % 5 != 0; };
  const Made made = walk(101, 81, point, kept);
  std::size_t i = 0;
  for (int x = 0; x < 101; ++x) {
    for (int y = 0; y < 81; ++y) {
      if (!kept(x, y)) continue;
      const Point p = point(x, y), got = made.moved.at(i++);
      // Central differences within a thousandth; one sided at the edges, within a hundredth.
      const double within = x % 100 == 0 || y % 80 == 0 ? 1e-2 : 1e-3;
      EXPECT_NEAR(got.x, -p.x / 2, within) << x << ' ' << y;
      EXPECT_NEAR(got.y, -p.y / 2, within) << x << ' ' << y;
      EXPECT_NEAR(got.z, -p.z / 2, within) << x << ' ' << y;
    }
  }
  EXPECT_EQ(i, made.moved.size());
}

// The frame's normal turned by the rotation into global coordinates, then into output ones;
// in the frame's own coordinates it is as it was.
TEST(GridNormals, TurnedAsThePointIs) {
  const double quarterAboutZ[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};
  const double halfAboutX[9] = {1, 0, 0, 0, -1, 0, 0, 0, -1};
  const float tilt = static_cast<float>(1 / std::sqrt(1.25));
  const Made made = walk(5, 5, Grid{2, 0.5f}, centre, quarterAboutZ, halfAboutX);
  expectNear(made.own[0], Point{0.5f * tilt, 0, -tilt}, "own");
  expectNear(made.moved[0], Point{0, -0.5f * tilt, tilt}, "moved");
}

}  // namespace
