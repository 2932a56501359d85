#include "PreviewRenderer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include <Eigen/Geometry>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace quarn {

namespace {

void appendToStream(void* context, void* data, int size) {
  static_cast<std::ostream*>(context)->write(static_cast<const char*>(data), size);
}

}  // namespace

PreviewRenderer::PreviewRenderer(int width, int height, const PointBounds& bounds,
                                 std::uint64_t count)
    : count_(count), minX_(HUGE_VAL), maxX_(-HUGE_VAL), minY_(HUGE_VAL), maxY_(-HUGE_VAL) {
  image_.width = width;
  image_.height = height;
  image_.rgb.resize(static_cast<std::size_t>(width) * height * 3);
  for (int row = 0; row < height; ++row) {  // a dark vertical gradient behind the cloud
    const double t = static_cast<double>(row) / std::max(1, height - 1);
    for (int column = 0; column < width; ++column) {
      std::uint8_t* pixel = &image_.rgb[(static_cast<std::size_t>(row) * width + column) * 3];
      pixel[0] = static_cast<std::uint8_t>(28 + 22 * t);
      pixel[1] = static_cast<std::uint8_t>(32 + 24 * t);
      pixel[2] = static_cast<std::uint8_t>(40 + 28 * t);
    }
  }

  const Vec3 low(bounds.low[0], bounds.low[1], bounds.low[2]);
  const Vec3 high(bounds.high[0], bounds.high[1], bounds.high[2]);
  const Vec3 centre = (low + high) / 2;
  radius_ = std::max((high - low).norm() / 2, 1e-3);
  // Looking down at about 35 degrees from the low x, low y side.
  const Vec3 back = Vec3(-1.0, -1.35, 1.1).normalized();
  eye_ = centre + 2.5 * radius_ * back;
  forward_ = -back;
  right_ = forward_.cross(Vec3::UnitZ()).normalized();
  up_ = right_.cross(forward_);
}

void PreviewRenderer::fit(const float* xyz, std::size_t count) {
  // Frame the cloud: fit the extent of its projection, with a margin, to the image. (The
  // bounding box's corners would leave the unseen parts of a room empty.)
  for (std::size_t i = 0; i < count; ++i) {
    const Vec3 v = Vec3(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]) - eye_;
    const double depth = v.dot(forward_);
    minX_ = std::min(minX_, v.dot(right_) / depth);
    maxX_ = std::max(maxX_, v.dot(right_) / depth);
    minY_ = std::min(minY_, v.dot(up_) / depth);
    maxY_ = std::max(maxY_, v.dot(up_) / depth);
  }
}

void PreviewRenderer::fitPicture() {
  const int width = image_.width, height = image_.height;
  scale_ = 0.94 *
           std::min(width / std::max(maxX_ - minX_, 1e-9), height / std::max(maxY_ - minY_, 1e-9));
  offsetX_ = width / 2.0 - scale_ * (minX_ + maxX_) / 2;
  offsetY_ = height / 2.0 + scale_ * (minY_ + maxY_) / 2;
  // Splats about as wide as the gaps between the points of a surface evenly covered.
  splatWorld_ = 2.0 * radius_ / std::sqrt(static_cast<double>(count_));
  nearDepth_ = 1.5 * radius_;
  farDepth_ = 3.5 * radius_;
  depthBuffer_.assign(static_cast<std::size_t>(width) * height,
                      std::numeric_limits<float>::infinity());
  framed_ = true;
}

void PreviewRenderer::draw(const float* xyz, const std::uint8_t* rgb, std::size_t count) {
  if (count > 0 && !framed_) fitPicture();
  const int width = image_.width, height = image_.height;
  for (std::size_t i = 0; i < count; ++i) {
    const Vec3 v = Vec3(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]) - eye_;
    const double depth = v.dot(forward_);
    if (!(depth > 1e-6)) continue;
    const double px = offsetX_ + scale_ * v.dot(right_) / depth;
    const double py = offsetY_ - scale_ * v.dot(up_) / depth;
    const int size = std::clamp(static_cast<int>(std::lround(splatWorld_ * scale_ / depth)), 1, 6);
    const int x0 = static_cast<int>(std::floor(px - size / 2.0 + 0.5));
    const int y0 = static_cast<int>(std::floor(py - size / 2.0 + 0.5));
    // Farther points darker, for a sense of depth.
    const double fade =
        1.0 - 0.35 * std::clamp((depth - nearDepth_) / (farDepth_ - nearDepth_), 0.0, 1.0);
    for (int y = std::max(y0, 0); y < std::min(y0 + size, height); ++y) {
      for (int x = std::max(x0, 0); x < std::min(x0 + size, width); ++x) {
        const std::size_t at = static_cast<std::size_t>(y) * width + x;
        if (depth >= depthBuffer_[at]) continue;
        depthBuffer_[at] = static_cast<float>(depth);
        for (int c = 0; c < 3; ++c)
          image_.rgb[at * 3 + c] = static_cast<std::uint8_t>(std::lround(rgb[3 * i + c] * fade));
      }
    }
  }
}

void writePng(std::ostream& out, const Image& image) {
  if (stbi_write_png_to_func(appendToStream, &out, image.width, image.height, 3, image.rgb.data(),
                             image.width * 3) == 0) {
    throw std::runtime_error("cannot encode the preview as PNG");
  }
}

}  // namespace quarn
