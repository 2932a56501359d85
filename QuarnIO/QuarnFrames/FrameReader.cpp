#include "FrameReader.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "FinitePoints.h"
#include "FrameGathering.h"
#include "ScanSession.h"

namespace quarn {

namespace {

// A frame's points and colours (and with kMeasured, each point as the SDK gave it and its
// pixel; with `keepUncoloured`, the points without a colour too, flagged), appended to its
// vectors. They start with the size the last frame left and grow, so a frame takes memory for
// the points it has, not for its pixels.
template <bool kMeasured>
class FrameSink {
 public:
  FrameSink(Frame& frame, std::uint64_t pixels, bool keepUncoloured)
      : frame_(frame), pixels_(pixels), keepUncoloured_(keepUncoloured) {
    frame.uncoloured = 0;
    if (!keepUncoloured) frame.colourless.clear();
    std::size_t size = std::min(frame.points.size(), frame.colours.size()) / 3;
    if (kMeasured) size = std::min({size, frame.measured.size() / 3, frame.pixels.size() / 2});
    if (keepUncoloured) size = std::min(size, frame.colourless.size());
    at(0);
    end_ = point_ + 3 * size;
  }

  bool room() {
    if (point_ == end_) grow();
    return true;
  }

  bool uncoloured() {
    ++frame_.uncoloured;
    nextUncoloured_ = keepUncoloured_;
    return keepUncoloured_;
  }

  void add(float x, float y, float z, unsigned char c0, unsigned char c1, unsigned char c2,
           float px, float py, float pz, int pixelX, int pixelY) {
    point_[0] = x;
    point_[1] = y;
    point_[2] = z;
    colour_[0] = c0;
    colour_[1] = c1;
    colour_[2] = c2;
    point_ += 3;
    colour_ += 3;
    if (keepUncoloured_) {
      *colourless_++ = nextUncoloured_;
      nextUncoloured_ = false;
    }
    if (!kMeasured) return;
    measured_[0] = px;
    measured_[1] = py;
    measured_[2] = pz;
    pixel_[0] = pixelX;
    pixel_[1] = pixelY;
    measured_ += 3;
    pixel_ += 2;
  }

  // Cuts the vectors to the points there are.
  void finish() { resize(static_cast<std::size_t>(point_ - frame_.points.data()) / 3); }

 private:
  static constexpr std::uint64_t kFirstPoints = 4096;

  void at(std::size_t points) {
    point_ = frame_.points.data() + 3 * points;
    colour_ = frame_.colours.data() + 3 * points;
    colourless_ = frame_.colourless.data() + (keepUncoloured_ ? points : 0);
    measured_ = frame_.measured.data() + (kMeasured ? 3 * points : 0);
    pixel_ = frame_.pixels.data() + (kMeasured ? 2 * points : 0);
  }

  void resize(std::size_t points) {
    frame_.points.resize(3 * points);
    frame_.colours.resize(3 * points);
    if (keepUncoloured_) frame_.colourless.resize(points);
    if (!kMeasured) return;
    frame_.measured.resize(3 * points);
    frame_.pixels.resize(2 * points);
  }

  // Twice the points so far, never more than the frame's pixels unless the SDK hands out more.
  void grow() {
    const std::size_t points = static_cast<std::size_t>(point_ - frame_.points.data()) / 3;
    const std::uint64_t room =
        std::max(std::min(std::max(std::uint64_t{2} * points, kFirstPoints), pixels_),
                 std::uint64_t{points} + 1);
    resize(static_cast<std::size_t>(room));
    at(points);
    end_ = frame_.points.data() + frame_.points.size();
  }

  Frame& frame_;
  const std::uint64_t pixels_;
  const bool keepUncoloured_;
  bool nextUncoloured_ = false;
  float* point_;
  float* end_;
  std::uint8_t* colour_;
  std::uint8_t* colourless_;
  float* measured_;
  std::int32_t* pixel_;
};

TooN::SE3<double> rigidTransform(const PoseArray& pose, const std::string& whose) {
  const std::optional<TooN::SE3<double>> transform = poseArrayToSE3(pose);
  if (!transform) throw ScanError(whose + " is not a rotation");
  return *transform;
}

std::string framePoseName(int f) { return "the pose of frame " + std::to_string(f); }

std::unique_ptr<ScanSession> openSession(const std::string& path) {
  auto session = std::make_unique<ScanSession>(path);
  if (session->status() != 0) throw ScanError(describeOpenStatus(path, session->status()));
  return session;
}

}  // namespace

FrameReader::FrameReader(const std::string& path)
    : session_(openSession(path)),
      frameCount_(session_->frameCount()),
      globalPose_(session_->scanPose()),
      globalTransform_(rigidTransform(globalPose_, "the scan's pose")),
      globalToOutput_(globalTransform_.inverse()) {}

FrameReader::~FrameReader() = default;

std::uint64_t FrameReader::pixelCount() {
  const std::optional<std::int64_t> pixels = session_->pixelCount();
  if (!pixels) throw ScanError("more pixels than a read can hold");
  return static_cast<std::uint64_t>(*pixels);
}

// Frame f made current, its sizes and pose read, as the plug-in reads them.
void FrameReader::readSizeAndPose(int f, FrameSizeAndPose& frame) {
  if (f < 0 || f >= frameCount_) {
    throw ScanError("no frame " + std::to_string(f) + ": the scan has " +
                    std::to_string(frameCount_));
  }
  readFrameSizeAndPose(session_->sdk(), f, frame);
}

void FrameReader::read(int f, Frame& frame) {
  FrameSizeAndPose header;
  readSizeAndPose(f, header);
  const std::optional<FlatRigidTransform> frameToGlobal = frameToGlobalTransform(header.pose);
  if (!frameToGlobal) throw ScanError(framePoseName(f) + " is not a rotation");
  frame.index = f;
  frame.sizeX = header.sizeX;
  frame.sizeY = header.sizeY;
  frame.pose = header.pose;

  const auto pixels = static_cast<std::uint64_t>(framePixels(header.sizeX, header.sizeY));
  if (keepMeasured_) {
    FrameSink<true> sink(frame, pixels, keepUncoloured_);
    gatherFramePixels(session_->sdk(), header.sizeX, header.sizeY, *frameToGlobal, globalToOutput_,
                      sink);
    sink.finish();
  } else {
    frame.measured.clear();
    frame.pixels.clear();
    FrameSink<false> sink(frame, pixels, keepUncoloured_);
    gatherFramePixels(session_->sdk(), header.sizeX, header.sizeY, *frameToGlobal, globalToOutput_,
                      sink);
    sink.finish();
  }
  makeNormals(frame);
}

// One more pass over the frame the SDK holds, for the grid of every pixel with a point
// (with a colour or not: all are samples of the surfaces), then each point's normal from it.
// Apart from read(), and not inlined into it: the gathering compiled into read() must stay the
// plug-in's instructions to the bit, a NaN's sign included, whatever is done after it.
[[gnu::noinline]] void FrameReader::makeNormals(Frame& frame) {
  frame.normals.clear();
  frame.frameNormals.clear();
  if (!makeNormals_) return;
  const FlatRigidTransform frameToGlobal =
      *frameToGlobalTransform(frame.pose);  // read() checked it
  const int sizeX = std::max(frame.sizeX, 0), sizeY = std::max(frame.sizeY, 0);
  const std::size_t n = frame.size();
  // Room for the frame's pixels, or twice its points where that is less: the frames of a scan
  // differ by a few points, and a vector grown to each larger frame's size exactly would take
  // fresh pages from the system for most frames.
  const auto room = static_cast<std::size_t>(
      3 * std::min<std::uint64_t>(static_cast<std::uint64_t>(framePixels(sizeX, sizeY)), 2 * n));
  frame.normals.reserve(room);
  frame.normals.resize(3 * n);
  if (keepMeasured_) {  // beside the measured points
    frame.frameNormals.reserve(room);
    frame.frameNormals.resize(3 * n);
  }
  double toGlobal[9], toOutput[9];
  frameToGlobal.rotationRows(toGlobal);
  globalToOutput_.rotationRows(toOutput);
  normals_.begin(sizeY, toGlobal, toOutput, keepMeasured_ ? frame.frameNormals.data() : nullptr,
                 frame.normals.data());
  // The frame's points come from the pixels with a point and a colour (or without one, where
  // kept), x outer, y inner, as the columns are walked here; a pixel without a colour is a
  // sample of its surface all the same.
  DotProductAPI& sdk = session_->sdk();
  const bool keepUncoloured = keepUncoloured_;
  std::size_t kept = 0;
  for (int x = 0; x < sizeX && sizeY > 0; ++x) {  // a frame of empty columns has no pixels
    float *px = normals_.column(0), *py = normals_.column(1), *pz = normals_.column(2);
    int* keptY = normals_.keptColumn();
    std::size_t keptHere = 0;
    for (int y = 0; y < sizeY; ++y) {
      if (sdk.getCartesianAtPixel(x, y, px[y], py[y], pz[y]) != 0) {
        px[y] = py[y] = pz[y] = std::numeric_limits<float>::quiet_NaN();
        continue;
      }
      unsigned char c0, c1, c2;
      if (!keepUncoloured && sdk.getColourAtPixel(x, y, c0, c1, c2) != 0) continue;
      keptY[keptHere++] = y;
    }
    kept += keptHere;
    if (kept > n) throw ScanError("the scan changed while it was read");
    normals_.next(keptHere);
  }
  if (normals_.finish() != n) throw ScanError("the scan changed while it was read");
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
  FrameSizeAndPose header;
  readSizeAndPose(f, header);
  const TooN::SE3<double> frameTransform = rigidTransform(header.pose, framePoseName(f));
  std::uint64_t count = 0;
  bool exact = harmless(frameTransform.inverse()) && harmless(globalTransform_.inverse());
  for (int x = 0; x < header.sizeX && header.sizeY > 0 && exact; ++x) {
    for (int y = 0; y < header.sizeY; ++y) {  // without branches on what the pixels hold
      float px = 0, py = 0, pz = 0;
      unsigned char c0, c1, c2;
      const bool point = session_->sdk().getCartesianAtPixel(x, y, px, py, pz) == 0;
      const bool colour = session_->sdk().getColourAtPixel(x, y, c0, c1, c2) == 0;
      const bool kept = point & (colour | keepUncoloured_);
      exact &= !kept || (harmless(px) & harmless(py) & harmless(pz));
      count += kept;
    }
  }
  if (exact) return count;
  Frame frame;  // the points themselves tell
  read(f, frame);
  return countFinitePoints(frame.points.data(), frame.size());
}

Eigen::Matrix4d FrameReader::framePose(int f) {
  FrameSizeAndPose header;
  readSizeAndPose(f, header);
  return poseMatrix(header.pose, f);
}

Eigen::Matrix4d FrameReader::framePose(const Frame& frame) const {
  return poseMatrix(frame.pose, frame.index);
}

namespace {

Eigen::Matrix4d frameToOutputMatrix(const TooN::SE3<double>& scan, const TooN::SE3<double>& frame) {
  const TooN::SE3<double> frameToOutput = scan.inverse() * frame.inverse();
  const TooN::Matrix<3>& rotation = frameToOutput.get_rotation().get_matrix();
  Eigen::Matrix4d matrix = Eigen::Matrix4d::Identity();
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) matrix(i, j) = rotation(i, j);
    matrix(i, 3) = frameToOutput.get_translation()[i];
  }
  return matrix;
}

}  // namespace

Eigen::Matrix4d FrameReader::poseMatrix(const PoseArray& pose, int f) const {
  return frameToOutputMatrix(globalTransform_, rigidTransform(pose, framePoseName(f)));
}

std::optional<Eigen::Matrix4d> frameToOutputPose(const PoseArray& scanPose,
                                                 const PoseArray& framePose) {
  const std::optional<TooN::SE3<double>> scan = poseArrayToSE3(scanPose);
  const std::optional<TooN::SE3<double>> frame = poseArrayToSE3(framePose);
  if (!scan || !frame) return std::nullopt;
  return frameToOutputMatrix(*scan, *frame);
}

}  // namespace quarn
