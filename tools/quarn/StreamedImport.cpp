#include "StreamedImport.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "FramePipeline.h"
#include "PreviewRenderer.h"
#include "Seconds.h"

namespace quarn::tool {

namespace {

bool hasNaN(const float* p) { return std::isnan(p[0]) || std::isnan(p[1]) || std::isnan(p[2]); }

// Drops the points with a NaN coordinate, as the whole read's conversion drops their columns.
void dropNaN(Frame& frame) {
  // Most frames have none: a look at the bits first, without a branch per coordinate. With
  // the sign cleared, a NaN's bits exceed an infinity's 0x7f800000, so adding 0x7fffff sets
  // the top bit for NaNs alone.
  std::uint32_t tops = 0;
  for (const float value : frame.points) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    tops |= (bits & 0x7fffffffu) + 0x7fffffu;
  }
  if ((tops & 0x80000000u) == 0) return;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < frame.size(); ++i) {
    if (hasNaN(&frame.points[3 * i])) continue;
    if (kept != i) {
      std::memcpy(&frame.points[3 * kept], &frame.points[3 * i], 3 * sizeof(float));
      std::memcpy(&frame.colours[3 * kept], &frame.colours[3 * i], 3);
    }
    ++kept;
  }
  frame.points.resize(3 * kept);
  frame.colours.resize(3 * kept);
}

using Item = FramePipeline::Item;

void readPoints(FrameReader& reader, Item& item) {
  reader.read(item.index, item.frame);
  dropNaN(item.frame);
}

}  // namespace

ImportReport streamScan(FrameReader& reader, const std::string& scan, PointFormat format,
                        std::ostream& points, bool seekable, std::ostream* preview,
                        int previewWidth, int previewHeight) {
  ImportReport report;
  report.frames = reader.frameCount();
  const std::uint64_t pixels = reader.pixelCount();
  FramePipeline pipeline(reader, scan, pipelineWorkers());
  const Clock::time_point start = Clock::now();
  std::vector<std::uint64_t> counts;  // each frame's points, when counted first
  std::uint64_t total = 0;
  PointBounds bounds;  // the preview's camera needs them before the points
  if (preview) {
    pipeline.pass(readPoints, [&](Item& item) {
      const Frame& frame = item.frame;
      bounds.add(frame.points.data(), frame.size());
      total += counts.emplace_back(frame.size());
    });
  } else if (countFirst(format) && !seekable) {
    pipeline.pass([](FrameReader& r, Item& item) { item.count = r.countPoints(item.index); },
                  [&](Item& item) { total += counts.emplace_back(item.count); });
  } else {
    total = PointWriter::kUncounted;  // PLY and PCD: the header is written again at the end
  }
  const auto changed = [] { return std::runtime_error("the scan changed while it was read"); };
  const auto checked = [&](const Item& item) -> const Frame& {
    if (!counts.empty() && counts[static_cast<std::size_t>(item.index)] != item.frame.size())
      throw changed();
    return item.frame;
  };

  std::optional<PreviewRenderer> renderer;
  if (preview) renderer.emplace(previewWidth, previewHeight, bounds);
  const std::unique_ptr<PointWriter> writer = makePointWriter(format, points, total, pixels);
  pipeline.pass(readPoints, [&](Item& item) {
    const Frame& frame = checked(item);
    report.pixels += static_cast<std::uint64_t>(std::max(frame.sizeX, 0)) *
                     static_cast<std::uint64_t>(std::max(frame.sizeY, 0));
    if (report.pixels > pixels) throw changed();
    report.bounds.add(frame.points.data(), frame.size());
    Clock::time_point at = Clock::now();
    writer->write(frame.points.data(), frame.colours.data(), frame.size());
    report.writeSeconds += secondsSince(at);
    if (!renderer) return;
    at = Clock::now();
    renderer->frame(frame.points.data(), frame.size());
    report.previewSeconds += secondsSince(at);
  });
  if (report.pixels != pixels) throw changed();
  writer->finish();
  // Reading: what this thread did not spend writing or framing.
  report.readSeconds = secondsSince(start) - report.writeSeconds - report.previewSeconds;
  if (!renderer) return report;

  const Clock::time_point drawStart = Clock::now();
  pipeline.pass(readPoints, [&](Item& item) {
    const Frame& frame = checked(item);
    renderer->draw(frame.points.data(), frame.colours.data(), frame.size());
  });
  writePng(*preview, renderer->image());
  report.previewSeconds += secondsSince(drawStart);
  return report;
}

}  // namespace quarn::tool
