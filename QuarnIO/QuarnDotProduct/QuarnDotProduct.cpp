// The plug-in's two exports and the sequence of a read: open the scan (retrying once under
// the file's other name), report its frames, convert and print the global pose, count,
// gather, and only then hand the results to the host's matrices.

#include "QuarnDotProduct.h"

#include <iostream>

#include "PointGathering.h"
#include "ScanSession.h"
#include "platform/MemoryAdmission.h"
#include "platform/StoragePrefault.h"
#include "pose/PoseConversion.h"
#include "pose/TransformPrint.h"

namespace {

bool readScan(const char* path, int scanIndex, Eigen::MatrixXd& points, ColourMatrix& colours,
              Eigen::MatrixXd& transform) {
  ScannerObject scanner;
  DotProductAPI& sdk = scanner.api();
  if (openScan(sdk, path, &std::cout) != 0) return false;

  const int frameCount = sdk.getFrameCount();
  std::cout << frameCount << " frames found." << std::endl;
  if (scanIndex >= 1) return false;

  PoseArray globalPose{};
  sdk.getPositionAndOrientation(globalPose.data());
  const std::optional<TooN::SE3<double>> globalTransform = poseArrayToSE3(globalPose);
  if (!globalTransform) return false;
  printGlobalTransform(std::cout, *globalTransform);

  std::int64_t pixelCount;
  if (!countPixels(sdk, frameCount, pixelCount)) return false;
  // Overcommit would hand out storage the process cannot have and kill the host when the
  // pages are touched: refuse what does not fit now. countPixels keeps pixelCount below
  // 2^63 / 24, so its 27 bytes each stay below 2^64.
  if (!memoryAdmits(static_cast<std::uint64_t>(pixelCount) * kOutputBytesPerPixel)) return false;
  GatheredCloud cloud;
  cloud.colours.resize(3, pixelCount);
  cloud.points.resize(3, pixelCount);
  Eigen::MatrixXd newTransform(4, 4);  // for a transform matrix without room for 16

  {
    const StoragePrefault prefault({{cloud.points.data(), cloud.points.size() * sizeof(double)},
                                    {cloud.colours.data(), std::size_t(cloud.colours.size())}});
    if (!gatherPoints(sdk, frameCount, *globalTransform, cloud)) return false;
  }

  // The read has succeeded: hand over. Nothing from here on can fail.
  colours.swap(cloud.colours);
  points.swap(cloud.points);
  if (transform.size() == 16) {
    transform.resize(4, 4);  // same element count: keeps its storage
  } else {
    transform.swap(newTransform);
  }
  writeTransformMatrix(globalPose, transform);
  return true;
}

}  // namespace

extern "C" {

QUARN_DOTPRODUCT_API bool readDotProduct(const char* path, int scanIndex, Eigen::MatrixXd& points,
                                         ColourMatrix& colours, void* /*reserved5*/,
                                         void* /*reserved6*/, Eigen::MatrixXd& transform) {
  try {
    return readScan(path, scanIndex, points, colours, transform);
  } catch (...) {
    // Out of memory or anything the SDK or the stream threw: the host's matrices are
    // untouched, so the read just fails.
    return false;
  }
}

QUARN_DOTPRODUCT_API int readDotProductNumberOfScans(const char* /*path*/) { return 1; }
}
