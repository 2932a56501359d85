#include "SeedScans.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "ScanWriter.h"
#include "TestPoses.h"

namespace quarn::hostile {
namespace {

using scan::kHasColour;
using scan::kHasPoint;
using scan::PoseArray;
using scan::ScanFrame;
using scan::ScanPixel;

// Pixel i of the frame cycles through every flag combination, unused bits included.
ScanFrame frame(std::int32_t sizeX, std::int32_t sizeY, const PoseArray& framePose, float base) {
  static const std::uint8_t kFlags[] = {kHasPoint | kHasColour, kHasPoint, 0, kHasColour, 0xff};
  ScanFrame f{sizeX, sizeY, framePose, {}};
  for (std::int32_t i = 0; i < sizeX * sizeY; ++i) {
    const float v = base + 0.25f * static_cast<float>(i);
    const auto c = static_cast<std::uint8_t>(17 * i);
    f.pixels.push_back({v, -v, 2.0f - v, kFlags[i % 5], {c, static_cast<std::uint8_t>(~c), 7}});
  }
  return f;
}

}  // namespace

std::vector<std::string> writeSeedScans(const std::string& directory) {
  std::vector<std::string> paths;
  const auto write = [&](const PoseArray& scanPose, const std::vector<ScanFrame>& frames) {
    paths.push_back(directory + "/seed-" + std::to_string(paths.size()) + ".qscan");
    scan::writeScan(paths.back(), scanPose, frames);
  };

  write(rotationAboutZ(0, 0, 0, 0), {});
  write(rotationAboutZ(0.5, 1, 2, 3), {frame(1, 1, rotationAboutZ(0, 0, 0, 0), 1.0f)});
  write(rotationAboutZ(0.3, 0.1, -2.0, 0.7),
        {frame(2, 3, rotationAboutZ(1.1, 1, 2, 3), 0.5f),
         frame(0, 4, rotationAboutZ(0, 0, 0, 0), 0.0f), frame(0, 0, rotationAboutZ(2, 0, 0, 0), 0),
         frame(3, 2, rotationAboutZ(-2.5, 0.25, 0, -1), -4.0f)});

  // Values that stress the arithmetic: signed zeros, subnormals, the largest floats,
  // infinities and NaN in pixels; a pose whose bottom row and value 16 are not 0 0 0 1.
  ScanFrame special = frame(2, 4, rotationAboutZ(-0.75, -1e30, 1e-30, 5), 0.0f);
  const float values[] = {-0.0f,
                          std::numeric_limits<float>::denorm_min(),
                          std::numeric_limits<float>::max(),
                          -std::numeric_limits<float>::infinity(),
                          std::numeric_limits<float>::quiet_NaN(),
                          -std::numeric_limits<float>::max(),
                          1e-38f,
                          3.0f};
  for (std::size_t i = 0; i < special.pixels.size(); ++i) {
    special.pixels[i].x = values[i];
    special.pixels[i].z = values[7 - i];
    special.pixels[i].flags = kHasPoint | kHasColour;
  }
  PoseArray odd = rotationAboutZ(1.0, 4, 5, 6);
  odd[3] = 0.5;
  odd[7] = -0.0;
  odd[11] = std::numeric_limits<double>::infinity();
  odd[15] = 2.0;
  odd[16] = std::numeric_limits<double>::quiet_NaN();
  write(odd, {special, frame(1, 5, rotationAboutZ(3.0, 0, 0, 1e10), 1e6f)});
  return paths;
}

}  // namespace quarn::hostile
