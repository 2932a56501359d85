#pragma once

// The one way a scan is opened and walked through the SDK: the open with its retry under the
// file's other name, the frame count, the pixel count and each frame's sizes and pose. The
// plug-in's read, the frame reader, the programs' checks, `info` and `import` all use it.
// Inline, so that each compiles it against the SDK declaration it builds with.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include <DotProductAPI.h>  // scanner/, or the vendor's own with QUARN_VENDOR_SDK_DIR
#include "platform/ShortPath.h"
#include "pose/PoseConversion.h"
#include "scanner/ScannerObject.h"

// Opens the scan at `path` (UTF-8) or, when the SDK refuses it, once more under the file's
// other name, first saying so on `retryLine` when given. The status of the first open, 0
// when either opened.
inline int openScan(DotProductAPI& sdk, const char* path, std::ostream* retryLine) {
  if (path == nullptr) return -1;
  const int status = sdk.open(path, nullptr);
  if (status == 0) return 0;
  std::string alternative;
  if (!alternativeScanPath(path, alternative)) return status;
  if (retryLine != nullptr) *retryLine << "Reading from short path: " << alternative << std::endl;
  return sdk.open(alternative.c_str(), nullptr) == 0 ? 0 : status;
}

// What the SDK reports of a frame besides its pixels.
struct FrameSizeAndPose {
  int sizeX = 0;
  int sizeY = 0;
  PoseArray pose{};
};

// Makes frame `f` current and reads its sizes, then its pose.
inline void readFrameSizeAndPose(DotProductAPI& sdk, int f, FrameSizeAndPose& frame) {
  sdk.openFrame(f);
  frame.sizeX = sdk.getFrameSizeX();
  frame.sizeY = sdk.getFrameSizeY();
  frame.pose = PoseArray{};
  sdk.getFramePositionAndOrientation(frame.pose.data());
}

// A frame's pixels from its sizes; a negative size counts as 0.
inline std::int64_t framePixels(int sizeX, int sizeY) {
  return std::int64_t{std::max(sizeX, 0)} * std::max(sizeY, 0);
}

// Beyond this many pixels the 3 x N matrix of doubles cannot be addressed.
inline constexpr std::int64_t kMaxPixels =
    std::numeric_limits<std::int64_t>::max() / static_cast<std::int64_t>(3 * sizeof(double));

// Opens every frame and sums its pixels in 64 bits. False when the total is more than any
// matrix could hold.
inline bool countPixels(DotProductAPI& sdk, int frameCount, std::int64_t& pixelCount) {
  pixelCount = 0;
  for (int f = 0; f < frameCount; ++f) {
    sdk.openFrame(f);
    const int sizeX = sdk.getFrameSizeX();  // before sizeY, as the SDK is asked everywhere
    // Each frame below 2^62, so the sum cannot overflow before the check.
    pixelCount += framePixels(sizeX, sdk.getFrameSizeY());
    if (pixelCount > kMaxPixels) return false;
  }
  return true;
}

// How a frame's pixels answer the SDK's two pixel calls.
struct PixelKinds {
  std::int64_t pixels = 0, withPoint = 0, withColour = 0, withBoth = 0;
  bool unreadable = false;  // a pixel call failed for another reason than a missing value

  PixelKinds& operator+=(const PixelKinds& other) {
    pixels += other.pixels;
    withPoint += other.withPoint;
    withColour += other.withColour;
    withBoth += other.withBoth;
    unreadable |= other.unreadable;
    return *this;
  }
};

// A scan opened for a program: the SDK object, the frame count and the scan's pose.
class ScanSession {
 public:
  // Opens `path` (UTF-8) as the plug-in does, without its line about the retry.
  explicit ScanSession(const std::string& path)
      : scanner_(std::make_unique<ScannerObject>()),
        status_(openScan(scanner_->api(), path.c_str(), nullptr)),
        frameCount_(status_ == 0 ? std::max(sdk().getFrameCount(), 0) : 0) {
    if (status_ == 0) sdk().getPositionAndOrientation(scanPose_.data());
  }

  // 0 when the scan is open, else the status of the first open.
  int status() const { return status_; }
  DotProductAPI& sdk() { return scanner_->api(); }
  // The frames there are to read: the SDK's count, 0 when that is negative.
  int frameCount() const { return frameCount_; }
  const PoseArray& scanPose() const { return scanPose_; }

  // The pixels of all frames, the columns of the plug-in's read; empty when more than a read
  // can hold.
  std::optional<std::int64_t> pixelCount() {
    std::int64_t pixels = 0;
    if (!countPixels(sdk(), frameCount_, pixels)) return std::nullopt;
    return pixels;
  }

  FrameSizeAndPose frame(int f) {
    FrameSizeAndPose frame;
    readFrameSizeAndPose(sdk(), f, frame);
    return frame;
  }

  // Asks both pixel calls of every pixel of frame `f`. `noValueStatus` is the SDK's answer for
  // a pixel without that value; any other failure marks the frame unreadable.
  PixelKinds pixelKinds(int f, int noValueStatus) {
    const FrameSizeAndPose sizes = frame(f);
    PixelKinds kinds;
    kinds.pixels = framePixels(sizes.sizeX, sizes.sizeY);
    for (int x = 0; x < sizes.sizeX && sizes.sizeY > 0; ++x) {
      for (int y = 0; y < sizes.sizeY; ++y) {
        float px, py, pz;
        unsigned char c0, c1, c2;
        const int point = sdk().getCartesianAtPixel(x, y, px, py, pz);
        const int colour = sdk().getColourAtPixel(x, y, c0, c1, c2);
        kinds.unreadable |=
            (point != 0 && point != noValueStatus) || (colour != 0 && colour != noValueStatus);
        kinds.withPoint += point == 0;
        kinds.withColour += colour == 0;
        kinds.withBoth += point == 0 && colour == 0;
      }
    }
    return kinds;
  }

  // The kinds of all frames' pixels; withBoth are those the plug-in turns into columns.
  PixelKinds pixelKinds() {
    PixelKinds kinds;
    for (int f = 0; f < frameCount_; ++f) kinds += pixelKinds(f, 0);
    return kinds;
  }

 private:
  std::unique_ptr<ScannerObject> scanner_;
  int status_;
  int frameCount_;
  PoseArray scanPose_{};
};
