// The order of a read as the SDK sees it, the console lines, the scan index and the
// retry under the file's other name.

#include <filesystem>
#include <fstream>
#include <random>

#include "OtherName.h"
#include "PluginFixture.h"
#include "ScratchDir.h"

namespace {

using Calls = std::vector<std::string>;

const char* kIdentityPrint =
    "Global scene transform T_g_r =\n"
    "1 0 0 0\n"
    "0 1 0 0\n"
    "0 0 1 0\n"
    "\n";

TEST_F(PluginTest, ReadMakesTheSdkCallsInOrder) {
  ScannerScript& script = scannerScript();
  script.frameCount = 2;
  ScriptedFrame first;
  first.sizeX = 1;
  first.sizeY = 2;
  first.pose = poseWithTranslation(0, 0, 0);
  first.pixels[{0, 0}].point = std::array<float, 3>{1, 2, 3};  // a point without colour
  ScriptedFrame empty;                                         // no pixels, still has its pose read
  empty.pose = poseWithTranslation(0, 0, 0);
  script.frames = {first, empty};

  ASSERT_TRUE(read());
  EXPECT_EQ(script.calls, (Calls{"construct",
                                 "open scan.bin",
                                 "getFrameCount",
                                 "getPositionAndOrientation",
                                 "openFrame 0",
                                 "getFrameSizeX",
                                 "getFrameSizeY",
                                 "openFrame 1",
                                 "getFrameSizeX",
                                 "getFrameSizeY",
                                 "openFrame 0",
                                 "getFrameSizeX",
                                 "getFrameSizeY",
                                 "getFramePositionAndOrientation",
                                 "point 0,0",
                                 "colour 0,0",
                                 "point 0,1",
                                 "openFrame 1",
                                 "getFrameSizeX",
                                 "getFrameSizeY",
                                 "getFramePositionAndOrientation",
                                 "destroy"}));
  EXPECT_EQ(console(), std::string("2 frames found.\n") + kIdentityPrint);
}

TEST_F(PluginTest, ScanIndexAboveZeroIsRefusedAfterTheFrameLine) {
  scannerScript().frameCount = 12;
  const HostMatrices before(points, colours, transform);
  EXPECT_FALSE(read("scan.bin", 1));
  EXPECT_EQ(console(), "12 frames found.\n");
  EXPECT_EQ(scannerScript().calls,
            (Calls{"construct", "open scan.bin", "getFrameCount", "destroy"}));
  before.expectUnchanged(points, colours, transform);
}

TEST_F(PluginTest, NegativeScanIndexReadsScanZero) {
  scannerScript().frameCount = 1;
  scannerScript().frames = {fullFrame(2, 2, 1.0f)};
  ASSERT_TRUE(read("scan.bin", 0));
  const Eigen::MatrixXd pointsOfZero = points;
  const ColourMatrix coloursOfZero = colours;
  const std::string consoleOfZero = console();

  scannerScript().calls.clear();
  ASSERT_TRUE(read("scan.bin", -3));
  EXPECT_EQ(points, pointsOfZero);
  EXPECT_EQ(colours, coloursOfZero);
  EXPECT_EQ(console(), consoleOfZero + consoleOfZero);
}

TEST_F(PluginTest, ZeroFramesGiveEmptyMatricesAndTheTransform) {
  ASSERT_TRUE(read());
  EXPECT_EQ(console(), std::string("0 frames found.\n") + kIdentityPrint);
  EXPECT_EQ(points.rows(), 3);
  EXPECT_EQ(points.cols(), 0);
  EXPECT_EQ(colours.rows(), 3);
  EXPECT_EQ(colours.cols(), 0);
  EXPECT_EQ(transform, Eigen::MatrixXd::Identity(4, 4));
}

TEST_F(PluginTest, NumberOfScansIsAlwaysOne) {
  EXPECT_EQ(readDotProductNumberOfScans(nullptr), 1);
  EXPECT_EQ(readDotProductNumberOfScans("missing.scan"), 1);
  EXPECT_TRUE(scannerScript().calls.empty());
}

// The retry under the file's other name: the real one of this platform, with a scripted SDK
// that refuses the first.
class OpenRetryTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    const std::filesystem::path scan = scratch_.path() / "scan.bin";
    std::ofstream(scan) << "x";
#if defined(_WIN32)
    // The folder's name is too long for 8.3, so the short path differs from the full one.
    givenPath_ = scan.u8string();
#else
    givenPath_ = std::filesystem::relative(scan).string();
#endif
    otherPath_ = expectedOtherName(scan);
    ASSERT_FALSE(otherPath_.empty());
  }

  ScratchDir scratch_;
  std::string givenPath_;
  std::string otherPath_;
};

TEST_F(OpenRetryTest, RefusedPathIsRetriedOnceUnderItsOtherName) {
  ASSERT_NE(givenPath_, otherPath_);
  scannerScript().openResults = {3, 0};
  ASSERT_TRUE(read(givenPath_.c_str()));
  EXPECT_EQ(console(),
            "Reading from short path: " + otherPath_ + "\n0 frames found.\n" + kIdentityPrint);
  const Calls& calls = scannerScript().calls;
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(calls[1], "open " + givenPath_);
  EXPECT_EQ(calls[2], "open " + otherPath_);
  EXPECT_EQ(calls[3], "getFrameCount");
}

TEST_F(OpenRetryTest, LineIsPrintedEvenWhenTheOtherNameIsTheSame) {
  scannerScript().openResults = {1, 0};
  ASSERT_TRUE(read(otherPath_.c_str()));
  EXPECT_EQ(console().rfind("Reading from short path: " + otherPath_ + "\n", 0), 0u);
}

TEST_F(OpenRetryTest, RefusedUnderBothNamesFailsAfterTheLine) {
  scannerScript().openResults = {1, 1};
  const HostMatrices before(points, colours, transform);
  EXPECT_FALSE(read(givenPath_.c_str()));
  EXPECT_EQ(console(), "Reading from short path: " + otherPath_ + "\n");
  EXPECT_EQ(scannerScript().calls,
            (Calls{"construct", "open " + givenPath_, "open " + otherPath_, "destroy"}));
  before.expectUnchanged(points, colours, transform);
}

TEST_F(PluginTest, MissingEmptyOrNullPathFailsSilently) {
  for (const char* path : {"no/such/scan.bin", ""}) {
    scannerScript().calls.clear();
    scannerScript().openResults = {1};
    EXPECT_FALSE(read(path)) << path;
    EXPECT_EQ(scannerScript().calls, (Calls{"construct", std::string("open ") + path, "destroy"}));
  }
  scannerScript().calls.clear();
  const HostMatrices before(points, colours, transform);
  EXPECT_FALSE(read(nullptr));
  EXPECT_EQ(scannerScript().calls, (Calls{"construct", "destroy"}));
  EXPECT_EQ(console(), "");
  before.expectUnchanged(points, colours, transform);
}

}  // namespace
