// What quarn writes, read back by Open3D (the reader users open it with). Open3D's headers are
// slow to compile, so this file is the only one that includes them. (The Python tests compare
// quarn import's PLY with a read through the plug-in bit for bit.)

#include <fstream>

#include <gtest/gtest.h>
#include <open3d/geometry/Image.h>
#include <open3d/geometry/PointCloud.h>
#include <open3d/io/ImageIO.h>
#include <open3d/io/PointCloudIO.h>

#include "PlyWriter.h"
#include "RunTool.h"
#include "SampleScan.h"
#include "ScratchDir.h"

namespace {

using namespace quarn::tool;

// A cloud of more vertices than the writer puts in one chunk: every coordinate and colour back,
// Open3D scaling colour bytes to [0, 1].
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
  ASSERT_EQ(cloud.points_.size(), static_cast<std::size_t>(n));
  ASSERT_EQ(cloud.colors_.size(), static_cast<std::size_t>(n));
  for (Eigen::Index i = 0; i < n; ++i) {
    ASSERT_EQ(cloud.points_[i], Eigen::Vector3d(points.col(i))) << i;
    ASSERT_EQ(cloud.colors_[i], colours.col(i).cast<double>() / 255.0) << i;
  }
}

// quarn import writes the valid points it reports, without the NaN columns, and a picture.
TEST(PlyReadBack, ImportWritesThePointsItReportsAndAPicture) {
  ScratchDir dir;
  writeSampleScan(dir.file("sample.scan"), SampleOptions{4, 48, 36, 3});
  const ToolRun run = runTool(QUARN_TOOL_PATH,
                              {"import", dir.file("sample.scan"), "-o", dir.file("cloud.ply"),
                               "--preview", dir.file("cloud.png")},
                              dir.path());
  ASSERT_EQ(run.exitCode, 0) << run.err;
  open3d::geometry::PointCloud cloud;
  ASSERT_TRUE(open3d::io::ReadPointCloud(dir.file("cloud.ply"), cloud));
  for (const Eigen::Vector3d& point : cloud.points_) ASSERT_TRUE(point.allFinite());
  EXPECT_NE(run.out.find("points  " + std::to_string(cloud.points_.size()) + " ("),
            std::string::npos)
      << run.out;
  // The picture is of something: many colours, not just the background.
  open3d::geometry::Image picture;
  ASSERT_TRUE(open3d::io::ReadImage(dir.file("cloud.png"), picture));
  ASSERT_EQ(picture.width_ * picture.height_ * picture.num_of_channels_, 960 * 720 * 3);
  int lit = 0;
  for (std::size_t at = 0; at < picture.data_.size(); at += 3)
    lit += picture.data_[at] > 60 || picture.data_[at + 1] > 60;
  EXPECT_GT(lit, picture.width_ * picture.height_ / 10);
}

}  // namespace
