#include "ScanProblem.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>

#include "DotProductAPI.h"
#include "ScanStatus.h"
#include "Utf8Paths.h"
#include "platform/MemoryAdmission.h"

namespace quarn {

std::string describeOpenStatus(const std::string& path, int status) {
  switch (status) {
    case scan::kOk:
      return std::string();
    case scan::kCannotOpen: {
      std::error_code error;
      const std::filesystem::path file = pathFromUtf8(path);
      if (!std::filesystem::exists(file, error)) return "no such file";
      if (std::filesystem::is_directory(file, error)) return "it is a directory";
      return "the file cannot be opened or read";
    }
    case scan::kNotScanFile:
      return "not a scan file";
    case scan::kUnsupportedVersion:
      return "a scan file of an unsupported format version";
    case scan::kDamaged:
      return "the scan file is damaged (truncated or corrupt)";
    default:
      return "the SDK cannot open it (status " + std::to_string(status) + ")";
  }
}

std::string scanOpenProblem(const std::string& path) {
  DotProductAPI sdk;
  return describeOpenStatus(path, sdk.open(sdkPath(path).c_str(), nullptr));
}

namespace {

// Whole megabytes (10^6 bytes), rounded down (`up`: up): never more available, nor less
// needed, than there is.
std::string megabytes(std::uint64_t bytes, bool up = false) {
  return std::to_string(bytes / 1000000 + (up && bytes % 1000000 != 0)) + " MB";
}

}  // namespace

std::string importProblem(const std::string& scan) {
  DotProductAPI sdk;
  const std::string problem = describeOpenStatus(scan, sdk.open(sdkPath(scan).c_str(), nullptr));
  if (!problem.empty()) return problem;
  std::uint64_t pixels = 0;  // of every frame, as the plug-in counts them
  for (int f = 0; f < sdk.getFrameCount(); ++f) {
    if (sdk.openFrame(f) != scan::kOk) return std::string();  // the plug-in's read says why
    pixels += static_cast<std::uint64_t>(std::max(sdk.getFrameSizeX(), 0)) *
              static_cast<std::uint64_t>(std::max(sdk.getFrameSizeY(), 0));
  }
  const std::uint64_t needed = pixels * kOutputBytesPerPixel;
  const std::optional<std::uint64_t> available = availableMemoryBytes();
  if (memoryAdmitsWithin(needed, available)) return std::string();
  // What the output could have: the reserve is not the output's.
  return "needs " + megabytes(needed, true) + " of memory, " +
         megabytes(*available - std::min(*available, kMemoryReserveBytes)) + " available";
}

std::string readThroughPlugin(const PluginLibrary& plugin, const std::string& scan,
                              PluginScan& out) {
  if (plugin.readDotProductNumberOfScans(scan.c_str()) < 1)
    return "the plug-in finds no scan in it";
  if (plugin.read(scan, out)) return std::string();
  // The file may have changed, or the plug-in's own code and threads took the memory.
  const std::string problem = importProblem(scan);
  return problem.empty()
             ? "the plug-in cannot read it (a pose that is not a rotation, or unreadable pixels)"
             : problem;
}

}  // namespace quarn
