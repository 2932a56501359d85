#include "ScanConversion.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "FinitePoints.h"
#include "OutputFile.h"
#include "PluginLibrary.h"
#include "PointWriter.h"
#include "PreviewRenderer.h"
#include "ScanReasons.h"
#include "Seconds.h"
#include "VoxelGrid.h"

namespace quarn {

namespace {

void keepFinite(PointChunk& chunk) {
  const std::size_t kept =
      keepFinitePoints(chunk.xyz, chunk.count, [&](std::size_t from, std::size_t to) {
        std::memcpy(chunk.xyz + 3 * to, chunk.xyz + 3 * from, 3 * sizeof(float));
        std::memcpy(chunk.rgb + 3 * to, chunk.rgb + 3 * from, 3);
        if (chunk.colourless != nullptr) chunk.colourless[to] = chunk.colourless[from];
        if (chunk.normals != nullptr)
          std::memcpy(chunk.normals + 3 * to, chunk.normals + 3 * from, 3 * sizeof(float));
        if (chunk.frameNormals != nullptr) {
          std::memcpy(chunk.frameNormals + 3 * to, chunk.frameNormals + 3 * from,
                      3 * sizeof(float));
        }
        // And, where the format keeps them, the measured point and the pixel.
        if (chunk.frameXyz == nullptr) return;
        std::memcpy(chunk.frameXyz + 3 * to, chunk.frameXyz + 3 * from, 3 * sizeof(float));
        std::memcpy(chunk.pixel + 2 * to, chunk.pixel + 2 * from, 2 * sizeof(std::int32_t));
      });
  chunk.leftOut = chunk.count - kept;
  chunk.count = kept;
}

// Merged, a format that makes each frame a scan of its own (E57) gets the points without their
// frames' structure; formats that keep each point's frame (LAS) are not changed by it.
bool mergesFrames(const ConversionRequest& request, const PointFormat& format) {
  return request.mergeFrames && format.keepsMeasured;
}

// The outputs, opened: unwritable ones fail here, before the read.
struct Outputs {
  Outputs(const ConversionRequest& request, const PointFormat& format)
      : points(request.output, format.seeks) {
    if (!request.preview.empty()) preview = std::make_unique<output::OutputFile>(request.preview);
  }
  void commit() {
    points.commit();
    if (preview) preview->commit();
  }

  output::OutputFile points;
  std::unique_ptr<output::OutputFile> preview;
};

}  // namespace

ConversionReport convertPoints(PointSource& input, const ConversionRequest& request,
                               const PointFormat& format, std::ostream& points, bool seekable,
                               std::ostream* preview) {
  ConversionReport report;
  report.frames = input.frames();
  report.pixels = input.pixels();
  const ProgressCallback& progress = request.progress;
  const Clock::time_point start = Clock::now();
  // The points without a colour that are kept: those among the finite ones.
  std::uint64_t keptUncoloured = 0;
  const auto countUncoloured = [&](const PointChunk& chunk) {
    if (chunk.colourless == nullptr) return;
    for (std::size_t i = 0; i < chunk.count; ++i) keptUncoloured += chunk.colourless[i];
  };
  // Thinned, the cells are the points from here on; the progress is the grid's filling.
  std::unique_ptr<PointSource> cells;
  if (request.voxel) {
    VoxelGrid grid(*request.voxel);
    input.pass(keepFinite, [&](const PointChunk& chunk) {
      grid.add(chunk);
      countUncoloured(chunk);
      report.nonFinite += chunk.leftOut;
      if (progress) progress({chunk.frame + 1, report.frames, grid.points(), secondsSince(start)});
    });
    report.voxel = request.voxel;
    report.voxelPoints = grid.points();
    cells = grid.takeCells(input);
  }
  PointSource& source = cells ? *cells : input;
  const bool merged = mergesFrames(request, format);

  std::vector<std::uint64_t> counts;  // each chunk's points, when counted first
  std::uint64_t total = 0;
  PointBounds bounds;  // the preview's camera needs them before the points
  if (preview) {
    source.pass(keepFinite, [&](const PointChunk& chunk) {
      bounds.add(chunk.xyz, chunk.count);
      total += counts.emplace_back(chunk.count);
    });
  } else if (format.headerHoldsCount && !seekable) {
    counts = source.countFinitePoints();
    for (const std::uint64_t count : counts) total += count;
  } else {
    total = PointWriter::kUncounted;  // the header is written again at the end
  }
  std::size_t chunks = 0;
  const auto checked = [&](const PointChunk& chunk) {
    if (!counts.empty() && (chunks >= counts.size() || counts[chunks] != chunk.count))
      throw ScanError("the scan changed while it was read");
    ++chunks;
  };

  std::optional<PreviewRenderer> renderer;
  if (preview) renderer.emplace(request.previewWidth, request.previewHeight, bounds, total);
  const std::unique_ptr<PointWriter> writer =
      startPointWriter(format, points, total, report.pixels, request.normals);
  const Clock::time_point writing = Clock::now();
  source.pass(keepFinite, [&](const PointChunk& chunk) {
    checked(chunk);
    report.points += chunk.count;
    if (!cells) {
      countUncoloured(chunk);
      if (progress)
        progress({chunk.frame + 1, report.frames, report.points, secondsSince(writing)});
    }
    report.nonFinite += chunk.leftOut;
    report.bounds.add(chunk.xyz, chunk.count);
    for (std::size_t i = 0; i < chunk.count && chunk.normals != nullptr; ++i) {
      const float* n = chunk.normals + 3 * i;
      report.withoutNormal += n[0] == 0 && n[1] == 0 && n[2] == 0;
    }
    PointBlock block = chunk.block();
    if (merged) {
      block = PointBlock{block.xyz, block.rgb, block.count, block.colourless};
      block.normals = chunk.normals;
    }
    report.scans += format.keepsMeasured && block.frame >= 0 && block.count > 0;
    Clock::time_point at = Clock::now();
    writer->write(block);
    report.writeSeconds += secondsSince(at);
    if (!renderer) return;
    at = Clock::now();
    renderer->fit(chunk.xyz, chunk.count);
    report.previewSeconds += secondsSince(at);
  });
  writer->finish();
  report.withoutColour = request.keepUncoloured ? keptUncoloured : source.withoutColour();
  // Reading: what this thread did not spend writing or on the picture.
  report.readSeconds = secondsSince(start) - report.writeSeconds - report.previewSeconds;
  if (!renderer) return report;

  const Clock::time_point drawStart = Clock::now();
  chunks = 0;
  source.pass(keepFinite, [&](const PointChunk& chunk) {
    checked(chunk);
    renderer->draw(chunk.xyz, chunk.rgb, chunk.count);
  });
  writePng(*preview, renderer->image());
  report.previewSeconds += secondsSince(drawStart);
  return report;
}

std::string optionName(const ConversionRequest& request, const std::string& flag) {
  if (request.caller == ConversionRequest::Caller::commandLine) return "--" + flag;
  std::string keyword = flag;
  for (char& c : keyword) c = c == '-' ? '_' : c;
  return keyword;
}

ConversionReport convertScan(const ConversionRequest& request, std::ostream* log,
                             std::ostream* notes) {
  const auto option = [&](const char* flag) { return optionName(request, flag); };
  // A wrong request is told before anything is read or written.
  if (request.scan == "-")
    throw std::invalid_argument("a scan cannot be read from standard input: give its file name");
  std::vector<std::string> outputs = {request.output};
  if (!request.preview.empty()) outputs.push_back(request.preview);
  std::vector<std::string> inputs = {request.scan};
  if (request.read != ConversionRequest::Read::frames) inputs.push_back(request.plugin);
  output::checkDistinctFiles(inputs, outputs);
  const PointFormat& format = pointFormatOf(request.output, request.format, option("format"));
  if (!request.preview.empty()) checkPictureFormat(request.preview);
  if (request.voxel && (!(*request.voxel > 0) || !std::isfinite(*request.voxel))) {
    throw std::invalid_argument(option("voxel") +
                                ": the cells' size must be a positive number of metres");
  }
  const std::string framesOnly = " frame by frame, without the plug-in";
  if (request.normals && request.read == ConversionRequest::Read::whole) {
    throw std::invalid_argument("the plug-in's whole read holds no pixel grid: " +
                                option("normals") + " are made" + framesOnly);
  }
  // Thinned or merged, a format's points keep no frame's structure: any source will do. (A
  // format that keeps each point's frame still needs the frames, merged or not.)
  const bool keepsFrames = format.keepsFrames && !request.voxel && !mergesFrames(request, format);
  if (request.pluginNamed) {  // named for a read that would not load it
    if (request.read == ConversionRequest::Read::frames)
      throw std::invalid_argument(option("plugin") + ": " + option("stream") + " reads" +
                                  framesOnly);
    if (keepsFrames)
      throw std::invalid_argument(option("plugin") + ": " + format.name + " is read" + framesOnly);
    if (request.keepUncoloured) {
      throw std::invalid_argument(option("plugin") + ": " + option("keep-uncoloured") + " is read" +
                                  framesOnly);
    }
    if (request.normals) {
      throw std::invalid_argument(option("plugin") + ": " + option("normals") + " are made" +
                                  framesOnly);
    }
  }
  if (request.keepUncoloured && request.read == ConversionRequest::Read::whole) {
    throw std::invalid_argument(
        "the plug-in's whole read leaves out the points without a colour: " +
        option("keep-uncoloured") + " reads" + framesOnly);
  }
  if (keepsFrames && request.read == ConversionRequest::Read::whole) {
    throw std::invalid_argument(std::string(format.name) +
                                " keeps each frame's structure, which the plug-in's whole read "
                                "does not hold: it is read" +
                                framesOnly);
  }

  bool frameByFrame = request.read == ConversionRequest::Read::frames || keepsFrames ||
                      request.keepUncoloured || request.normals;
  if (!frameByFrame) {
    const ImportProblem problem = findImportProblem(request.scan);
    if (problem.memory && request.read == ConversionRequest::Read::automatic) {
      if (notes) {
        *notes << "streaming frame by frame: the whole read needs " << problem.memory->needed()
               << ", " << problem.memory->available() << " available" << std::endl;
      }
      frameByFrame = true;
    } else if (!problem.reason.empty()) {
      throw ScanError(problem.reason);
    }
  }

  const Clock::time_point start = Clock::now();
  std::unique_ptr<PointSource> source;
  std::unique_ptr<Outputs> files;
  if (frameByFrame) {
    FrameSourceOptions options;
    options.measured = format.keepsMeasured && keepsFrames;
    options.keepUncoloured = request.keepUncoloured;
    options.normals = request.normals;
    source = frameSource(request.scan, options);  // the scan's faults first
    files = std::make_unique<Outputs>(request, format);
    if (log) *log << "read    frame by frame\n";
  } else {
    files = std::make_unique<Outputs>(request, format);
    const PluginLibrary plugin(request.plugin);
    if (log) {
      *log << "plug-in " << request.plugin << '\n';
      log->flush();  // the plug-in prints its own lines, perhaps through another runtime
    }
    WholeRead read;
    readWhole(plugin, request.scan, read, request.quiet);
    countColumns(request.scan, read);  // for the points left out, which the report tells
    source = wholeReadSource(std::move(read));
  }
  const double opening = secondsSince(start);
  std::ostream* preview = files->preview ? &files->preview->stream() : nullptr;
  ConversionReport report;
  try {
    report = convertPoints(*source, request, format, files->points.stream(),
                           files->points.seekable(), preview);
  } catch (const PointFormatError& e) {
    throw PointFormatError("cannot write " + request.output + ": " + e.what());
  } catch (const VoxelSizeError& e) {
    throw std::invalid_argument(option("voxel") + ": " + e.what());
  }
  source.reset();  // the read's memory goes before the files are put in place
  files->commit();
  report.frameByFrame = frameByFrame;
  report.keptUncoloured = request.keepUncoloured;
  report.format = &format;
  report.readSeconds += opening;
  return report;
}

}  // namespace quarn
