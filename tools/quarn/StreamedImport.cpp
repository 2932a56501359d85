#include "StreamedImport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "PreviewRenderer.h"
#include "Seconds.h"

namespace quarn::tool {

namespace {

bool hasNaN(const float* p) { return std::isnan(p[0]) || std::isnan(p[1]) || std::isnan(p[2]); }

// Drops the points with a NaN coordinate, as the whole read's conversion drops their columns.
void dropNaN(Frame& frame) {
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

// The frames read again and again, each time their points without NaN, checked against the
// counts of the first pass that took them.
class FramePasses {
 public:
  explicit FramePasses(FrameReader& reader) : reader_(reader) {}

  int frames() const { return reader_.frameCount(); }

  // Frame f's points, the time taken added to `seconds`.
  Frame& read(int f, double& seconds) {
    const Clock::time_point start = Clock::now();
    reader_.read(f, frame_);
    dropNaN(frame_);
    seconds += secondsSince(start);
    if (static_cast<int>(counts_.size()) == frames() && counts_[f] != frame_.size())
      throw std::runtime_error("the scan changed while it was read");
    return frame_;
  }

  // Each frame's count, by `count(f)`; the total.
  template <class Count>
  std::uint64_t count(Count count) {
    std::uint64_t total = 0;
    for (int f = 0; f < frames(); ++f) total += counts_.emplace_back(count(f));
    return total;
  }

 private:
  FrameReader& reader_;
  Frame frame_;
  std::vector<std::uint64_t> counts_;  // each frame's points, once counted
};

}  // namespace

ImportReport streamScan(FrameReader& reader, PointFormat format, std::ostream& points,
                        std::ostream* preview, int previewWidth, int previewHeight) {
  ImportReport report;
  report.frames = reader.frameCount();
  FramePasses passes(reader);
  std::uint64_t total = PointWriter::kUncounted;
  PointBounds bounds;  // the preview's camera needs them before the points
  if (preview) {
    total = passes.count([&](int f) {
      const Frame& frame = passes.read(f, report.readSeconds);
      for (std::size_t i = 0; i < frame.size(); ++i) bounds.add(&frame.points[3 * i]);
      return frame.size();
    });
  } else if (countFirst(format)) {
    total = passes.count([&](int f) {
      const Clock::time_point start = Clock::now();
      const std::uint64_t count = reader.countPoints(f);
      report.readSeconds += secondsSince(start);
      return count;
    });
  }

  std::optional<PreviewRenderer> renderer;
  if (preview) renderer.emplace(previewWidth, previewHeight, bounds);
  const std::unique_ptr<PointWriter> writer = makePointWriter(format, points, total);
  for (int f = 0; f < passes.frames(); ++f) {
    const Frame& frame = passes.read(f, report.readSeconds);
    report.pixels += static_cast<std::uint64_t>(std::max(frame.sizeX, 0)) *
                     static_cast<std::uint64_t>(std::max(frame.sizeY, 0));
    for (std::size_t i = 0; i < frame.size(); ++i) report.bounds.add(&frame.points[3 * i]);
    Clock::time_point start = Clock::now();
    writer->write(frame.points.data(), frame.colours.data(), frame.size());
    report.writeSeconds += secondsSince(start);
    if (!renderer) continue;
    start = Clock::now();
    renderer->frame(frame.points.data(), frame.size());
    report.previewSeconds += secondsSince(start);
  }
  writer->finish();
  if (!renderer) return report;

  const Clock::time_point start = Clock::now();
  double readAgain = 0;  // part of the preview's time
  for (int f = 0; f < passes.frames(); ++f) {
    const Frame& frame = passes.read(f, readAgain);
    renderer->draw(frame.points.data(), frame.colours.data(), frame.size());
  }
  writePng(*preview, renderer->image());
  report.previewSeconds += secondsSince(start);
  return report;
}

}  // namespace quarn::tool
