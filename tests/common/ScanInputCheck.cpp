#include "ScanInputCheck.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "DotProductAPI.h"
#include "FrameReader.h"
#include "HostMatrices.h"
#include "ReferenceImport.h"
#include "ScanReader.h"
#include "ScanStatus.h"

namespace quarn::hostile {
namespace {

using namespace quarn::scan;

// A refused input leaves nothing open; an opened one has every frame's pixels inside it (the
// fuzzer's memory limit catches anything allocated beyond that).
std::string readFromMemory(const unsigned char* data, std::size_t size, int& status,
                           PoseArray& scanPose, std::vector<ScanFrame>& frames) {
  ScanReader reader;
  status = reader.open(data, size);
  if (status != kOk) {
    const bool known =
        status == kNotScanFile || status == kUnsupportedVersion || status == kDamaged;
    return reader.isOpen() || reader.frameCount() != 0 || !known ? "ScanReader: a bad refusal" : "";
  }
  scanPose = reader.scanPose();
  for (std::int32_t f = 0; f < reader.frameCount(); ++f) {
    const FrameInfo& info = reader.frame(f);
    frames.push_back({info.sizeX, info.sizeY, info.pose, {}});
    if (info.sizeX < 0 || info.sizeY < 0 || !reader.readPixels(f, frames.back().pixels))
      return "ScanReader: cannot read the pixels of an open scan";
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

// DotProductAPI opens the same bytes from a file with the same status; the plug-in imports
// exactly the scans whose poses are all rotations, with the reference result, and any other
// read leaves the host's matrices as they were.
std::string importThroughPlugin(const std::string& path, int status, const PoseArray& scanPose,
                                const std::vector<ScanFrame>& frames, ReadDotProductFunction read,
                                HostMatrices& host, bool& imported) {
  DotProductAPI api;
  if (api.open(path.c_str(), nullptr) != status) return "DotProductAPI: another open status";
  imported = host.read(read, path.c_str());
  bool rotations = status == kOk && test::referencePose(scanPose).has_value();
  for (const ScanFrame& frame : frames) rotations = rotations && test::referencePose(frame.pose);
  if (imported != rotations)
    return imported ? "plug-in: imported a scan it should refuse" : "plug-in: refused a scan";
  if (!imported)
    return host.untouched() ? std::string() : "plug-in: a refused read changed the matrices";
  const std::string difference =
      test::differenceFromReference(scanPose, frames, host.points, host.colours, host.transform);
  return difference.empty() ? difference : "plug-in: " + difference;
}

// The frame reader's frames, one after the other, are the imported columns to the bit, with
// the SDK's sizes and raw poses; it refuses exactly the scans the plug-in refuses.
std::string readFrameByFrame(const std::string& path, const std::vector<ScanFrame>& frames,
                             const HostMatrices& host, bool imported) {
  std::size_t column = 0;  // of the next frame's first point
  try {
    FrameReader reader(path);
    Frame frame;
    for (int f = 0; f < reader.frameCount(); ++f) {
      reader.read(f, frame);
      const ScanFrame& expected = frames.at(static_cast<std::size_t>(f));
      if (frame.sizeX != expected.sizeX || frame.sizeY != expected.sizeY ||
          std::memcmp(frame.pose.data(), expected.pose.data(), sizeof frame.pose) != 0)
        return "frame reader: other sizes or pose of frame " + std::to_string(f);
      if (!imported) continue;  // until the frame it refuses
      if (frame.points.size() != 3 * frame.size() ||
          3 * (column + frame.size()) > static_cast<std::size_t>(host.points.size()))
        return "frame reader: more points than the plug-in's columns";
      for (std::size_t i = 0; i < 3 * frame.size(); ++i) {
        const double point = frame.points[i];
        if (std::memcmp(&point, host.points.data() + 3 * column + i, sizeof point) != 0 ||
            frame.colours[i] != host.colours.data()[3 * column + i])
          return "frame reader: frame " + std::to_string(f) + " differs from the columns";
      }
      column += frame.size();
    }
  } catch (const ScanError&) {
    return imported ? "frame reader: refused a scan the plug-in imports" : "";
  }
  if (!imported) return "frame reader: read a scan the plug-in refuses";
  std::size_t valid = 0;
  for (const ScanFrame& frame : frames) {
    for (const ScanPixel& pixel : frame.pixels)
      valid += (pixel.flags & (kHasPoint | kHasColour)) == (kHasPoint | kHasColour);
  }
  return column == valid ? "" : "frame reader: fewer points than the plug-in's columns";
}

}  // namespace

InputOutcome checkScanInput(const unsigned char* data, std::size_t size,
                            const std::string& scratchPath, ReadDotProductFunction read) {
  InputOutcome outcome;
  int status = -1;
  PoseArray scanPose{};
  std::vector<ScanFrame> frames;
  outcome.broken = readFromMemory(data, size, status, scanPose, frames);
  if (!outcome.broken.empty()) return outcome;
  if (!writeFile(scratchPath, data, size)) {
    outcome.broken = "cannot write " + scratchPath;
    return outcome;
  }
  HostMatrices host;
  outcome.broken =
      importThroughPlugin(scratchPath, status, scanPose, frames, read, host, outcome.imported);
  if (outcome.broken.empty())
    outcome.broken = readFrameByFrame(scratchPath, frames, host, outcome.imported);
  return outcome;
}

}  // namespace quarn::hostile
