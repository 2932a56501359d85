// Open3D's headers are slow to compile, so this file is the only one that includes them.

#include "Open3DRead.h"

#include <stdexcept>

#include <open3d/geometry/PointCloud.h>
#include <open3d/io/PointCloudIO.h>

#include "QuietStdout.h"
#include "Seconds.h"

namespace quarn::bench {

double timeOpen3DRead(const std::string& path, std::size_t& points) {
  open3d::geometry::PointCloud cloud;
  bool read = false;
  double seconds = 0;
  {
    QuietStdout quiet;  // Open3D logs to stdout
    const Clock::time_point start = Clock::now();
    read = open3d::io::ReadPointCloud(path, cloud);
    seconds = secondsSince(start);
  }
  if (!read) throw std::runtime_error("Open3D cannot read " + path);
  if (cloud.colors_.size() != cloud.points_.size()) {
    throw std::runtime_error("Open3D read " + path + " without a colour for every point");
  }
  points = cloud.points_.size();
  return seconds;
}

}  // namespace quarn::bench
