// Scans written by ScanWriter and read back through DotProductAPI.

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "DotProductAPI.h"
#include "ScanStatus.h"
#include "ScanTestSupport.h"

namespace quarn::scan::test {
namespace {

std::uint32_t bitsOf(float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

void appendPose(Bytes& bytes, const PoseArray& pose) {
  const auto* p = reinterpret_cast<const unsigned char*>(pose.data());
  bytes.insert(bytes.end(), p, p + sizeof pose);
}

// The bytes the format document lays out, built without the writer.
TEST(ScanLayout, WriterProducesTheDocumentedBytes) {
  ScratchDir dir;
  const PoseArray scanPose = poseFrom(1), pose0 = poseFrom(2), pose1 = poseFrom(3);
  writeScan(dir.file("a.qscan"), scanPose,
            {{2, 1, pose0, {{1.5f, -0.0f, -2.0f, 3, {0x11, 0x22, 0x33}}, {}}}, {0, 3, pose1, {}}});

  Bytes expected = {'Q', 'S', 'C', 'N', '\r', '\n', 0x1a, '\n', 1, 0, 0, 0, 2, 0, 0, 0};
  appendPose(expected, scanPose);
  expected.insert(expected.end(), {168, 0, 0, 0, 0, 0, 0, 0, 88, 1, 0, 0, 0, 0, 0, 0});
  expected.insert(expected.end(), {2, 0, 0, 0, 1, 0, 0, 0});
  appendPose(expected, pose0);
  expected.insert(expected.end(),
                  {0, 0, 0xc0, 0x3f, 0, 0, 0, 0x80, 0, 0, 0, 0xc0, 3, 0x11, 0x22, 0x33,
                   0, 0, 0,    0,    0, 0, 0, 0,    0, 0, 0, 0,    0, 0,    0,    0});
  expected.insert(expected.end(), {0, 0, 0, 0, 3, 0, 0, 0});
  appendPose(expected, pose1);
  EXPECT_EQ(readBytes(dir.file("a.qscan")), expected);
}

class ScanFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scanPose[3] = -0.0;
    scanPose[9] = 4.9e-324;
    scanPose[16] = -INFINITY;
    writeScan(path, scanPose, frames);
    ASSERT_EQ(api.open(path.c_str(), nullptr), kOk);
  }

  ScratchDir dir;
  std::string path = dir.file("scan.qscan");
  PoseArray scanPose = poseFrom(0);
  std::vector<ScanFrame> frames = sampleFrames();
  DotProductAPI api;
  float px = 7, py = 7, pz = 7;
  unsigned char c = 7;
};

TEST_F(ScanFileTest, ReadsBackEveryValueExactly) {
  ASSERT_EQ(api.getFrameCount(), 3);
  PoseArray pose{};
  ASSERT_EQ(api.getPositionAndOrientation(pose.data()), kOk);
  EXPECT_EQ(std::memcmp(pose.data(), scanPose.data(), sizeof pose), 0);
  // Revisiting frame 0 after frame 2 catches pixels kept from the wrong frame.
  for (const int f : {0, 1, 2, 0}) {
    const ScanFrame& frame = frames[f];
    ASSERT_EQ(api.openFrame(f), kOk);
    ASSERT_EQ(api.getFrameSizeX(), frame.sizeX);
    ASSERT_EQ(api.getFrameSizeY(), frame.sizeY);
    ASSERT_EQ(api.getFramePositionAndOrientation(pose.data()), kOk);
    EXPECT_EQ(pose, frame.pose);
    for (int x = 0; x < frame.sizeX; ++x) {
      for (int y = 0; y < frame.sizeY; ++y) {
        SCOPED_TRACE(testing::Message() << f << ": " << x << "," << y);
        const ScanPixel& want = frame.pixels[x * frame.sizeY + y];
        const bool hasPoint = want.flags & kHasPoint, hasColour = want.flags & kHasColour;
        float p[3] = {99, 99, 99};
        unsigned char got[3] = {9, 9, 9};
        EXPECT_EQ(api.getCartesianAtPixel(x, y, p[0], p[1], p[2]), hasPoint ? kOk : kNoValue);
        EXPECT_EQ(api.getColourAtPixel(x, y, got[0], got[1], got[2]), hasColour ? kOk : kNoValue);
        EXPECT_EQ(bitsOf(p[0]), bitsOf(hasPoint ? want.x : 99));
        EXPECT_EQ(bitsOf(p[1]), bitsOf(hasPoint ? want.y : 99));
        EXPECT_EQ(bitsOf(p[2]), bitsOf(hasPoint ? want.z : 99));
        EXPECT_EQ(Bytes(got, got + 3),
                  hasColour ? Bytes(want.colour, want.colour + 3) : Bytes(3, 9));
      }
    }
  }
}

TEST_F(ScanFileTest, RefusesCallsWithoutScanFrameOrPixel) {
  double pose[17];
  DotProductAPI unopened;
  EXPECT_EQ(unopened.getFrameCount() + unopened.getFrameSizeX() + unopened.getFrameSizeY(), 0);
  EXPECT_EQ(unopened.getPositionAndOrientation(pose), kNotOpen);
  EXPECT_EQ(unopened.openFrame(0), kNotOpen);
  EXPECT_EQ(unopened.getCartesianAtPixel(0, 0, px, py, pz), kNotOpen);

  EXPECT_EQ(api.getPositionAndOrientation(nullptr), kBadArgument);
  EXPECT_EQ(api.getFramePositionAndOrientation(pose), kNoFrame);
  EXPECT_EQ(api.getColourAtPixel(0, 0, c, c, c), kNoFrame);
  ASSERT_EQ(api.openFrame(0), kOk);
  EXPECT_EQ(api.getFramePositionAndOrientation(nullptr), kBadArgument);
  const std::pair<int, int> outside[] = {{-1, 0}, {0, -1}, {2, 0}, {0, 3}, {INT_MIN, INT_MIN}};
  for (const auto& [x, y] : outside) {
    EXPECT_EQ(api.getCartesianAtPixel(x, y, px, py, pz), kOutsideFrame) << x << "," << y;
    EXPECT_EQ(api.getColourAtPixel(x, y, c, c, c), kOutsideFrame) << x << "," << y;
  }
  // A refused openFrame leaves no frame current.
  for (const int bad : {3, -1}) {
    ASSERT_EQ(api.openFrame(0), kOk);
    EXPECT_EQ(api.openFrame(bad), kBadArgument);
    EXPECT_EQ(api.getFrameSizeX() + api.getFrameSizeY(), 0);
    EXPECT_EQ(api.getFramePositionAndOrientation(pose), kNoFrame);
    EXPECT_EQ(api.getCartesianAtPixel(0, 1, px, py, pz), kNoFrame);
  }
  EXPECT_EQ(px + py + pz + c, 28);  // no refused call wrote anything
}

TEST_F(ScanFileTest, ReopenReplacesTheScanAndAFailedOneLeavesNone) {
  writeScan(dir.file("b.qscan"), poseFrom(-5), {{1, 2, poseFrom(0), {{8, 8, 8, 1, {}}, {}}}});
  ASSERT_EQ(api.openFrame(2), kOk);
  ASSERT_EQ(api.open(dir.file("b.qscan").c_str(), nullptr), kOk);
  EXPECT_EQ(api.getFrameCount(), 1);
  EXPECT_EQ(api.getFrameSizeX(), 0);  // no frame current in the new scan
  PoseArray pose;
  ASSERT_EQ(api.getPositionAndOrientation(pose.data()), kOk);
  EXPECT_EQ(pose, poseFrom(-5));

  for (const std::string& bad : {dir.file("missing.qscan"), dir.path().string()}) {
    EXPECT_EQ(api.open(bad.c_str(), nullptr), kCannotOpen) << bad;
    EXPECT_EQ(api.getFrameCount(), 0);
    EXPECT_EQ(api.openFrame(0), kNotOpen);
    ASSERT_EQ(api.open(path.c_str(), nullptr), kOk);
  }
  EXPECT_EQ(api.open(nullptr, nullptr), kCannotOpen);
  EXPECT_EQ(api.getPositionAndOrientation(pose.data()), kNotOpen);
}

// Pixels are read at a frame's first pixel call, not by open or openFrame; a failed read
// is not retried until the next openFrame.
TEST_F(ScanFileTest, ReadsPixelsOnFirstPixelCall) {
  ASSERT_EQ(api.openFrame(0), kOk);
  Bytes bytes = readBytes(path);
  const std::size_t pixels0 = frameOffset(bytes, 0) + kFrameHeaderSize;
  put<float>(bytes, pixels0 + kPixelSize + 4, 42.0f);  // y of pixel (0, 1)
  writeBytes(path, bytes);
  ASSERT_EQ(api.getCartesianAtPixel(0, 1, px, py, pz), kOk);
  EXPECT_EQ(py, 42.0f);

  std::filesystem::resize_file(path, pixels0 + 5 * kPixelSize);  // cuts frame 0's last pixel
  ASSERT_EQ(api.openFrame(0), kOk);
  EXPECT_EQ(api.getFrameSizeY(), 3);
  EXPECT_EQ(api.getCartesianAtPixel(0, 1, px, py, pz), kReadFailed);
  EXPECT_EQ(api.getColourAtPixel(1, 2, c, c, c), kReadFailed);
  writeBytes(path, bytes);
  EXPECT_EQ(api.getCartesianAtPixel(0, 1, px, py, pz), kReadFailed);
  ASSERT_EQ(api.openFrame(0), kOk);
  EXPECT_EQ(api.getCartesianAtPixel(0, 1, px, py, pz), kOk);
}

// Two objects share nothing: interleaved calls each see their own scan.
TEST_F(ScanFileTest, ObjectsAreIndependent) {
  writeScan(dir.file("b.qscan"), poseFrom(0), {{1, 1, poseFrom(0), {{5, 6, 7, 1, {}}}}});
  DotProductAPI other;
  float oz;
  ASSERT_EQ(other.open(dir.file("b.qscan").c_str(), nullptr) + other.openFrame(0), kOk);
  ASSERT_EQ(api.openFrame(2) + api.getCartesianAtPixel(0, 0, px, py, pz), kOk);
  ASSERT_EQ(other.getCartesianAtPixel(0, 0, oz, oz, oz), kOk);
  ASSERT_EQ(api.getCartesianAtPixel(0, 0, px, py, pz), kOk);
  EXPECT_EQ(pz, -3.4e38f);
  EXPECT_EQ(oz, 7.0f);
  EXPECT_EQ(api.getFrameCount() * 10 + other.getFrameCount(), 31);
}

}  // namespace
}  // namespace quarn::scan::test
