#pragma once

// Synthetic scans of the known Scene, as a handheld scanner would take them: a pinhole
// depth camera walked along a path through the room, each frame ray cast per pixel.

#include <cstdint>
#include <string>
#include <vector>

#include "ScanFormat.h"
#include "Scene.h"

namespace quarn::tool {

struct SampleOptions {
  int frames = 40;
  int width = 320;
  int height = 240;
  std::uint32_t seed = 1;
};

struct SampleSummary {
  std::int64_t pixels = 0, withPoint = 0, withColour = 0, withBoth = 0;
};

class SampleScan {
 public:
  // Pixels farther than this along the ray get no point (their colour is still seen).
  static constexpr double kMaxRange = 5.5;

  explicit SampleScan(const SampleOptions& options);

  const SampleOptions& options() const { return options_; }
  const Scene& scene() const { return scene_; }
  // Maps scene coordinates into the scan's own coordinates, as the SDK reports it, so that
  // a reader applying T_scan^-1 * T_frame^-1 to a frame's points gets scene coordinates.
  const scan::PoseArray& scanPose() const { return scanPose_; }
  // Maps the scan's coordinates into frame `index`'s camera coordinates.
  const scan::PoseArray& framePose(int index) const { return framePoses_[index]; }

  // Ray casts frame `index` into `pixels` (width * height, pixel (x, y) at x * height + y),
  // counting into `summary`.
  void renderFrame(int index, std::vector<scan::ScanPixel>& pixels, SampleSummary& summary) const;

 private:
  SampleOptions options_;
  Scene scene_;
  scan::PoseArray scanPose_{};
  std::vector<scan::PoseArray> framePoses_;
  std::vector<Vec3> cameraPositions_;
  std::vector<Eigen::Matrix3d> cameraRotations_;  // camera axes (right, down, forward) in the scene
};

// Writes the sample scan to `path` frame by frame through the scan writer; no file is left
// behind when it fails (std::runtime_error).
SampleSummary writeSampleScan(const std::string& path, const SampleOptions& options);

}  // namespace quarn::tool
