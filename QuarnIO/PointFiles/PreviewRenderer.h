#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

#include <Eigen/Core>

#include "PointBounds.h"

namespace quarn {

struct Image {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;  // row by row, top row first
};

// The preview picture: points as square splats with a depth buffer, seen obliquely from above
// (z up) from a distance set by their bounding box, the points filling the picture. In stages,
// so that the points can come in pieces, a whole cloud or frame by frame: the camera from the
// bounds and the count, then every point once to fit the picture to them, then every point
// again, in the same order, to draw it.
class PreviewRenderer {
 public:
  PreviewRenderer(int width, int height, const PointBounds& bounds, std::uint64_t count);

  // The first pass: `count` points, x, y, z each.
  void fit(const float* xyz, std::size_t count);
  // The second pass, after the whole first one: the points again, with their colours.
  void draw(const float* xyz, const std::uint8_t* rgb, std::size_t count);
  // The picture: the background alone before the second pass.
  const Image& image() const { return image_; }

 private:
  using Vec3 = Eigen::Vector3d;

  void fitPicture();

  Image image_;
  std::uint64_t count_;
  Vec3 eye_, forward_, right_, up_;
  double radius_ = 0;
  double minX_, maxX_, minY_, maxY_;  // of the projection, from the first pass
  bool framed_ = false;
  double scale_ = 0, offsetX_ = 0, offsetY_ = 0, splatWorld_ = 0, nearDepth_ = 0, farDepth_ = 0;
  std::vector<float> depthBuffer_;
};

// Writes the image as PNG.
void writePng(std::ostream& out, const Image& image);

}  // namespace quarn
