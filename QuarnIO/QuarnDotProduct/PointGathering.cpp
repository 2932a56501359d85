#include "PointGathering.h"

#include <algorithm>
#include <limits>

#include "FrameGathering.h"
#include "ScanSession.h"

namespace {

// The host's columns, filled front to back: both blocks are walked once.
struct ColumnSink {
  double* point;
  double* const pointsEnd;
  unsigned char* colour;

  bool room() const { return point != pointsEnd; }  // sizes grew since the counting pass
  void add(float x, float y, float z, unsigned char c0, unsigned char c1, unsigned char c2, float,
           float, float, int, int) {
    point[0] = x;
    point[1] = y;
    point[2] = z;
    colour[0] = c0;
    colour[1] = c1;
    colour[2] = c2;
    point += 3;
    colour += 3;
  }
};

}  // namespace

bool gatherPoints(DotProductAPI& sdk, int frameCount, const TooN::SE3<double>& globalTransform,
                  GatheredCloud& cloud) {
  double* const points = cloud.points.data();
  ColumnSink sink{points, points + cloud.points.size(), cloud.colours.data()};
  const FlatRigidTransform globalToOutput(globalTransform.inverse());

  for (int f = 0; f < frameCount; ++f) {
    FrameSizeAndPose frame;
    readFrameSizeAndPose(sdk, f, frame);
    const std::optional<FlatRigidTransform> frameToGlobal = frameToGlobalTransform(frame.pose);
    if (!frameToGlobal) return false;
    if (!gatherFramePixels(sdk, frame.sizeX, frame.sizeY, *frameToGlobal, globalToOutput, sink))
      return false;
  }

  std::fill(sink.point, sink.pointsEnd, std::numeric_limits<double>::quiet_NaN());
  std::fill(sink.colour, cloud.colours.data() + cloud.colours.size(),
            static_cast<unsigned char>(0));
  return true;
}
