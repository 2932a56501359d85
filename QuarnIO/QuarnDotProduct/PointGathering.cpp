#include "PointGathering.h"

#include <algorithm>
#include <limits>

#include "pose/FlatRigidTransform.h"
#include "pose/PoseConversion.h"

namespace {

// Beyond this many pixels the 3 x N matrix of doubles cannot be addressed.
constexpr std::int64_t kMaxPixels =
    std::numeric_limits<std::int64_t>::max() / static_cast<std::int64_t>(3 * sizeof(double));

double roundToFloat(double value) { return static_cast<float>(value); }

}  // namespace

bool countPixels(DotProductAPI& sdk, int frameCount, std::int64_t& pixelCount) {
  pixelCount = 0;
  for (int f = 0; f < frameCount; ++f) {
    sdk.openFrame(f);
    const std::int64_t sizeX = std::max(sdk.getFrameSizeX(), 0);
    const std::int64_t sizeY = std::max(sdk.getFrameSizeY(), 0);
    pixelCount += sizeX * sizeY;  // below 2^62, so the sum cannot overflow before the check
    if (pixelCount > kMaxPixels) return false;
  }
  return true;
}

bool gatherPoints(DotProductAPI& sdk, int frameCount, const TooN::SE3<double>& globalTransform,
                  GatheredCloud& cloud) {
  double* const points = cloud.points.data();
  double* const pointsEnd = points + cloud.points.size();
  unsigned char* const colours = cloud.colours.data();
  const FlatRigidTransform globalToOutput(globalTransform.inverse());
  // The next column's point and colour: the stores walk both blocks once, front to back.
  double* point = points;
  unsigned char* colour = colours;

  for (int f = 0; f < frameCount; ++f) {
    sdk.openFrame(f);
    const int sizeX = sdk.getFrameSizeX();
    const int sizeY = sdk.getFrameSizeY();
    PoseArray framePose{};
    sdk.getFramePositionAndOrientation(framePose.data());
    const std::optional<TooN::SE3<double>> frameTransform = poseArrayToSE3(framePose);
    if (!frameTransform) return false;
    const FlatRigidTransform frameToGlobal(frameTransform->inverse());
    // A frame of 2^31 - 1 empty columns has no pixels, but walking its columns kept the host
    // busy for a second, and a scan file can hold thousands of such frames.
    if (sizeY <= 0) continue;

    // Per pixel: two SDK calls, two transforms with a rounding to single precision after
    // each, the stores. Nothing else.
    for (int x = 0; x < sizeX; ++x) {
      for (int y = 0; y < sizeY; ++y) {
        float px, py, pz;
        if (sdk.getCartesianAtPixel(x, y, px, py, pz) != 0) continue;
        unsigned char c0, c1, c2;
        if (sdk.getColourAtPixel(x, y, c0, c1, c2) != 0) continue;
        if (point == pointsEnd) return false;  // sizes grew since the counting pass

        double q[3], r[3];
        frameToGlobal.apply(px, py, pz, q);
        globalToOutput.apply(roundToFloat(q[0]), roundToFloat(q[1]), roundToFloat(q[2]), r);
        point[0] = roundToFloat(r[0]);
        point[1] = roundToFloat(r[1]);
        point[2] = roundToFloat(r[2]);
        colour[0] = c0;
        colour[1] = c1;
        colour[2] = c2;
        point += 3;
        colour += 3;
      }
    }
  }

  std::fill(point, pointsEnd, std::numeric_limits<double>::quiet_NaN());
  std::fill(colour, colours + cloud.colours.size(), static_cast<unsigned char>(0));
  return true;
}
