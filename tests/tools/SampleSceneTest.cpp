// The sample generator's scene, written by the scan writer, served by the reference SDK and
// read by the built plug-in, comes back on the scene's own surfaces: the pose conventions of
// all three agree end to end.

#include <gtest/gtest.h>

#include "CapturedStdout.h"
#include "PluginLibrary.h"
#include "SampleScan.h"
#include "ScratchDir.h"
#include "TestScans.h"

namespace {

using namespace quarn::tool;

// A point lies on a surface when a short ray through it along some axis, from outside the
// object, meets the surface there; points are single precision over a room of a few metres.
bool onSurface(const Scene& scene, const Vec3& p) {
  constexpr double kReach = 1e-3, kTolerance = 1e-5;
  for (int axis = 0; axis < 6; ++axis) {
    const Vec3 direction = (axis < 3 ? 1.0 : -1.0) * Vec3::Unit(axis % 3);
    SurfaceHit hit;
    if (scene.intersect(p - kReach * direction, direction, 2 * kReach, hit) &&
        std::abs(hit.distance - kReach) < kTolerance)
      return true;
  }
  return false;
}

TEST(SampleScene, ImportedPointsLieOnTheSceneSurfacesFromEveryFrame) {
  ScratchDir dir;
  const SampleOptions options{6, 64, 48, 7};
  const SampleSummary summary = writeSampleScan(dir.file("small.scan"), options);
  const SampleScan sample(options);
  ASSERT_FALSE(onSurface(sample.scene(), Vec3(3.5, 2.75, 2.0)));  // free space

  PluginLibrary plugin(QUARN_PLUGIN_PATH);
  PluginScan scan;
  {
    CapturedStdout quiet(dir.file("plugin-stdout.txt"));
    ASSERT_TRUE(plugin.read(dir.file("small.scan"), scan));
  }
  // The generator's own frames say which columns come from which frame, and their colours.
  Eigen::Index column = 0;
  std::vector<quarn::scan::ScanPixel> pixels;
  for (int f = 0; f < options.frames; ++f) {
    SampleSummary counts;
    sample.renderFrame(f, pixels, counts);
    EXPECT_GT(counts.withBoth, counts.pixels / 4) << "frame " << f;
    for (const quarn::scan::ScanPixel& pixel : pixels) {
      if (pixel.flags != (quarn::scan::kHasPoint | quarn::scan::kHasColour)) continue;
      ASSERT_LT(column, scan.points.cols());
      EXPECT_TRUE(onSurface(sample.scene(), scan.points.col(column))) << f << ": " << column;
      for (int c = 0; c < 3; ++c) EXPECT_EQ(scan.colours(c, column), pixel.colour[c]);
      ++column;
    }
  }
  EXPECT_EQ(column, summary.withBoth);
  EXPECT_TRUE(scan.points.rightCols(scan.points.cols() - column).array().isNaN().all());
}

}  // namespace
