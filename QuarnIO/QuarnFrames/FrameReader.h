#pragma once

// A scan frame by frame, in the plug-in's output coordinates and computed by the plug-in's own
// gathering: the frames of a scan, one after the other, are bit for bit the columns a read
// through the plug-in fills before its NaN tail. Memory for one frame at a time.

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <TooN/se3.h>
#include <Eigen/Core>

#include "GridNormals.h"
#include "ScanReasons.h"
#include "pose/FlatRigidTransform.h"
#include "pose/PoseConversion.h"

class ScanSession;
struct FrameSizeAndPose;

namespace quarn {

// Leaves the elements a vector grows by uninitialised: a frame's vectors grow without zeroing
// what its points then overwrite.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  UninitialisedAllocator() = default;
  template <class U>
  UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Arguments>
  void construct(U* p, Arguments&&... arguments) {
    ::new (static_cast<void*>(p)) U(std::forward<Arguments>(arguments)...);
  }
};

// One frame's pixels that have both a point and a colour, x outer, y inner, non-finite points
// included: the plug-in's columns. What a user gets keeps the finite ones (FinitePoints.h).
// A reader that keeps the pixels with a point but no colour has them among the others, black.
struct Frame {
  int index = -1;
  int sizeX = 0;  // as the SDK reports them
  int sizeY = 0;
  PoseArray pose{};  // the frame's raw pose values
  // x, y, z of each point, in output coordinates
  std::vector<float, UninitialisedAllocator<float>> points;
  // the three bytes of each point, in the SDK's order
  std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>> colours;
  // Where the reader keeps them: each point as the SDK gave it, in frame coordinates, and its
  // pixel's x, y.
  std::vector<float, UninitialisedAllocator<float>> measured;
  std::vector<std::int32_t, UninitialisedAllocator<std::int32_t>> pixels;
  // Where the reader keeps them, 1 for each point without a colour, else 0.
  std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>> colourless;
  std::uint64_t uncoloured = 0;  // pixels with a point but no colour, kept or not
  // Where the reader makes them: each point's unit surface normal from the frame's grid
  // (GridNormals.h), in output coordinates, and where it keeps the measured points, in the
  // frame's own; (0, 0, 0) where the grid gives none.
  std::vector<float, UninitialisedAllocator<float>> normals;
  std::vector<float, UninitialisedAllocator<float>> frameNormals;

  std::size_t size() const { return colours.size() / 3; }
};

// Frame f's pose in output coordinates, T_g_r^-1 * T_f^-1 of the scan's and the frame's raw
// poses, as a homogeneous matrix (rotation block, translation in column 3, last row 0 0 0 1);
// empty when either is not a rotation.
std::optional<Eigen::Matrix4d> frameToOutputPose(const PoseArray& scanPose,
                                                 const PoseArray& framePose);

// One SDK object, so one thread at a time. What the SDK or an allocation throws passes through.
class FrameReader {
 public:
  // Opens the scan at `path` (UTF-8) as the plug-in does, retrying once under the file's other
  // name (without the plug-in's line about it). Throws ScanError with the reason it cannot.
  explicit FrameReader(const std::string& path);
  ~FrameReader();
  FrameReader(const FrameReader&) = delete;
  FrameReader& operator=(const FrameReader&) = delete;

  // The frames there are to read: the SDK's count, 0 when that is negative.
  int frameCount() const { return frameCount_; }
  // read() also fills each frame's measured points and pixels.
  void keepMeasured(bool keep) { keepMeasured_ = keep; }
  // read() also keeps the pixels with a point but no colour (and countPoints() counts them).
  void keepUncoloured(bool keep) { keepUncoloured_ = keep; }
  // read() also makes each point's normal.
  void makeNormals(bool make) { makeNormals_ = make; }
  // The scan's raw pose values and T_g_r, the rigid transform the plug-in makes of them.
  const PoseArray& globalPose() const { return globalPose_; }
  const TooN::SE3<double>& globalTransform() const { return globalTransform_; }

  // The pixels of all frames, from their sizes alone (a negative size counts as 0): the
  // columns of the plug-in's read. Throws ScanError when more than a read can hold.
  std::uint64_t pixelCount();

  // Fills `frame` with frame `f` (0 <= f < frameCount()), reusing its vectors' storage. Each
  // point is T_g_r^-1 * T_f^-1 * p rounded to single precision after each transform, as the
  // plug-in computes it. Throws ScanError when there is no frame f or its pose is not a
  // rotation; `frame` is then in no particular state.
  void read(int f, Frame& frame);

  // How many of the points read(f) gives are finite, counted from the SDK's pixels alone where
  // nothing else can come of them (finite poses, coordinates within 1e30: nothing overflows),
  // else by read(f). Throws as read() does.
  std::uint64_t countPoints(int f);

  // Frame f's pose without its pixels: T_g_r^-1 * T_f^-1 as a homogeneous matrix (rotation
  // block, translation in column 3, last row 0 0 0 1), which maps a point of the frame to
  // the output up to the two roundings. Throws as read() does.
  Eigen::Matrix4d framePose(int f);
  // The same of a frame read() filled, without asking the SDK again.
  Eigen::Matrix4d framePose(const Frame& frame) const;

 private:
  void readSizeAndPose(int f, FrameSizeAndPose& frame);
  void makeNormals(Frame& frame);
  Eigen::Matrix4d poseMatrix(const PoseArray& pose, int f) const;

  std::unique_ptr<ScanSession> session_;
  int frameCount_;
  bool keepMeasured_ = false;
  bool keepUncoloured_ = false;
  bool makeNormals_ = false;
  GridNormals normals_;  // where normals are made: its columns' storage, reused
  PoseArray globalPose_{};
  TooN::SE3<double> globalTransform_;
  FlatRigidTransform globalToOutput_;
};

}  // namespace quarn
