// The sample generator's scene, written by the scan writer, served by the reference SDK and
// read by the built plug-in, comes back on the scene's own surfaces: the pose conventions of
// all three agree end to end.

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CapturedStdout.h"
#include "PluginLibrary.h"
#include "RunTool.h"
#include "SampleScan.h"
#include "ScanReader.h"

namespace {

using namespace quarn::tool;
using quarn::tool::test::readText;
using quarn::tool::test::runTool;
using quarn::tool::test::ScratchDir;
namespace scan = quarn::scan;

// Points are stored and transformed in single precision over a room of a few metres.
constexpr double kSurfaceTolerance = 1e-5;

const SampleOptions kSmall{6, 64, 48, 7};

TEST(SampleScene, ImportedPointsLieOnTheSceneSurfacesFromEveryFrame) {
  ScratchDir dir;
  writeSampleScan(dir.file("small.scan"), kSmall);
  const SampleScan sample(kSmall);

  PluginLibrary plugin(QUARN_PLUGIN_PATH);
  Eigen::MatrixXd points, transform;
  ColourMatrix colours;
  {
    CapturedStdout quiet(dir.file("plugin-stdout.txt"));
    ASSERT_TRUE(plugin.readDotProduct(dir.file("small.scan").c_str(), 0, points, colours, nullptr,
                                      nullptr, transform));
  }

  // The plug-in keeps the pixels with a point and a colour, frame by frame, x then y: the
  // generator's own frames say which columns come from which frame, and with which colour.
  Eigen::Index column = 0;
  std::vector<scan::ScanPixel> pixels;
  for (int f = 0; f < kSmall.frames; ++f) {
    SampleSummary counts;
    sample.renderFrame(f, pixels, counts);
    EXPECT_GT(counts.withBoth, counts.pixels / 4) << "frame " << f;
    EXPECT_GT(sample.scene().distanceToSurface(sample.cameraPosition(f)), 0.3);
    for (const scan::ScanPixel& pixel : pixels) {
      if (pixel.flags != (scan::kHasPoint | scan::kHasColour)) continue;
      ASSERT_LT(column, points.cols());
      const double distance = sample.scene().distanceToSurface(points.col(column));
      EXPECT_LT(distance, kSurfaceTolerance) << "frame " << f << " column " << column;
      for (int c = 0; c < 3; ++c) EXPECT_EQ(colours(c, column), pixel.colour[c]);
      ++column;
    }
  }
  ASSERT_GT(column, 0);
  for (Eigen::Index c = column; c < points.cols(); ++c) ASSERT_TRUE(points.col(c).hasNaN());
  // The surface test is not trivially passed: free space is far from every surface.
  EXPECT_GT(sample.scene().distanceToSurface(Eigen::Vector3d(3.5, 2.75, 2.0)), 0.5);
}

TEST(SampleScene, SameSeedSameBytesAndEveryKindOfPixel) {
  ScratchDir dir;
  const SampleSummary summary = writeSampleScan(dir.file("a.scan"), kSmall);
  writeSampleScan(dir.file("b.scan"), kSmall);
  SampleOptions otherSeed = kSmall;
  otherSeed.seed += 1;
  writeSampleScan(dir.file("c.scan"), otherSeed);
  const std::string a = readText(dir.file("a.scan"));
  EXPECT_EQ(a, readText(dir.file("b.scan")));
  EXPECT_NE(a, readText(dir.file("c.scan")));

  // What the file holds, through the scan reader: every kind of pixel occurs.
  scan::ScanReader reader;
  ASSERT_EQ(reader.open(dir.file("a.scan")), scan::kOk);
  ASSERT_EQ(reader.frameCount(), kSmall.frames);
  std::int64_t kinds[4] = {};  // by flags: neither, point only, colour only, both
  std::vector<scan::ScanPixel> pixels;
  for (int f = 0; f < reader.frameCount(); ++f) {
    EXPECT_EQ(reader.frame(f).sizeX, kSmall.width);
    EXPECT_EQ(reader.frame(f).sizeY, kSmall.height);
    ASSERT_TRUE(reader.readPixels(f, pixels));
    for (const scan::ScanPixel& pixel : pixels) ++kinds[pixel.flags & 3];
  }
  EXPECT_GT(kinds[0], 0) << "rays that miss or fall short";
  EXPECT_GT(kinds[scan::kHasPoint], 0) << "the band the colour camera does not see";
  EXPECT_GT(kinds[scan::kHasColour], 0) << "surfaces beyond the depth range";
  EXPECT_EQ(kinds[1] + kinds[3], summary.withPoint);
  EXPECT_EQ(kinds[2] + kinds[3], summary.withColour);
  EXPECT_EQ(kinds[3], summary.withBoth);

  // quarn info reports the same counts through the SDK.
  const auto info = runTool({"info", dir.file("a.scan")}, dir.path());
  ASSERT_EQ(info.exitCode, 0) << info.err;
  const std::string total = "total: " + std::to_string(summary.pixels) + " pixels, " +
                            std::to_string(summary.withPoint) + " with a point, " +
                            std::to_string(summary.withColour) + " with a colour, " +
                            std::to_string(summary.withBoth) + " with both\n";
  EXPECT_NE(info.out.find(total), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("frame 5: 64 x 48, "), std::string::npos);
}

}  // namespace
