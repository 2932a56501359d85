#pragma once

#include <ostream>
#include <string>

namespace quarn::tool {

// Prints the scan's frames, sizes, stored poses and how many pixels have a point, a colour and
// both, as the SDK reports them; `json`: as one JSON object for scripts, with each frame's
// pose in output coordinates too (`output_pose`, what quarn.trajectory gives; null where a pose
// is not a rotation), matrices as rows of numbers that read back exactly. Throws
// std::runtime_error with the reason when the SDK refuses the file or a frame's pixels cannot
// be read.
void printScanInfo(const std::string& path, std::ostream& out, bool json = false);

}  // namespace quarn::tool
