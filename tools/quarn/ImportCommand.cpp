#include "ImportCommand.h"

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "DotProductAPI.h"
#include "FrameReader.h"
#include "ImportReport.h"
#include "OutputFile.h"
#include "Platform.h"
#include "PluginLibrary.h"
#include "PointCloud.h"
#include "PointFormat.h"
#include "PreviewRenderer.h"
#include "ScanProblem.h"
#include "Seconds.h"
#include "StreamedImport.h"

namespace fs = std::filesystem;

namespace quarn::tool {

fs::path defaultPluginPath(const fs::path& executable) {
  return executable.parent_path() / QUARN_PLUGIN_RELATIVE_DIR / QUARN_PLUGIN_FILE_NAME;
}

namespace {

std::runtime_error importError(const ImportOptions& options, const std::string& reason) {
  return std::runtime_error("cannot import " + options.scan + ": " + reason);
}

// The outputs, opened: unwritable ones fail here, before the read.
struct Outputs {
  explicit Outputs(const ImportOptions& options) : points(options.output) {
    if (!options.preview.empty()) preview = std::make_unique<scan::OutputFile>(options.preview);
  }
  void commit() {
    points.commit();
    if (preview) preview->commit();
  }

  scan::OutputFile points;
  std::unique_ptr<scan::OutputFile> preview;
};

ImportReport importThroughPlugin(const ImportOptions& options, PointFormat format,
                                 std::ostream& out) {
  Outputs outputs(options);
  const PluginLibrary plugin(options.plugin);
  out << "plug-in " << options.plugin << '\n';
  out.flush();  // the plug-in prints its own lines, perhaps through another runtime

  ImportReport report;
  const Clock::time_point start = Clock::now();
  PluginScan read;
  const std::string readProblem = readThroughPlugin(plugin, options.scan, read);
  if (!readProblem.empty()) throw importError(options, readProblem);
  report.readSeconds = secondsSince(start);

  const Clock::time_point writeStart = Clock::now();
  const PointCloud cloud = validPoints(read.points, read.colours);
  report.pixels = static_cast<std::uint64_t>(read.points.cols());
  report.bounds = cloud.bounds;
  read = PluginScan();  // the output's memory is not needed beside the cloud's
  writePoints(*makePointWriter(format, outputs.points.stream(), cloud.size(), report.pixels),
              cloud);
  report.writeSeconds = secondsSince(writeStart);
  if (outputs.preview) {
    const Clock::time_point previewStart = Clock::now();
    writePng(outputs.preview->stream(),
             renderPreview(cloud, options.previewWidth, options.previewHeight));
    report.previewSeconds = secondsSince(previewStart);
  }
  outputs.commit();

  DotProductAPI sdk;  // the frame count, which the plug-in only prints
  if (sdk.open(sdkPath(options.scan).c_str(), nullptr) == 0) report.frames = sdk.getFrameCount();
  return report;
}

ImportReport importFrameByFrame(const ImportOptions& options, PointFormat format,
                                std::ostream& out) {
  try {
    FrameReader reader(options.scan);
    Outputs outputs(options);
    out << "read    frame by frame\n";
    std::ostream* preview = outputs.preview ? &outputs.preview->stream() : nullptr;
    const ImportReport report =
        streamScan(reader, options.scan, format, outputs.points.stream(), outputs.points.seekable(),
                   preview, options.previewWidth, options.previewHeight);
    outputs.commit();
    return report;
  } catch (const FrameError& e) {
    throw importError(options, e.what());
  }
}

}  // namespace

void importScan(const ImportOptions& options, std::ostream& out, std::ostream& notes) {
  // A wrong command line is told before anything is read or written.
  std::vector<std::string> outputs = {options.output};
  if (!options.preview.empty()) outputs.push_back(options.preview);
  scan::checkDistinctFiles({options.scan, options.plugin}, outputs);
  const PointFormat format = pointFormatOf(options.output);
  if (!options.preview.empty()) checkPictureFormat(options.preview);

  bool stream = options.stream;
  if (!stream) {
    const ImportProblem problem = findImportProblem(options.scan);
    if (problem.memory) {
      notes << "streaming frame by frame: the whole read needs " << problem.memory->needed() << ", "
            << problem.memory->available() << " available" << std::endl;
      stream = true;
    } else if (!problem.reason.empty()) {
      throw importError(options, problem.reason);
    }
  }
  const ImportReport report =
      stream ? importFrameByFrame(options, format, out) : importThroughPlugin(options, format, out);
  printImportReport(out, report, format, options.output, options.preview);
}

}  // namespace quarn::tool
