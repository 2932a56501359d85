#include "ImportCommand.h"

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "DotProductAPI.h"
#include "Formatted.h"
#include "OutputFile.h"
#include "Platform.h"
#include "PluginLibrary.h"
#include "PointCloud.h"
#include "PointFormat.h"
#include "PreviewRenderer.h"
#include "ScanProblem.h"
#include "Seconds.h"

namespace fs = std::filesystem;

namespace quarn::tool {

fs::path defaultPluginPath(const fs::path& executable) {
  return executable.parent_path() / QUARN_PLUGIN_RELATIVE_DIR / QUARN_PLUGIN_FILE_NAME;
}

namespace {

std::string outputName(const std::string& path) { return path == "-" ? "standard output" : path; }

}  // namespace

void importScan(const ImportOptions& options, std::ostream& out) {
  // A wrong command line is told before anything is read or written.
  std::vector<std::string> outputs = {options.output};
  if (!options.preview.empty()) outputs.push_back(options.preview);
  scan::checkDistinctFiles({options.scan, options.plugin}, outputs);
  const PointFormat format = pointFormatOf(options.output);
  if (!options.preview.empty()) checkPictureFormat(options.preview);

  const std::string problem = importProblem(options.scan);
  if (!problem.empty()) throw std::runtime_error("cannot import " + options.scan + ": " + problem);
  // Unwritable outputs fail here, before the read.
  scan::OutputFile points(options.output);
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
  writePoints(*makePointWriter(format, points.stream(), cloud.size()), cloud);
  const double writeSeconds = secondsSince(writeStart);
  double previewSeconds = 0;
  if (preview) {
    const Clock::time_point previewStart = Clock::now();
    writePng(preview->stream(), renderPreview(cloud, options.previewWidth, options.previewHeight));
    previewSeconds = secondsSince(previewStart);
  }
  points.commit();
  if (preview) preview->commit();

  DotProductAPI sdk;  // the frame count, which the plug-in only prints
  if (sdk.open(sdkPath(options.scan).c_str(), nullptr) == 0)
    out << "frames  " << sdk.getFrameCount() << '\n';
  out << "pixels  " << pixels << '\n';
  out << "points  " << cloud.size();
  if (pixels > 0) out << " (" << formatted("%.1f", 100.0 * cloud.size() / pixels) << " %)";
  out << '\n';
  out << "bounds ";
  if (cloud.size() == 0) out << " no points";
  for (std::size_t i = 0; i < 3 && cloud.size() > 0; ++i) {
    out << ' ' << "xyz"[i] << " [" << formatted("%.4f", cloud.low[i]) << ", "
        << formatted("%.4f", cloud.high[i]) << ']';
  }
  out << '\n';
  out << "time    read " << formatted("%.2f", readSeconds) << " s, " << formatName(format) << ' '
      << formatted("%.2f", writeSeconds) << " s";
  if (preview) out << ", preview " << formatted("%.2f", previewSeconds) << " s";
  out << '\n' << "wrote   " << outputName(options.output);
  if (preview) out << ", " << outputName(options.preview);
  out << '\n';
}

}  // namespace quarn::tool
