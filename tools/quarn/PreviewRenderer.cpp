#include "PreviewRenderer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include <Eigen/Geometry>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace quarn::tool {

namespace {

using Vec3 = Eigen::Vector3d;

void appendToStream(void* context, void* data, int size) {
  static_cast<std::ostream*>(context)->write(static_cast<const char*>(data), size);
}

}  // namespace

Image renderPreview(const PointCloud& cloud, int width, int height) {
  Image image;
  image.width = width;
  image.height = height;
  image.rgb.resize(static_cast<std::size_t>(width) * height * 3);
  for (int row = 0; row < height; ++row) {  // a dark vertical gradient behind the cloud
    const double t = static_cast<double>(row) / std::max(1, height - 1);
    for (int column = 0; column < width; ++column) {
      std::uint8_t* pixel = &image.rgb[(static_cast<std::size_t>(row) * width + column) * 3];
      pixel[0] = static_cast<std::uint8_t>(28 + 22 * t);
      pixel[1] = static_cast<std::uint8_t>(32 + 24 * t);
      pixel[2] = static_cast<std::uint8_t>(40 + 28 * t);
    }
  }
  if (cloud.size() == 0) return image;

  const Vec3 low(cloud.low[0], cloud.low[1], cloud.low[2]);
  const Vec3 high(cloud.high[0], cloud.high[1], cloud.high[2]);
  const Vec3 centre = (low + high) / 2;
  const double radius = std::max((high - low).norm() / 2, 1e-3);
  // Looking down at about 35 degrees from the low x, low y side.
  const Vec3 back = Vec3(-1.0, -1.35, 1.1).normalized();
  const Vec3 eye = centre + 2.5 * radius * back;
  const Vec3 forward = -back;
  const Vec3 right = forward.cross(Vec3::UnitZ()).normalized();
  const Vec3 up = right.cross(forward);

  // Frame the cloud: fit the extent of its projection, with a margin, to the image. (The
  // bounding box's corners would leave the unseen parts of a room empty.)
  double minX = HUGE_VAL, maxX = -HUGE_VAL, minY = HUGE_VAL, maxY = -HUGE_VAL;
  for (const auto& point : cloud.points) {
    const Vec3 v = Vec3(point[0], point[1], point[2]) - eye;
    const double depth = v.dot(forward);
    minX = std::min(minX, v.dot(right) / depth);
    maxX = std::max(maxX, v.dot(right) / depth);
    minY = std::min(minY, v.dot(up) / depth);
    maxY = std::max(maxY, v.dot(up) / depth);
  }
  const double scale =
      0.94 * std::min(width / std::max(maxX - minX, 1e-9), height / std::max(maxY - minY, 1e-9));
  const double offsetX = width / 2.0 - scale * (minX + maxX) / 2;
  const double offsetY = height / 2.0 + scale * (minY + maxY) / 2;

  // Splats about as wide as the gaps between the points of a surface evenly covered.
  const double splatWorld = 2.0 * radius / std::sqrt(static_cast<double>(cloud.size()));
  const double nearDepth = 1.5 * radius, farDepth = 3.5 * radius;
  std::vector<float> depthBuffer(static_cast<std::size_t>(width) * height,
                                 std::numeric_limits<float>::infinity());

  for (std::size_t i = 0; i < cloud.size(); ++i) {
    const Vec3 v = Vec3(cloud.points[i][0], cloud.points[i][1], cloud.points[i][2]) - eye;
    const double depth = v.dot(forward);
    if (!(depth > 1e-6)) continue;
    const double px = offsetX + scale * v.dot(right) / depth;
    const double py = offsetY - scale * v.dot(up) / depth;
    const int size = std::clamp(static_cast<int>(std::lround(splatWorld * scale / depth)), 1, 6);
    const int x0 = static_cast<int>(std::floor(px - size / 2.0 + 0.5));
    const int y0 = static_cast<int>(std::floor(py - size / 2.0 + 0.5));
    // Farther points darker, for a sense of depth.
    const double fade =
        1.0 - 0.35 * std::clamp((depth - nearDepth) / (farDepth - nearDepth), 0.0, 1.0);
    for (int y = std::max(y0, 0); y < std::min(y0 + size, height); ++y) {
      for (int x = std::max(x0, 0); x < std::min(x0 + size, width); ++x) {
        const std::size_t at = static_cast<std::size_t>(y) * width + x;
        if (depth >= depthBuffer[at]) continue;
        depthBuffer[at] = static_cast<float>(depth);
        for (int c = 0; c < 3; ++c)
          image.rgb[at * 3 + c] =
              static_cast<std::uint8_t>(std::lround(cloud.colours[i][c] * fade));
      }
    }
  }
  return image;
}

void writePng(std::ostream& out, const Image& image) {
  if (stbi_write_png_to_func(appendToStream, &out, image.width, image.height, 3, image.rgb.data(),
                             image.width * 3) == 0) {
    throw std::runtime_error("cannot encode the preview as PNG");
  }
}

}  // namespace quarn::tool
