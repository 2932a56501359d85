// A cloud larger than the PLY writer's chunk, read back by Open3D (the reader users open it
// with; the Python tests compare quarn import's PLY with a read through the plug-in bit for bit).
// Open3D's headers are slow to compile, so this file is the only one that includes them.

#include <fstream>

#include <gtest/gtest.h>
#include <open3d/geometry/PointCloud.h>
#include <open3d/io/PointCloudIO.h>

#include "PlyWriter.h"
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

}  // namespace
