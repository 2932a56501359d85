#include "ScanOutput.h"

#include <stdexcept>

#include "OutputFile.h"

namespace quarn::output {

void writeScanFile(const std::string& path, const scan::PoseArray& scanPose,
                   const std::vector<scan::ScanFrame>& frames) {
  OutputFile file(path, true);
  try {
    scan::writeScan(file.stream(), scanPose, frames);
  } catch (const std::runtime_error&) {
    if (!file.stream()) throw file.error();  // the system's reason, not the writer's
    throw;
  }
  file.commit();
}

}  // namespace quarn::output
