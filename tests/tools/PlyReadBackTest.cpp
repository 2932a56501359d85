// What quarn import writes, read back by Open3D (the reader users open it with): exactly the
// valid points and colours of a direct read through the plug-in, and a preview picture of
// them. Open3D's headers are slow to compile, so this file is the only one that includes them.

#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <open3d/geometry/Image.h>
#include <open3d/geometry/PointCloud.h>
#include <open3d/io/ImageIO.h>
#include <open3d/io/PointCloudIO.h>

#include "CapturedStdout.h"
#include "PluginLibrary.h"
#include "PlyWriter.h"
#include "RunTool.h"
#include "SampleScan.h"
#include "ScratchDir.h"

namespace {

using namespace quarn::tool;

// Every coordinate is a float value, so float -> double restores the bits; Open3D scales
// colour bytes to [0, 1].
void expectSameCloud(const open3d::geometry::PointCloud& read, const Eigen::MatrixXd& points,
                     const ColourMatrix& colours) {
  ASSERT_EQ(read.points_.size(), static_cast<std::size_t>(points.cols()));
  ASSERT_EQ(read.colors_.size(), static_cast<std::size_t>(points.cols()));
  for (Eigen::Index i = 0; i < points.cols(); ++i) {
    ASSERT_EQ(read.points_[i], Eigen::Vector3d(points.col(i))) << "point " << i;
    ASSERT_EQ(read.colors_[i], colours.col(i).cast<double>() / 255.0) << "point " << i;
  }
}

TEST(PlyReadBack, Open3DReadsExactlyThePluginsValidPointsAndColours) {
  ScratchDir dir;
  writeSampleScan(dir.file("sample.scan"), SampleOptions{4, 48, 36, 3});
  // The tool finds the plug-in where the build puts it, beside its own folder.
  const ToolRun run = runTool(QUARN_TOOL_PATH,
                              {"import", dir.file("sample.scan"), "-o", dir.file("cloud.ply"),
                               "--preview", dir.file("cloud.png")},
                              dir.path());
  ASSERT_EQ(run.exitCode, 0) << run.err;

  PluginLibrary plugin(QUARN_PLUGIN_PATH);
  PluginScan scan;
  {
    CapturedStdout quiet(dir.file("plugin-stdout.txt"));
    ASSERT_TRUE(plugin.read(dir.file("sample.scan"), scan));
  }
  Eigen::Index valid = 0;
  while (valid < scan.points.cols() && !scan.points.col(valid).hasNaN()) ++valid;
  ASSERT_LT(valid, scan.points.cols());  // the NaN columns must not reach the file
  EXPECT_NE(run.out.find("points  " + std::to_string(valid) + " "), std::string::npos) << run.out;
  open3d::geometry::PointCloud cloud;
  ASSERT_TRUE(open3d::io::ReadPointCloud(dir.file("cloud.ply"), cloud));
  expectSameCloud(cloud, scan.points.leftCols(valid), scan.colours.leftCols(valid));

  // The preview is a picture of something: many colours, not just the background.
  open3d::geometry::Image picture;
  ASSERT_TRUE(open3d::io::ReadImage(dir.file("cloud.png"), picture));
  ASSERT_EQ(picture.width_ * picture.height_ * picture.num_of_channels_, 960 * 720 * 3);
  int lit = 0;
  for (std::size_t at = 0; at < picture.data_.size(); at += 3)
    lit += picture.data_[at] > 60 || picture.data_[at + 1] > 60;
  EXPECT_GT(lit, picture.width_ * picture.height_ / 10);
}

// A cloud larger than the writer's chunk of vertices.
TEST(PlyReadBack, CloudsOfSeveralChunks) {
  ScratchDir dir;
  const Eigen::Index n = 2 * 65536 + 3;
  Eigen::MatrixXd points(3, n);
  ColourMatrix colours(3, n);
  for (Eigen::Index i = 0; i < n; ++i) {
    points.col(i) = Eigen::Vector3d(i, -0.5 * i, 0.25f * static_cast<float>(i % 977));
    colours.col(i) << static_cast<unsigned char>(i), static_cast<unsigned char>(i >> 8), 7;
  }
  {
    std::ofstream out(dir.file("big.ply"), std::ios::binary);
    writePly(out, validPoints(points, colours));
  }
  open3d::geometry::PointCloud cloud;
  ASSERT_TRUE(open3d::io::ReadPointCloud(dir.file("big.ply"), cloud));
  expectSameCloud(cloud, points, colours);
}

}  // namespace
