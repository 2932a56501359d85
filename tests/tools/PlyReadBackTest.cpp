// The PLY that quarn import writes, read back by Open3D (the reader users open it with), holds
// exactly the valid points and colours of a direct read through the plug-in. Open3D's
// headers are slow to compile, so this file is the only one that includes them.

#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <open3d/geometry/Image.h>
#include <open3d/geometry/PointCloud.h>
#include <open3d/io/ImageIO.h>
#include <open3d/io/PointCloudIO.h>

#include "CapturedStdout.h"
#include "PluginLibrary.h"
#include "RunTool.h"
#include "SampleScan.h"

namespace {

using namespace quarn::tool;
using quarn::tool::test::readText;
using quarn::tool::test::runTool;
using quarn::tool::test::ScratchDir;

TEST(PlyReadBack, Open3DReadsExactlyThePluginsValidPointsAndColours) {
  ScratchDir dir;
  writeSampleScan(dir.file("sample.scan"), SampleOptions{4, 48, 36, 3});
  // The tool finds the plug-in where the build puts it, beside its own folder.
  const auto run = runTool({"import", dir.file("sample.scan"), "--output", dir.file("cloud.ply"),
                            "--preview", dir.file("cloud.png")},
                           dir.path());
  ASSERT_EQ(run.exitCode, 0) << run.err;

  PluginLibrary plugin(QUARN_PLUGIN_PATH);
  Eigen::MatrixXd points, transform;
  ColourMatrix colours;
  {
    CapturedStdout quiet(dir.file("plugin-stdout.txt"));
    ASSERT_TRUE(plugin.readDotProduct(dir.file("sample.scan").c_str(), 0, points, colours, nullptr,
                                      nullptr, transform));
  }
  Eigen::Index valid = 0;
  while (valid < points.cols() && !points.col(valid).hasNaN()) ++valid;
  ASSERT_GT(valid, 0);
  ASSERT_LT(valid, points.cols());  // the NaN columns must not reach the file
  EXPECT_NE(run.out.find("points  " + std::to_string(valid) + " "), std::string::npos) << run.out;

  const std::string header =
      "ply\nformat binary_little_endian 1.0\ncomment written by quarn\nelement vertex " +
      std::to_string(valid) +
      "\nproperty float x\nproperty float y\nproperty float z\n"
      "property uchar red\nproperty uchar green\nproperty uchar blue\nend_header\n";
  const std::string file = readText(dir.file("cloud.ply"));
  EXPECT_EQ(file.substr(0, header.size()), header);
  EXPECT_EQ(file.size(), header.size() + 15 * static_cast<std::size_t>(valid));

  open3d::geometry::PointCloud cloud;
  ASSERT_TRUE(open3d::io::ReadPointCloud(dir.file("cloud.ply"), cloud));
  ASSERT_EQ(cloud.points_.size(), static_cast<std::size_t>(valid));
  ASSERT_EQ(cloud.colors_.size(), static_cast<std::size_t>(valid));
  for (Eigen::Index i = 0; i < valid; ++i) {
    // Every coordinate is a float value, so float -> double restores the bits.
    const Eigen::Vector3d expected = points.col(i);
    EXPECT_EQ(std::memcmp(cloud.points_[i].data(), expected.data(), sizeof(double) * 3), 0)
        << "point " << i;
    // Open3D scales colour bytes to [0, 1].
    for (int c = 0; c < 3; ++c) EXPECT_EQ(cloud.colors_[i][c], colours(c, i) / 255.0);
  }

  // The preview is a picture of something: many colours, not just the background.
  open3d::geometry::Image picture;
  ASSERT_TRUE(open3d::io::ReadImage(dir.file("cloud.png"), picture));
  ASSERT_EQ(picture.width_, 960);
  ASSERT_EQ(picture.height_, 720);
  ASSERT_EQ(picture.num_of_channels_, 3);
  ASSERT_EQ(picture.bytes_per_channel_, 1);
  int differentFromBackground = 0;
  for (std::size_t at = 0; at < picture.data_.size(); at += 3) {
    differentFromBackground += picture.data_[at] > 60 || picture.data_[at + 1] > 60;
  }
  EXPECT_GT(differentFromBackground, picture.width_ * picture.height_ / 10);
}

}  // namespace
