#include "ScanInputCheck.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "DotProductAPI.h"
#include "ReferenceImport.h"
#include "ScanReader.h"
#include "ScanStatus.h"

namespace quarn::hostile {
namespace {

using namespace quarn::scan;

// What ScanReader found in the input.
struct ScanContents {
  PoseArray scanPose{};
  std::vector<FrameInfo> frames;
  std::vector<std::vector<ScanPixel>> pixels;
};

template <typename T>
bool sameBits(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

bool sameValue(double a, double b) { return sameBits(a, b) || (std::isnan(a) && std::isnan(b)); }

std::string at(std::size_t frame) { return " (frame " + std::to_string(frame) + ")"; }

std::string at(std::size_t frame, int x, int y) {
  return " (frame " + std::to_string(frame) + ", pixel " + std::to_string(x) + "," +
         std::to_string(y) + ")";
}

// A scan ScanReader opens lies inside the input, pixels included, so nothing allocated for
// it is larger than the input; a refused one leaves nothing open.
std::string readFromMemory(const unsigned char* data, std::size_t size, int& status,
                           ScanContents& scan) {
  ScanReader reader;
  status = reader.open(data, size);
  if (status != kOk) {
    if (reader.isOpen() || reader.frameCount() != 0) return "ScanReader: refused but left open";
    if (status != kNotScanFile && status != kUnsupportedVersion && status != kDamaged) {
      return "ScanReader: status " + std::to_string(status) + " for bytes in memory";
    }
    return {};
  }
  // Header, table and records do not overlap, so together they are no larger than the input.
  std::uint64_t bytes =
      kHeaderSize + kTableEntrySize * static_cast<std::uint64_t>(reader.frameCount());
  if (bytes > size) return "ScanReader: the frame table is larger than the input";
  scan.scanPose = reader.scanPose();
  for (std::int32_t f = 0; f < reader.frameCount(); ++f) {
    const FrameInfo& info = reader.frame(f);
    if (info.sizeX < 0 || info.sizeY < 0) return "ScanReader: negative frame size" + at(f);
    const std::uint64_t count =
        static_cast<std::uint64_t>(info.sizeX) * static_cast<std::uint64_t>(info.sizeY);
    if (count > size / kPixelSize) return "ScanReader: more pixels than the input holds" + at(f);
    bytes += kFrameHeaderSize + count * kPixelSize;
    if (bytes > size || info.pixelOffset + count * kPixelSize > size) {
      return "ScanReader: the frames need more bytes than the input has" + at(f);
    }
    std::vector<ScanPixel> pixels;
    if (!reader.readPixels(f, pixels) || pixels.size() != count) {
      return "ScanReader: cannot read the pixels of an open scan" + at(f);
    }
    scan.frames.push_back(info);
    scan.pixels.push_back(std::move(pixels));
  }
  return {};
}

bool writeFile(const std::string& path, const unsigned char* data, std::size_t size) {
  // A fresh file rather than a truncated one: ext4 flushes a truncated and rewritten file to
  // disk on close, which made each input wait for the disk.
  std::remove(path.c_str());
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

// DotProductAPI on the same bytes from a file reports exactly what ScanReader found, through
// the calls the plug-in makes, and refuses pixels and frames outside the scan.
std::string readThroughSdk(const std::string& path, int memoryStatus, const ScanContents& scan) {
  DotProductAPI api;
  const int status = api.open(path.c_str(), nullptr);
  if (status != memoryStatus) {
    return "DotProductAPI::open returned " + std::to_string(status) + ", ScanReader " +
           std::to_string(memoryStatus);
  }
  if (status != kOk) {
    if (api.getFrameCount() != 0 || api.openFrame(0) != kNotOpen) {
      return "DotProductAPI: refused but left open";
    }
    return {};
  }
  if (api.getFrameCount() != static_cast<int>(scan.frames.size())) {
    return "DotProductAPI: frame count differs";
  }
  PoseArray pose{};
  if (api.getPositionAndOrientation(pose.data()) != kOk || !sameBits(pose, scan.scanPose)) {
    return "DotProductAPI: scan pose differs";
  }
  for (std::size_t f = 0; f < scan.frames.size(); ++f) {
    const FrameInfo& info = scan.frames[f];
    if (api.openFrame(static_cast<int>(f)) != kOk) return "DotProductAPI: openFrame failed" + at(f);
    if (api.getFrameSizeX() != info.sizeX || api.getFrameSizeY() != info.sizeY) {
      return "DotProductAPI: frame size differs" + at(f);
    }
    if (api.getFramePositionAndOrientation(pose.data()) != kOk || !sameBits(pose, info.pose)) {
      return "DotProductAPI: frame pose differs" + at(f);
    }
    // A frame without pixels may still claim 2^31 - 1 columns: not walked.
    for (int x = 0; info.sizeY > 0 && x < info.sizeX; ++x) {
      for (int y = 0; y < info.sizeY; ++y) {
        const ScanPixel& want = scan.pixels[f][static_cast<std::size_t>(x) * info.sizeY + y];
        const bool hasPoint = (want.flags & kHasPoint) != 0;
        const bool hasColour = (want.flags & kHasColour) != 0;
        float p[3] = {};
        unsigned char c[3] = {};
        if (api.getCartesianAtPixel(x, y, p[0], p[1], p[2]) != (hasPoint ? kOk : kNoValue) ||
            (hasPoint && std::memcmp(p, &want.x, sizeof p) != 0)) {
          return "DotProductAPI: point differs" + at(f, x, y);
        }
        if (api.getColourAtPixel(x, y, c[0], c[1], c[2]) != (hasColour ? kOk : kNoValue) ||
            (hasColour && std::memcmp(c, want.colour, sizeof c) != 0)) {
          return "DotProductAPI: colour differs" + at(f, x, y);
        }
      }
    }
    const int outside[][2] = {{info.sizeX, 0},
                              {0, info.sizeY},
                              {-1, 0},
                              {0, -1},
                              {std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}};
    for (const auto& xy : outside) {
      float p[3];
      unsigned char c[3];
      if (api.getCartesianAtPixel(xy[0], xy[1], p[0], p[1], p[2]) != kOutsideFrame ||
          api.getColourAtPixel(xy[0], xy[1], c[0], c[1], c[2]) != kOutsideFrame) {
        return "DotProductAPI: a pixel outside the frame was not refused" + at(f, xy[0], xy[1]);
      }
    }
  }
  if (api.openFrame(-1) != kBadArgument || api.openFrame(api.getFrameCount()) != kBadArgument) {
    return "DotProductAPI: a frame outside the scan was not refused";
  }
  return {};
}

// The plug-in imports exactly the scans whose poses are all rotations, with the reference
// result; any other read fails and leaves the host's matrices as they were.
std::string importThroughPlugin(const std::string& path, int scanStatus, const ScanContents& scan,
                                ReadDotProductFunction read, bool& imported) {
  Eigen::MatrixXd points = Eigen::MatrixXd::Constant(3, 2, 42.0);
  ColourMatrix colours = ColourMatrix::Constant(3, 2, 9);
  Eigen::MatrixXd transform = Eigen::MatrixXd::Constant(2, 2, -1.0);
  const void* storage[] = {points.data(), colours.data(), transform.data()};
  imported = read(path.c_str(), 0, points, colours, nullptr, nullptr, transform);

  bool rotations = scanStatus == kOk && poseArrayToSE3(scan.scanPose).has_value();
  for (const FrameInfo& info : scan.frames) rotations = rotations && poseArrayToSE3(info.pose);
  if (imported != rotations) {
    return imported ? "plug-in: imported a scan it should refuse" : "plug-in: refused a scan";
  }
  if (!imported) {
    const bool untouched = storage[0] == points.data() && storage[1] == colours.data() &&
                           storage[2] == transform.data() &&
                           points == Eigen::MatrixXd::Constant(3, 2, 42.0) &&
                           colours == ColourMatrix::Constant(3, 2, 9) &&
                           transform == Eigen::MatrixXd::Constant(2, 2, -1.0);
    return untouched ? std::string() : "plug-in: a refused read changed the host's matrices";
  }

  std::int64_t columns = 0;
  for (const auto& pixels : scan.pixels) columns += static_cast<std::int64_t>(pixels.size());
  if (points.rows() != 3 || points.cols() != columns || colours.rows() != 3 ||
      colours.cols() != columns || transform.rows() != 4 || transform.cols() != 4) {
    return "plug-in: matrix sizes differ from 3 x pixels and 4 x 4";
  }
  const PoseArray& g = scan.scanPose;
  const double expectedTransform[4][4] = {
      {1, 0, 0, g[3]}, {0, 1, 0, g[7]}, {0, 0, 1, g[11]}, {g[12], g[13], g[14], g[15]}};
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      if (!sameBits(transform(r, c), expectedTransform[r][c])) return "plug-in: transform differs";
    }
  }

  std::int64_t n = 0;
  for (std::size_t f = 0; f < scan.frames.size(); ++f) {
    for (const ScanPixel& pixel : scan.pixels[f]) {  // x outer, y inner, as the file holds them
      if ((pixel.flags & (kHasPoint | kHasColour)) != (kHasPoint | kHasColour)) continue;
      const auto expected =
          referencePoint(scan.scanPose, scan.frames[f].pose, pixel.x, pixel.y, pixel.z);
      for (int r = 0; r < 3; ++r) {
        if (!sameValue(points(r, n), expected[r]) || colours(r, n) != pixel.colour[r]) {
          return "plug-in: column " + std::to_string(n) + " differs from the reference" + at(f);
        }
      }
      ++n;
    }
  }
  for (; n < columns; ++n) {
    for (int r = 0; r < 3; ++r) {
      if (!std::isnan(points(r, n)) || colours(r, n) != 0) {
        return "plug-in: column " + std::to_string(n) + " after the valid ones is not NaN and 0";
      }
    }
  }
  return {};
}

}  // namespace

InputOutcome checkScanInput(const unsigned char* data, std::size_t size,
                            const std::string& scratchPath, ReadDotProductFunction read) {
  InputOutcome outcome;
  ScanContents scan;
  outcome.broken = readFromMemory(data, size, outcome.openStatus, scan);
  if (!outcome.broken.empty()) return outcome;
  if (!writeFile(scratchPath, data, size)) {
    outcome.broken = "cannot write " + scratchPath;
    return outcome;
  }
  outcome.broken = readThroughSdk(scratchPath, outcome.openStatus, scan);
  if (!outcome.broken.empty()) return outcome;
  outcome.broken =
      importThroughPlugin(scratchPath, outcome.openStatus, scan, read, outcome.imported);
  return outcome;
}

}  // namespace quarn::hostile
