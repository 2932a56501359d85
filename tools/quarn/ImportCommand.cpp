#include "ImportCommand.h"

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "DotProductAPI.h"
#include "Formatted.h"
#include "OutputFile.h"
#include "Platform.h"
#include "PluginLibrary.h"
#include "PlyWriter.h"
#include "PointCloud.h"
#include "PreviewRenderer.h"
#include "ScanProblem.h"
#include "Seconds.h"

namespace fs = std::filesystem;

namespace quarn::tool {

fs::path defaultPluginPath(const fs::path& executable) {
  return executable.parent_path() / QUARN_PLUGIN_RELATIVE_DIR / QUARN_PLUGIN_FILE_NAME;
}

void importScan(const ImportOptions& options, std::ostream& out) {
  const std::string problem = importProblem(options.scan);
  if (!problem.empty()) throw std::runtime_error("cannot import " + options.scan + ": " + problem);
  // Unwritable outputs fail here, before the read.
  scan::OutputFile ply(options.output);
  std::unique_ptr<scan::OutputFile> preview;
  if (!options.preview.empty()) preview = std::make_unique<scan::OutputFile>(options.preview);

  const PluginLibrary plugin(options.plugin);
  out << "plug-in " << options.plugin << '\n';
  out.flush();  // the plug-in prints its own lines, perhaps through another runtime

  const Clock::time_point start = Clock::now();
  PluginScan read;
  const std::string readProblem = readThroughPlugin(plugin, options.scan, read);
  if (!readProblem.empty()) {
    throw std::runtime_error("cannot import " + options.scan + ": " + readProblem);
  }
  const double readSeconds = secondsSince(start);

  const Clock::time_point writeStart = Clock::now();
  const PointCloud cloud = validPoints(read.points, read.colours);
  const Eigen::Index pixels = read.points.cols();
  read = PluginScan();  // the output's memory is not needed beside the cloud's
  writePly(ply.stream(), cloud);
  const double plySeconds = secondsSince(writeStart);
  double previewSeconds = 0;
  if (preview) {
    const Clock::time_point previewStart = Clock::now();
    writePng(preview->stream(), renderPreview(cloud, options.previewWidth, options.previewHeight));
    previewSeconds = secondsSince(previewStart);
  }
  ply.commit();
  if (preview) preview->commit();

  DotProductAPI sdk;  // the frame count, which the plug-in only prints
  if (sdk.open(sdkPath(options.scan).c_str(), nullptr) == 0)
    out << "frames  " << sdk.getFrameCount() << '\n';
  out << "pixels  " << pixels << '\n';
  out << "points  " << cloud.size();
  if (pixels > 0) out << " (" << formatted("%.1f", 100.0 * cloud.size() / pixels) << " %)";
  out << '\n';
  if (cloud.size() > 0) {
    out << "bounds ";
    const char* axes = "xyz";
    for (int i = 0; i < 3; ++i) {
      out << ' ' << axes[i] << " [" << formatted("%.4f", cloud.low[i]) << ", "
          << formatted("%.4f", cloud.high[i]) << ']';
    }
    out << '\n';
  }
  out << "time    read " << formatted("%.2f", readSeconds) << " s, PLY "
      << formatted("%.2f", plySeconds) << " s";
  if (preview) out << ", preview " << formatted("%.2f", previewSeconds) << " s";
  out << '\n' << "wrote   " << options.output;
  if (preview) out << ", " << options.preview;
  out << '\n';
}

}  // namespace quarn::tool
