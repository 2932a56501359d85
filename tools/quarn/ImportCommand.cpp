#include "ImportCommand.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "DotProductAPI.h"
#include "OutputFile.h"
#include "Platform.h"
#include "PluginLibrary.h"
#include "PlyWriter.h"
#include "PointCloud.h"
#include "PreviewRenderer.h"
#include "ScanProblem.h"

namespace fs = std::filesystem;

namespace quarn::tool {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

}  // namespace

fs::path defaultPluginPath(const fs::path& executable) {
  return executable.parent_path() / QUARN_PLUGIN_RELATIVE_DIR / QUARN_PLUGIN_FILE_NAME;
}

void importScan(const ImportOptions& options, std::ostream& out) {
  std::error_code error;
  if (!fs::exists(pathFromUtf8(options.scan), error)) {
    throw std::runtime_error("cannot import " + options.scan + ": no such file");
  }
  // Unwritable outputs fail here, before the read.
  OutputFile ply(options.output);
  std::unique_ptr<OutputFile> preview;
  if (!options.preview.empty()) preview = std::make_unique<OutputFile>(options.preview);

  const PluginLibrary plugin(options.plugin);
  out << "plug-in " << options.plugin << '\n';
  out.flush();  // the plug-in prints its own lines, perhaps through another runtime

  const Clock::time_point start = Clock::now();
  if (plugin.readDotProductNumberOfScans(options.scan.c_str()) < 1) {
    throw std::runtime_error("cannot import " + options.scan + ": the plug-in finds no scan in it");
  }
  Eigen::MatrixXd points, transform;
  ColourMatrix colours;
  if (!plugin.readDotProduct(options.scan.c_str(), 0, points, colours, nullptr, nullptr,
                             transform)) {
    std::string problem = scanOpenProblem(options.scan);
    if (problem.empty()) {
      problem = "the plug-in cannot read it (a pose that is not a rotation, or unreadable pixels)";
    }
    throw std::runtime_error("cannot import " + options.scan + ": " + problem);
  }
  const double readSeconds = secondsSince(start);

  const Clock::time_point writeStart = Clock::now();
  const PointCloud cloud = validPoints(points, colours);
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
  if (sdk.open(options.scan.c_str(), nullptr) == 0)
    out << "frames  " << sdk.getFrameCount() << '\n';
  out << "pixels  " << points.cols() << '\n';
  out << "points  " << cloud.size();
  if (points.cols() > 0) out << " (" << fixed(100.0 * cloud.size() / points.cols(), 1) << " %)";
  out << '\n';
  if (cloud.size() > 0) {
    out << "bounds ";
    const char* axes = "xyz";
    for (int i = 0; i < 3; ++i) {
      out << ' ' << axes[i] << " [" << fixed(cloud.low[i], 4) << ", " << fixed(cloud.high[i], 4)
          << ']';
    }
    out << '\n';
  }
  out << "time    read " << fixed(readSeconds, 2) << " s, PLY " << fixed(plySeconds, 2) << " s";
  if (preview) out << ", preview " << fixed(previewSeconds, 2) << " s";
  out << '\n' << "wrote   " << options.output;
  if (preview) out << ", " << options.preview;
  out << '\n';
}

}  // namespace quarn::tool
