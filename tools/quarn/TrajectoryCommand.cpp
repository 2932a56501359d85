#include "TrajectoryCommand.h"

#include <stdexcept>
#include <vector>

#include "FrameReader.h"
#include "OutputFile.h"
#include "Trajectory.h"

namespace quarn::tool {

void writeScanTrajectory(const std::string& scan, const std::string& output,
                         const std::string& format, std::ostream* out) {
  if (scan == "-")
    throw std::invalid_argument("a scan cannot be read from standard input: give its file name");
  output::checkDistinctFiles({scan}, {output});
  const TrajectoryFormat written = trajectoryFormatOf(output, format);
  std::vector<FramePose> poses;
  try {
    FrameReader reader(scan);
    for (int f = 0; f < reader.frameCount(); ++f) poses.push_back({f, reader.framePose(f)});
  } catch (const ScanError& e) {
    throw std::runtime_error("cannot read " + scan + ": " + e.what());
  }
  output::OutputFile file(output);
  writeTrajectory(written, poses, file.stream());
  file.commit();
  if (out == nullptr) return;
  *out << "wrote   " << (output == "-" ? "standard output" : output) << " (" << poses.size()
       << " poses)\n";
}

}  // namespace quarn::tool
