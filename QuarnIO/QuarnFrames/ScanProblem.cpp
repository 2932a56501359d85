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

std::string MemoryShortage::needed() const {
  return std::to_string(neededBytes / 1000000 + (neededBytes % 1000000 != 0)) + " MB";
}

std::string MemoryShortage::available() const {
  return std::to_string(availableBytes / 1000000) + " MB";
}

ImportProblem findImportProblem(const std::string& scan) {
  DotProductAPI sdk;
  const std::string problem = describeOpenStatus(scan, sdk.open(sdkPath(scan).c_str(), nullptr));
  if (!problem.empty()) return {problem, std::nullopt};
  std::uint64_t pixels = 0;  // of every frame, as the plug-in counts them
  for (int f = 0; f < sdk.getFrameCount(); ++f) {
    if (sdk.openFrame(f) != scan::kOk) return {};  // the plug-in's read says why
    pixels += static_cast<std::uint64_t>(std::max(sdk.getFrameSizeX(), 0)) *
              static_cast<std::uint64_t>(std::max(sdk.getFrameSizeY(), 0));
  }
  const std::uint64_t needed = pixels * kOutputBytesPerPixel;
  const std::optional<std::uint64_t> available = availableMemoryBytes();
  if (memoryAdmitsWithin(needed, available)) return {};
  const MemoryShortage shortage{needed, *available - std::min(*available, kMemoryReserveBytes)};
  return {"needs " + shortage.needed() + " of memory, " + shortage.available() + " available",
          shortage};
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
