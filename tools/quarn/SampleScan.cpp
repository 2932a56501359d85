#include "SampleScan.h"

#include <cmath>
#include <random>
#include <stdexcept>

#include <Eigen/Geometry>

#include "OutputFile.h"
#include "ScanWriter.h"

namespace quarn::tool {

namespace {

constexpr double kMinRange = 0.25;
constexpr double kHorizontalFieldOfView = 60.0 * kPi / 180.0;

double degrees(double value) { return value * kPi / 180.0; }

// The pose array of x -> rotation * x + translation. The plug-in rounds translations to
// single precision, so they are stored rounded: the generator then transforms with exactly
// the values a reader uses.
scan::PoseArray poseArray(const Eigen::Matrix3d& rotation, const Vec3& translation) {
  scan::PoseArray pose{};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) pose[r + 4 * c] = rotation(r, c);
    pose[12 + r] = static_cast<float>(translation[r]);
  }
  pose[15] = 1.0;
  return pose;
}

Vec3 transformed(const scan::PoseArray& pose, const Vec3& p) {
  Vec3 out;
  for (int r = 0; r < 3; ++r)
    out[r] = pose[r] * p.x() + pose[r + 4] * p.y() + pose[r + 8] * p.z() + pose[12 + r];
  return out;
}

}  // namespace

SampleScan::SampleScan(const SampleOptions& options) : options_(options), scene_(options.seed) {
  if (options.frames < 0 || options.width < 1 || options.height < 1) {
    throw std::invalid_argument("a sample needs 0 or more frames of at least 1 x 1 pixels");
  }
  // The scanner's own coordinates are turned and shifted against the scene's, so that the
  // scan pose matters: a reader that ignored it would not land on the scene.
  const Eigen::Matrix3d globalRotation =
      Eigen::AngleAxisd(0.7, Vec3(0.3, -0.5, 0.8).normalized()).toRotationMatrix();
  const Vec3 globalTranslation(1.25, -0.5, 0.375);
  scanPose_ = poseArray(globalRotation, globalTranslation);

  // The operator walks an arc facing the objects, sweeping left and right, tilting up and
  // down, with a little hand shake drawn from the seed.
  std::mt19937 random(options.seed ^ 0x5eed5ca9u);
  const Vec3 centre(4.3, 3.0, 0.0);
  for (int i = 0; i < options.frames; ++i) {
    const double u = options.frames > 1 ? static_cast<double>(i) / (options.frames - 1) : 0.5;
    const double along = degrees(182.0 + 86.0 * u);
    const Vec3 position(centre.x() + 2.5 * std::cos(along) + uniform(random, -0.03, 0.03),
                        centre.y() + 2.5 * std::sin(along) + uniform(random, -0.03, 0.03),
                        1.45 + 0.08 * std::sin(3 * kPi * u) + uniform(random, -0.03, 0.03));
    const double yaw = along + kPi + degrees(34.0) * std::sin(2.5 * kPi * u + 0.4) +
                       degrees(uniform(random, -1.5, 1.5));
    const double pitch =
        degrees(-20.0 + 13.0 * std::sin(1.6 * kPi * u + 1.0)) + degrees(uniform(random, -1.5, 1.5));
    const double roll = degrees(uniform(random, -3.0, 3.0));

    const Vec3 forward(std::cos(pitch) * std::cos(yaw), std::cos(pitch) * std::sin(yaw),
                       std::sin(pitch));
    const Vec3 right = forward.cross(Vec3::UnitZ()).normalized();
    const Eigen::AngleAxisd rollAbout(roll, forward);
    Eigen::Matrix3d cameraToScene;
    cameraToScene.col(0) = rollAbout * right;
    cameraToScene.col(1) = rollAbout * forward.cross(right);
    cameraToScene.col(2) = forward;

    // Scan -> camera is (scene -> camera) after (scan -> scene).
    const Eigen::Matrix3d rotation = cameraToScene.transpose() * globalRotation.transpose();
    const Vec3 translation =
        -cameraToScene.transpose() * (globalRotation.transpose() * globalTranslation + position);
    framePoses_.push_back(poseArray(rotation, translation));
    cameraPositions_.push_back(position);
    cameraRotations_.push_back(cameraToScene);
  }
}

void SampleScan::renderFrame(int index, std::vector<scan::ScanPixel>& pixels,
                             SampleSummary& summary) const {
  const int width = options_.width, height = options_.height;
  pixels.assign(static_cast<std::size_t>(width) * height, scan::ScanPixel{});
  const double focal = 0.5 * width / std::tan(kHorizontalFieldOfView / 2);
  const double cx = 0.5 * (width - 1), cy = 0.5 * (height - 1);
  // The colour camera sees a little less than the depth camera: a band without colour.
  const int band = std::max(1, std::min(width, height) / 24);
  const Eigen::Matrix3d& rotation = cameraRotations_[index];
  const Vec3& origin = cameraPositions_[index];

  for (int x = 0; x < width; ++x) {
    for (int y = 0; y < height; ++y) {
      const Vec3 direction =
          (rotation * Vec3((x - cx) / focal, (y - cy) / focal, 1.0)).normalized();
      SurfaceHit hit;
      // Colour reaches past the depth range; beyond it the pixel has a colour but no point.
      if (!scene_.intersect(origin, direction, 2 * kMaxRange, hit) || hit.distance < kMinRange) {
        continue;
      }
      scan::ScanPixel& pixel = pixels[static_cast<std::size_t>(x) * height + y];
      const bool inRange = hit.distance <= kMaxRange;
      const bool inColourView = x >= band && x < width - band && y >= band && y < height - band;
      if (inRange) {
        const Vec3 p = transformed(framePoses_[index], transformed(scanPose_, hit.point));
        pixel.x = static_cast<float>(p.x());
        pixel.y = static_cast<float>(p.y());
        pixel.z = static_cast<float>(p.z());
        pixel.flags |= scan::kHasPoint;
      }
      if (inColourView) {
        for (int c = 0; c < 3; ++c) pixel.colour[c] = hit.colour[c];
        pixel.flags |= scan::kHasColour;
      }
      summary.withPoint += inRange;
      summary.withColour += inColourView;
      summary.withBoth += inRange && inColourView;
    }
  }
  summary.pixels += static_cast<std::int64_t>(width) * height;
}

SampleSummary writeSampleScan(const std::string& path, const SampleOptions& options) {
  const SampleScan sample(options);
  SampleSummary summary;
  output::OutputFile file(path, true);  // the frame table is written last, at the front
  try {
    scan::ScanWriter writer(file.stream(), options.frames, sample.scanPose());
    std::vector<scan::ScanPixel> pixels;
    for (int i = 0; i < options.frames; ++i) {
      sample.renderFrame(i, pixels, summary);
      writer.addFrame(options.width, options.height, sample.framePose(i), pixels.data());
    }
    writer.finish();
  } catch (const std::runtime_error&) {
    if (!file.stream()) throw file.error();  // the system's reason, not the writer's
    throw;
  }
  file.commit();
  return summary;
}

}  // namespace quarn::tool
