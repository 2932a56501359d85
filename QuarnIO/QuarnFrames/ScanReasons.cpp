#include "ScanReasons.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "ScanSession.h"
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

std::string MemoryShortage::needed() const {
  return std::to_string(neededBytes / 1000000 + (neededBytes % 1000000 != 0)) + " MB";
}

std::string MemoryShortage::available() const {
  return std::to_string(availableBytes / 1000000) + " MB";
}

ImportProblem findImportProblem(const std::string& scan) {
  ScanSession session(scan);
  if (session.status() != 0) return {describeOpenStatus(scan, session.status()), std::nullopt};
  const std::optional<std::int64_t> pixels = session.pixelCount();
  const std::uint64_t needed =
      pixels ? static_cast<std::uint64_t>(*pixels) * kOutputBytesPerPixel : ~std::uint64_t{0};
  const std::optional<std::uint64_t> available = availableMemoryBytes();
  if (memoryAdmitsWithin(needed, available)) return {};
  const std::uint64_t usable =
      available ? *available - std::min(*available, kMemoryReserveBytes) : 0;
  const MemoryShortage shortage{needed, usable};
  return {"needs " + shortage.needed() + " of memory, " + shortage.available() + " available",
          shortage};
}

}  // namespace quarn
