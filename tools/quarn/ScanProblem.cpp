#include "ScanProblem.h"

#include <filesystem>
#include <system_error>

#include "DotProductAPI.h"
#include "Platform.h"
#include "ScanStatus.h"

namespace quarn::tool {

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
  return describeOpenStatus(path, sdk.open(path.c_str(), nullptr));
}

std::string importProblem(const std::string& scan) { return scanOpenProblem(scan); }

}  // namespace quarn::tool
