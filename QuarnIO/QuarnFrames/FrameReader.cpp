#include "FrameReader.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "FrameGathering.h"
#include "ScanProblem.h"
#include "platform/ShortPath.h"
#include "scanner/ScannerObject.h"

namespace quarn {

namespace {

// A frame's points and colours, appended to its vectors. They start with the size the last
// frame left and grow, so a frame takes memory for the points it has, not for its pixels.
class FrameSink {
 public:
  FrameSink(Frame& frame, std::uint64_t pixels) : frame_(frame), pixels_(pixels) {
    const std::size_t size = std::min(frame.points.size(), frame.colours.size()) / 3 * 3;
    point_ = frame.points.data();
    end_ = point_ + size;
    colour_ = frame.colours.data();
  }

  bool room() {
    if (point_ == end_) grow();
    return true;
  }

  void add(float x, float y, float z, unsigned char c0, unsigned char c1, unsigned char c2) {
    point_[0] = x;
    point_[1] = y;
    point_[2] = z;
    colour_[0] = c0;
    colour_[1] = c1;
    colour_[2] = c2;
    point_ += 3;
    colour_ += 3;
  }

  // Cuts the vectors to the points there are.
  void finish() {
    const std::size_t used = static_cast<std::size_t>(point_ - frame_.points.data());
    frame_.points.resize(used);
    frame_.colours.resize(used);
  }

 private:
  static constexpr std::uint64_t kFirstPoints = 4096;

  // Twice the points so far, never more than the frame's pixels unless the SDK hands out more.
  void grow() {
    const std::size_t used = static_cast<std::size_t>(point_ - frame_.points.data());
    const std::uint64_t points = used / 3;
    const std::uint64_t room =
        std::max(std::min(std::max(2 * points, kFirstPoints), pixels_), points + 1);
    frame_.points.resize(static_cast<std::size_t>(3 * room));
    frame_.colours.resize(static_cast<std::size_t>(3 * room));
    point_ = frame_.points.data() + used;
    end_ = frame_.points.data() + frame_.points.size();
    colour_ = frame_.colours.data() + used;
  }

  Frame& frame_;
  const std::uint64_t pixels_;
  float* point_;
  float* end_;
  std::uint8_t* colour_;
};

PoseArray scanPose(DotProductAPI& sdk) {
  PoseArray pose{};
  sdk.getPositionAndOrientation(pose.data());
  return pose;
}

TooN::SE3<double> rigidTransform(const PoseArray& pose, const std::string& whose) {
  const std::optional<TooN::SE3<double>> transform = poseArrayToSE3(pose);
  if (!transform) throw FrameError(whose + " is not a rotation");
  return *transform;
}

std::string framePoseName(int f) { return "the pose of frame " + std::to_string(f); }

// Frame f made current, its sizes and pose read, as the plug-in reads them.
void readHeader(DotProductAPI& sdk, int frameCount, int f, FrameHeader& header) {
  if (f < 0 || f >= frameCount) {
    throw FrameError("no frame " + std::to_string(f) + ": the scan has " +
                     std::to_string(frameCount));
  }
  readFrameHeader(sdk, f, header);
}

// The scan at `path` opened as the plug-in opens it, or why not.
std::unique_ptr<ScannerObject> openScan(const std::string& path) {
  auto scanner = std::make_unique<ScannerObject>();
  DotProductAPI& sdk = scanner->api();
  const int status = sdk.open(path.c_str(), nullptr);
  if (status == 0) return scanner;
  std::string alternative;
  if (alternativeScanPath(path.c_str(), alternative) && sdk.open(alternative.c_str(), nullptr) == 0)
    return scanner;
  throw FrameError(describeOpenStatus(path, status));
}

}  // namespace

FrameReader::FrameReader(DotProductAPI& sdk)
    : sdk_(sdk),
      frameCount_(std::max(sdk.getFrameCount(), 0)),
      globalPose_(scanPose(sdk)),
      globalTransform_(rigidTransform(globalPose_, "the scan's pose")),
      globalToOutput_(globalTransform_.inverse()) {}

FrameReader::FrameReader(const std::string& path) : FrameReader(openScan(path)) {}

FrameReader::FrameReader(std::unique_ptr<ScannerObject> scanner) : FrameReader(scanner->api()) {
  scanner_ = std::move(scanner);
}

FrameReader::~FrameReader() = default;

std::uint64_t FrameReader::pixelCount() {
  std::uint64_t pixels = 0;
  for (int f = 0; f < frameCount_; ++f) {
    sdk_.openFrame(f);
    pixels += static_cast<std::uint64_t>(std::max(sdk_.getFrameSizeX(), 0)) *
              static_cast<std::uint64_t>(std::max(sdk_.getFrameSizeY(), 0));
  }
  return pixels;
}

void FrameReader::read(int f, Frame& frame) {
  FrameHeader header;
  readHeader(sdk_, frameCount_, f, header);
  const std::optional<FlatRigidTransform> frameToGlobal = frameToGlobalTransform(header.pose);
  if (!frameToGlobal) throw FrameError(framePoseName(f) + " is not a rotation");
  frame.index = f;
  frame.sizeX = header.sizeX;
  frame.sizeY = header.sizeY;
  frame.pose = header.pose;

  const std::uint64_t pixels = static_cast<std::uint64_t>(std::max(header.sizeX, 0)) *
                               static_cast<std::uint64_t>(std::max(header.sizeY, 0));
  FrameSink sink(frame, pixels);
  gatherFramePixels(sdk_, header.sizeX, header.sizeY, *frameToGlobal, globalToOutput_, sink);
  sink.finish();
}

namespace {

// Coordinates and translations within this, rotation entries within 2: a point's coordinates
// stay below 7e30 through both transforms, so no float rounding overflows into an infinity
// and no 0 * infinity makes a NaN.
constexpr double kHarmless = 1e30;

bool harmless(double value, double bound = kHarmless) { return std::fabs(value) <= bound; }

bool harmless(const TooN::SE3<double>& transform) {
  for (int i = 0; i < 3; ++i) {
    if (!harmless(transform.get_translation()[i])) return false;
    for (int j = 0; j < 3; ++j)
      if (!harmless(transform.get_rotation().get_matrix()(i, j), 2)) return false;
  }
  return true;
}

}  // namespace

std::uint64_t FrameReader::countPoints(int f) {
  FrameHeader header;
  readHeader(sdk_, frameCount_, f, header);
  const TooN::SE3<double> frameTransform = rigidTransform(header.pose, framePoseName(f));
  std::uint64_t count = 0;
  bool exact = harmless(frameTransform.inverse()) && harmless(globalTransform_.inverse());
  for (int x = 0; x < header.sizeX && header.sizeY > 0 && exact; ++x) {
    for (int y = 0; y < header.sizeY; ++y) {  // without branches on what the pixels hold
      float px = 0, py = 0, pz = 0;
      unsigned char c0, c1, c2;
      const bool point = sdk_.getCartesianAtPixel(x, y, px, py, pz) == 0;
      const bool both = point & (sdk_.getColourAtPixel(x, y, c0, c1, c2) == 0);
      exact &= !both || (harmless(px) & harmless(py) & harmless(pz));
      count += both;
    }
  }
  if (exact) return count;
  Frame frame;  // the points themselves tell
  read(f, frame);
  count = 0;
  for (std::size_t i = 0; i < frame.points.size(); i += 3) {
    count += !(std::isnan(frame.points[i]) || std::isnan(frame.points[i + 1]) ||
               std::isnan(frame.points[i + 2]));
  }
  return count;
}

Eigen::Matrix4d FrameReader::framePose(int f) {
  FrameHeader header;
  readHeader(sdk_, frameCount_, f, header);
  return poseMatrix(header.pose, f);
}

Eigen::Matrix4d FrameReader::framePose(const Frame& frame) const {
  return poseMatrix(frame.pose, frame.index);
}

Eigen::Matrix4d FrameReader::poseMatrix(const PoseArray& pose, int f) const {
  const TooN::SE3<double> frameToOutput =
      globalTransform_.inverse() * rigidTransform(pose, framePoseName(f)).inverse();
  const TooN::Matrix<3>& rotation = frameToOutput.get_rotation().get_matrix();
  Eigen::Matrix4d matrix = Eigen::Matrix4d::Identity();
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) matrix(i, j) = rotation(i, j);
    matrix(i, 3) = frameToOutput.get_translation()[i];
  }
  return matrix;
}

}  // namespace quarn
