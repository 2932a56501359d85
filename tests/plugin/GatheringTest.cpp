// What the host's matrices hold after a read, and that a failed read leaves them alone.

#include <cmath>
#include <functional>
#include <limits>

#include "PluginFixture.h"

namespace {

ScriptedFrame frameWithPose(const std::array<double, 17>& pose) {
  ScriptedFrame frame = fullFrame(1, 1, 0.5f);
  frame.pose = pose;
  return frame;
}

std::array<double, 17> reflection() {
  std::array<double, 17> pose = poseWithTranslation(0, 0, 0);
  pose[10] = -1.0;
  return pose;
}

TEST_F(PluginTest, ValidPixelsFillTheFirstColumnsInOrder) {
  ScannerScript& script = scannerScript();
  script.frameCount = 2;
  script.frames = {fullFrame(2, 2, 10.0f), fullFrame(2, 2, 20.0f)};
  script.frames[0].pixels[{1, 0}].point.reset();   // no point
  script.frames[1].pixels[{0, 1}].colour.reset();  // a point without colour
  ASSERT_TRUE(read());

  ASSERT_EQ(points.rows(), 3);
  ASSERT_EQ(points.cols(), 8);
  ASSERT_EQ(colours.cols(), 8);
  // frame 0: (0,0) (0,1) (1,1); frame 1: (0,0) (1,0) (1,1)
  const int expected[6][3] = {{0, 0, 0}, {0, 0, 1}, {0, 1, 1}, {1, 0, 0}, {1, 1, 0}, {1, 1, 1}};
  for (int k = 0; k < 6; ++k) {
    const float base = expected[k][0] == 0 ? 10.0f : 20.0f;
    const int x = expected[k][1], y = expected[k][2];
    EXPECT_EQ(points(0, k), base + x) << k;
    EXPECT_EQ(points(1, k), base + y) << k;
    EXPECT_EQ(points(2, k), base + 0.25f * (x + y)) << k;
    EXPECT_EQ(colours(0, k), x) << k;
    EXPECT_EQ(colours(1, k), y) << k;
    EXPECT_EQ(colours(2, k), 7) << k;
  }
  for (int k = 6; k < 8; ++k) {
    for (int row = 0; row < 3; ++row) {
      EXPECT_TRUE(std::isnan(points(row, k))) << k;
      EXPECT_EQ(colours(row, k), 0) << k;
    }
  }
}

TEST_F(PluginTest, ColourIsAskedOnlyForPixelsWithAPoint) {
  scannerScript().frameCount = 1;
  scannerScript().frames = {fullFrame(1, 3, 0.0f)};
  scannerScript().frames[0].pixels[{0, 1}].point.reset();
  ASSERT_TRUE(read());
  const auto& calls = scannerScript().calls;
  const std::vector<std::string> pixelCalls(calls.end() - 6, calls.end() - 1);
  EXPECT_EQ(pixelCalls, (std::vector<std::string>{"point 0,0", "colour 0,0", "point 0,1",
                                                  "point 0,2", "colour 0,2"}));
}

TEST_F(PluginTest, EmptyAndNegativeSizedFramesAddNothing) {
  ScannerScript& script = scannerScript();
  script.frameCount = 4;
  ScriptedFrame negative = fullFrame(0, 0, 0.0f);
  negative.sizeX = -5;
  negative.sizeY = -7;  // -5 * -7 would be 35 if multiplied as reported
  ScriptedFrame zeroWide = fullFrame(0, 3, 0.0f);
  script.frames = {negative, fullFrame(1, 2, 1.0f), zeroWide, fullFrame(2, 1, 2.0f)};
  ASSERT_TRUE(read());
  EXPECT_EQ(points.cols(), 4);
  EXPECT_EQ(colours.cols(), 4);
  EXPECT_FALSE(std::isnan(points(0, 3)));
  EXPECT_EQ(scannerScript().pixelCalls, 4);
}

TEST_F(PluginTest, IdentityPosesKeepTheSdkFloatsAndClearNegativeZero) {
  scannerScript().frameCount = 1;
  ScriptedFrame frame = fullFrame(1, 1, 0.0f);
  frame.pixels[{0, 0}].point = std::array<float, 3>{-0.0f, 1.1f, -3.3e-30f};
  scannerScript().frames = {frame};
  ASSERT_TRUE(read());
  EXPECT_EQ(points(0, 0), 0.0);
  EXPECT_FALSE(std::signbit(points(0, 0)));
  EXPECT_EQ(points(1, 0), static_cast<double>(1.1f));
  EXPECT_EQ(points(2, 0), static_cast<double>(-3.3e-30f));
}

TEST_F(PluginTest, EveryReadGivesFreshPointAndColourStorage) {
  scannerScript().frameCount = 1;
  scannerScript().frames = {fullFrame(1, 2, 0.0f)};
  points.resize(3, 2);
  colours.resize(3, 2);
  const double* oldPoints = points.data();
  const unsigned char* oldColours = colours.data();
  ASSERT_TRUE(read());
  EXPECT_NE(points.data(), oldPoints);
  EXPECT_NE(colours.data(), oldColours);
}

TEST_F(PluginTest, TransformMatrixTakesTheRawPoseRowByRow) {
  std::array<double, 17> pose{};
  for (int i = 0; i < 17; ++i) pose[i] = 0.1 * (i + 1);  // not a rotation-shaped block...
  pose[0] = pose[5] = pose[10] = 1.0;                    // ...but one that orthonormalises
  pose[1] = pose[2] = pose[4] = pose[6] = pose[8] = pose[9] = 0.0;
  scannerScript().globalPose = pose;

  transform.resize(2, 8);  // 16 elements: storage stays
  const double* kept = transform.data();
  ASSERT_TRUE(read());
  EXPECT_EQ(transform.data(), kept);
  const double expected[16] = {1, 0, 0, pose[12], 0,       1,       0,        pose[13],
                               0, 0, 1, pose[14], pose[3], pose[7], pose[11], pose[15]};
  ASSERT_EQ(transform.rows(), 4);
  ASSERT_EQ(transform.cols(), 4);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(transform.data()[i], expected[i]) << i;

  transform.resize(3, 3);  // other sizes get new storage
  ASSERT_TRUE(read());
  EXPECT_EQ(transform.rows(), 4);
  EXPECT_EQ(transform.cols(), 4);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(transform.data()[i], expected[i]) << i;
}

// Every way a read can fail after the scan is open: false, the SDK object destroyed once,
// and all three host matrices exactly as they were.
TEST_F(PluginTest, FailedReadsLeaveTheHostMatricesAlone) {
  std::array<double, 17> zeroRow = poseWithTranslation(0, 0, 0);
  zeroRow[1] = zeroRow[5] = zeroRow[9] = 0.0;
  std::array<double, 17> nanPose = poseWithTranslation(0, 0, 0);
  nanPose[4] = std::numeric_limits<double>::quiet_NaN();

  struct Case {
    const char* name;
    std::function<void(ScannerScript&)> arrange;
  };
  const Case cases[] = {
      {"reflected global pose", [](ScannerScript& s) { s.globalPose = reflection(); }},
      {"zero row in global pose", [&](ScannerScript& s) { s.globalPose = zeroRow; }},
      {"NaN in global pose", [&](ScannerScript& s) { s.globalPose = nanPose; }},
      {"reflected frame pose",
       [](ScannerScript& s) {
         s.frameCount = 2;
         s.frames = {fullFrame(2, 2, 0.0f), frameWithPose(reflection())};
       }},
      {"bad pose of a frame without pixels",
       [&](ScannerScript& s) {
         s.frameCount = 2;
         ScriptedFrame empty = frameWithPose(zeroRow);
         empty.sizeX = 0;
         s.frames = {fullFrame(2, 2, 0.0f), empty};
       }},
      {"sizes grew between the passes",
       [](ScannerScript& s) {
         s.frameCount = 1;
         s.frames = {fullFrame(3, 3, 0.0f)};
         s.frames[0].sizeX = 2;
         s.frames[0].laterSizes = std::make_pair(3, 3);
       }},
      {"more pixels than any matrix holds",
       [](ScannerScript& s) {
         s.frameCount = 3;
         ScriptedFrame huge = fullFrame(0, 0, 0.0f);
         huge.sizeX = huge.sizeY = std::numeric_limits<int>::max();
         s.frames = {huge, huge, huge};
       }},
      {"more memory than the machine has",
       [](ScannerScript& s) {
         s.frameCount = 1;
         ScriptedFrame huge = fullFrame(0, 0, 0.0f);
         huge.sizeX = huge.sizeY = 1 << 21;  // 2^42 pixels: 100 TB of points
         s.frames = {huge};
       }},
      {"SDK throws", [](ScannerScript& s) {
         s.frameCount = 1;
         s.frames = {fullFrame(2, 2, 0.0f)};
         s.throwOnPixel = true;
       }}};

  for (const Case& c : cases) {
    scannerScript() = ScannerScript{};
    scannerScript().globalPose = poseWithTranslation(0, 0, 0);
    c.arrange(scannerScript());
    const HostMatrices before(points, colours, transform);
    EXPECT_FALSE(read()) << c.name;
    before.expectUnchanged(points, colours, transform);
    EXPECT_EQ(scannerScript().constructed, 1) << c.name;
    EXPECT_EQ(scannerScript().destroyed, 1) << c.name;
  }
}

TEST_F(PluginTest, UnwrittenPoseArraysReadAsZeroAndFailTheCheck) {
  scannerScript().frameCount = 1;
  scannerScript().frames = {fullFrame(1, 1, 0.0f)};
  scannerScript().frames[0].writesPose = false;
  EXPECT_FALSE(read());
}

}  // namespace
