#include "ScanInputCheck.h"

#include <limits>

#include "TestScans.h"

namespace quarn::hostile {

std::vector<std::string> writeSeedScans(const std::string& directory) {
  using test::cyclingFrame;
  using test::rotationAboutZ;
  std::vector<std::string> paths;
  const auto write = [&](const scan::PoseArray& scanPose,
                         const std::vector<scan::ScanFrame>& frames) {
    paths.push_back(directory + "/seed-" + std::to_string(paths.size()) + ".qscan");
    test::writeScan(paths.back(), scanPose, frames);
  };

  write(rotationAboutZ(0), {});
  write(rotationAboutZ(0.5, 1, 2, 3), {cyclingFrame(1, 1, rotationAboutZ(0), 1.0f)});
  write(rotationAboutZ(0.3, 0.1, -2.0, 0.7),
        {cyclingFrame(2, 3, rotationAboutZ(1.1, 1, 2, 3), 0.5f),
         cyclingFrame(0, 4, rotationAboutZ(0), 0), cyclingFrame(0, 0, rotationAboutZ(2), 0),
         cyclingFrame(3, 2, rotationAboutZ(-2.5, 0.25, 0, -1), -4.0f)});

  // Values that stress the arithmetic: signed zeros, subnormals, the largest floats,
  // infinities and NaN in pixels; a pose whose bottom row and value 16 are not 0 0 0 1.
  scan::ScanFrame special = cyclingFrame(2, 4, rotationAboutZ(-0.75, -1e30, 1e-30, 5), 0.0f);
  using F = std::numeric_limits<float>;
  const float values[] = {-0.0f,          F::denorm_min(), F::max(), -F::infinity(),
                          F::quiet_NaN(), -F::max(),       1e-38f,   3.0f};
  for (std::size_t i = 0; i < special.pixels.size(); ++i) {
    special.pixels[i].x = values[i];
    special.pixels[i].z = values[7 - i];
    special.pixels[i].flags = scan::kHasPoint | scan::kHasColour;
  }
  scan::PoseArray odd = rotationAboutZ(1.0, 4, 5, 6);
  odd[3] = 0.5;
  odd[7] = -0.0;
  odd[11] = std::numeric_limits<double>::infinity();
  odd[15] = 2.0;
  odd[16] = std::numeric_limits<double>::quiet_NaN();
  write(odd, {special, cyclingFrame(1, 5, rotationAboutZ(3.0, 0, 0, 1e10), 1e6f)});
  return paths;
}

}  // namespace quarn::hostile
