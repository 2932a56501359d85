// The built plug-in loaded at run time as a host loads it, reading scan files written with
// the scan writer through the reference SDK library.

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "CapturedStdout.h"
#include "OtherName.h"
#include "PluginLibrary.h"
#include "ReferenceImport.h"
#include "ScanWriter.h"
#include "ScratchDir.h"
#include "TestPoses.h"

namespace fs = std::filesystem;
using quarn::scan::ScanFrame;
using quarn::scan::ScanPixel;

namespace {

ScanFrame frame(int sizeX, int sizeY, const PoseArray& framePose, float base) {
  ScanFrame f;
  f.sizeX = sizeX;
  f.sizeY = sizeY;
  f.pose = framePose;
  for (int x = 0; x < sizeX; ++x) {
    for (int y = 0; y < sizeY; ++y) {
      ScanPixel pixel{base + 0.1f * x, base - 0.3f * y, 1.5f + x * y, 0, {}};
      pixel.flags = quarn::scan::kHasPoint | quarn::scan::kHasColour;
      pixel.colour[0] = static_cast<std::uint8_t>(x);
      pixel.colour[1] = static_cast<std::uint8_t>(y);
      pixel.colour[2] = static_cast<std::uint8_t>(200 + x + y);
      f.pixels.push_back(pixel);
    }
  }
  return f;
}

class HostLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    points = Eigen::MatrixXd::Constant(3, 1, 5.0);
    colours = ColourMatrix::Constant(3, 1, 5);
    transform = Eigen::MatrixXd::Constant(1, 1, 5.0);
  }
  std::string path(const char* name) const { return scratch_.file(name); }

  // Reads through the loaded plug-in, returning the result and what it printed.
  bool read(const std::string& scan, int scanIndex, std::string& printed) {
    CapturedStdout capture(path("stdout.txt"));
    const bool result = plugin_.readDotProduct(scan.c_str(), scanIndex, points, colours, nullptr,
                                               nullptr, transform);
    printed = capture.text();
    return result;
  }

  // Columns that differ from what the read must give: the pixels with a point and a colour,
  // in order, as the TooN reference computes them (bit for bit), then NaN and colour 0.
  int mismatchesWithReference(const PoseArray& globalPose, const std::vector<ScanFrame>& frames) {
    const auto globalInverse = poseArrayToSE3(globalPose)->inverse();
    const auto valid = quarn::scan::kHasPoint | quarn::scan::kHasColour;
    Eigen::Index column = 0;
    int mismatches = 0;
    for (const ScanFrame& f : frames) {
      const auto frameInverse = poseArrayToSE3(f.pose)->inverse();
      for (const ScanPixel& pixel : f.pixels) {
        if ((pixel.flags & valid) != valid) continue;
        const auto point = referencePoint(globalInverse, frameInverse, pixel.x, pixel.y, pixel.z);
        if (column >= points.cols() ||
            std::memcmp(&points(0, column), point.data(), sizeof point) != 0 ||
            std::memcmp(&colours(0, column), pixel.colour, 3) != 0)
          ++mismatches;
        ++column;
      }
    }
    for (; column < points.cols(); ++column) {
      if (!points.col(column).array().isNaN().all() || colours.col(column).any()) ++mismatches;
    }
    return mismatches;
  }

  PluginLibrary plugin_{QUARN_PLUGIN_PATH};
  ScratchDir scratch_;
  Eigen::MatrixXd points;
  ColourMatrix colours;
  Eigen::MatrixXd transform;
};

TEST_F(HostLoadTest, ReadsAWrittenScanExactly) {
  const PoseArray globalPose = rotationAboutZ(0.3, 0.1, -2.0, 0.7);
  std::vector<ScanFrame> frames = {frame(3, 2, rotationAboutZ(1.1, 1.0, 2.0, 3.0), 0.5f),
                                   frame(0, 4, rotationAboutZ(0.0, 0.0, 0.0, 0.0), 0.0f),
                                   frame(2, 3, rotationAboutZ(-2.5, 0.25, 0.0, -1.0), -4.0f)};
  frames[0].pixels[1].flags = quarn::scan::kHasPoint;   // (0, 1): no colour
  frames[2].pixels[4].flags = quarn::scan::kHasColour;  // (1, 1): no point
  frames[2].pixels[5].x = -0.0f;
  quarn::scan::writeScan(path("scan.qscan"), globalPose, frames);

  std::string printed;
  ASSERT_TRUE(read(path("scan.qscan"), 0, printed));
  EXPECT_EQ(printed,
            "3 frames found.\n"
            "Global scene transform T_g_r =\n"
            "0.955336 -0.29552 0 0.1\n"
            "0.29552 0.955336 0 -2\n"
            "0 0 1 0.7\n"
            "\n");

  ASSERT_EQ(points.cols(), 6 + 0 + 6);
  EXPECT_EQ(mismatchesWithReference(globalPose, frames), 0);
  const double expectedTransform[16] = {1, 0, 0, globalPose[12], 0, 1, 0, globalPose[13],
                                        0, 0, 1, globalPose[14], 0, 0, 0, 1};
  ASSERT_EQ(transform.size(), 16);
  EXPECT_EQ(std::memcmp(transform.data(), expectedTransform, sizeof expectedTransform), 0);
}

// Outputs of several megabytes have their pages mapped in on a second thread while the
// pixel loop writes them: the result must not change.
TEST_F(HostLoadTest, LargeScanIsExactToo) {
  const PoseArray globalPose = rotationAboutZ(-0.7, 3.0, 0.5, -1.25);
  std::vector<ScanFrame> frames;
  for (int f = 0; f < 3; ++f) {
    frames.push_back(frame(300, 300, rotationAboutZ(0.4 * f, f, -f, 0.5), 0.25f * f));
    for (std::size_t i = f; i < frames.back().pixels.size(); i += 3)
      frames.back().pixels[i].flags = quarn::scan::kHasPoint;
  }
  quarn::scan::writeScan(path("large.qscan"), globalPose, frames);

  std::string printed;
  ASSERT_TRUE(read(path("large.qscan"), 0, printed));
  ASSERT_EQ(points.cols(), 3 * 300 * 300);
  EXPECT_EQ(mismatchesWithReference(globalPose, frames), 0);
}

TEST_F(HostLoadTest, RefusedReadsLeaveTheMatricesAndPrintOnlyWhatTheyMust) {
  quarn::scan::writeScan(path("scan.qscan"), rotationAboutZ(0, 0, 0, 0),
                         {frame(1, 1, rotationAboutZ(0, 0, 0, 0), 1)});
  std::ofstream(path("text.txt")) << "not a scan at all, but long enough to hold a header";
  const Eigen::MatrixXd pointsBefore = points;
  const double* pointStorage = points.data();

  std::string printed;
  EXPECT_FALSE(read(path("scan.qscan"), 1, printed));
  EXPECT_EQ(printed, "1 frames found.\n");

  // No other name for a file that is not there, nor for no name at all.
  for (const std::string& missing : {path("missing.qscan"), std::string()}) {
    EXPECT_FALSE(read(missing, 0, printed)) << missing;
    EXPECT_EQ(printed, "") << missing;
  }

  // The SDK refuses it under both names; the retry is announced with the other name.
  const std::string otherName = expectedOtherName(path("text.txt"));
  ASSERT_FALSE(otherName.empty());
  EXPECT_FALSE(read(path("text.txt"), 0, printed));
  EXPECT_EQ(printed, "Reading from short path: " + otherName + "\n");

  EXPECT_EQ(points.data(), pointStorage);
  EXPECT_EQ(points, pointsBefore);
  EXPECT_EQ(colours, ColourMatrix::Constant(3, 1, 5));
  EXPECT_EQ(transform, Eigen::MatrixXd::Constant(1, 1, 5.0));
}

#if defined(_WIN32)
// A name the system code page cannot spell: the SDK's narrow open refuses its UTF-8 bytes,
// and the retry under the 8.3 short name reads exactly what the same scan gives under an
// ASCII name.
TEST_F(HostLoadTest, NonAsciiNameIsReadUnderItsShortName) {
  if (narrowNamesAreUtf8()) GTEST_SKIP() << "narrow opens take UTF-8 here: nothing to retry";
  const PoseArray globalPose = rotationAboutZ(-0.7, 3.0, 0.5, -1.25);
  std::vector<ScanFrame> frames = {frame(2, 3, rotationAboutZ(0.4, -1.0, 0.0, 2.0), 0.25f),
                                   frame(3, 1, rotationAboutZ(2.0, 0.5, 1.0, 0.0), -3.0f)};
  frames[1].pixels[2].flags = quarn::scan::kHasPoint;  // a column left NaN
  quarn::scan::writeScan(path("scan.qscan"), globalPose, frames);
  const fs::path longName = scratch_.path() / L"\u00DCberpr\u00FCfung \u00F1 \u6E2C.scan";
  fs::copy_file(scratch_.path() / "scan.qscan", longName);
  const std::string shortName = expectedOtherName(longName);
  // Without a short name that differs, nothing here would show the retry at work.
  ASSERT_FALSE(shortName.empty());
  ASSERT_NE(shortName, longName.u8string());

  std::string printedForAscii;
  ASSERT_TRUE(read(path("scan.qscan"), 0, printedForAscii));
  const Eigen::MatrixXd asciiPoints = points;
  const ColourMatrix asciiColours = colours;
  const Eigen::MatrixXd asciiTransform = transform;
  points.resize(1, 1);
  colours.resize(1, 1);
  transform.setZero();

  std::string printed;
  ASSERT_TRUE(read(longName.u8string(), 0, printed));
  EXPECT_EQ(printed, "Reading from short path: " + shortName + "\n" + printedForAscii);
  ASSERT_EQ(points.cols(), 9);
  ASSERT_EQ(points.cols(), asciiPoints.cols());
  EXPECT_TRUE(std::isnan(points(1, 8)));
  EXPECT_EQ(std::memcmp(points.data(), asciiPoints.data(), sizeof(double) * points.size()), 0);
  EXPECT_EQ(colours, asciiColours);
  EXPECT_EQ(transform, asciiTransform);
}
#endif

TEST_F(HostLoadTest, ResultReadsTheSameAsBoolOrInt) {
  quarn::scan::writeScan(path("scan.qscan"), rotationAboutZ(0, 0, 0, 0), {});
  using AsInt =
      int (*)(const char*, int, Eigen::MatrixXd&, ColourMatrix&, void*, void*, Eigen::MatrixXd&);
  const auto readAsInt = reinterpret_cast<AsInt>(plugin_.symbol("readDotProduct"));
  CapturedStdout quiet(path("stdout.txt"));
  EXPECT_EQ(readAsInt(path("scan.qscan").c_str(), 0, points, colours, nullptr, nullptr, transform),
            1);
  EXPECT_EQ(readAsInt(path("scan.qscan").c_str(), 1, points, colours, nullptr, nullptr, transform),
            0);
  EXPECT_EQ(plugin_.readDotProductNumberOfScans(nullptr), 1);
}

}  // namespace
