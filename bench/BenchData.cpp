#include "BenchData.h"

#include <filesystem>
#include <sstream>

#include "ImportCommand.h"
#include "QuietStdout.h"
#include "ScanSession.h"
#include "Seconds.h"

namespace fs = std::filesystem;

namespace quarn::bench {

namespace {

// A kept scan is only trusted when the SDK opens it with the frames and sizes asked for: an
// interrupted or older run must not be timed as this size.
bool scanMatches(const std::string& path, const tool::SampleOptions& options) {
  ScanSession session(path);
  if (session.status() != 0 || session.frameCount() != options.frames) return false;
  for (int i = 0; i < options.frames; ++i) {
    const FrameSizeAndPose frame = session.frame(i);
    if (frame.sizeX != options.width || frame.sizeY != options.height) return false;
  }
  return true;
}

}  // namespace

BenchFiles prepareBenchFiles(const std::string& dataDir, const tool::SampleOptions& options,
                             const std::string& plugin, std::ostream& log) {
  fs::create_directories(dataDir);
  const std::string stem =
      (fs::path(dataDir) /
       ("sample-" + std::to_string(options.frames) + "x" + std::to_string(options.width) + "x" +
        std::to_string(options.height) + "-seed" + std::to_string(options.seed)))
          .string();
  BenchFiles files{stem + ".scan", stem + ".ply"};

  if (!fs::exists(files.scan) || !scanMatches(files.scan, options)) {
    fs::remove(files.ply);  // it came from the scan being replaced
    log << "bench: writing " << files.scan << std::endl;
    const Clock::time_point start = Clock::now();
    tool::writeSampleScan(files.scan, options);
    log << "bench: wrote the scan in " << secondsSince(start) << " s" << std::endl;
  }
  if (!fs::exists(files.ply)) {
    log << "bench: writing " << files.ply << std::endl;
    const Clock::time_point start = Clock::now();
    ConversionRequest import;
    import.scan = files.scan;
    import.output = files.ply;
    import.plugin = plugin;
    std::ostringstream report;  // the tool's summary: not wanted here
    {
      QuietStdout quiet;
      tool::importScan(import, &report);
    }
    log << "bench: wrote the PLY in " << secondsSince(start) << " s" << std::endl;
  }
  return files;
}

}  // namespace quarn::bench
