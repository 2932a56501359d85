#include <stdexcept>

#include "FramePipeline.h"
#include "FrameReader.h"
#include "PointSource.h"
#include "ScanSession.h"

namespace quarn {

namespace {

ScanError changed() { return ScanError("the scan changed while it was read"); }

class FrameSource final : public PointSource {
 public:
  FrameSource(const std::string& scan, FrameSourceOptions options)
      : reader_(scan), pixels_(reader_.pixelCount()), pipeline_(reader_, scan, pipelineWorkers()) {
    pipeline_.forEachReader([&](FrameReader& reader) {
      reader.keepMeasured(options.measured);
      reader.keepUncoloured(options.keepUncoloured);
      reader.makeNormals(options.normals);
    });
  }

  int frames() const override { return reader_.frameCount(); }
  std::uint64_t pixels() const override { return pixels_; }
  std::uint64_t withoutColour() const override { return withoutColour_; }

  void pass(const std::function<void(PointChunk&)>& prepare,
            const std::function<void(const PointChunk&)>& use) override {
    using Item = FramePipeline::Item;
    std::uint64_t pixels = 0;  // the frames' sizes again: the scan must not change
    withoutColour_ = 0;
    pipeline_.pass(
        [&](FrameReader& reader, Item& item) {
          Frame& frame = item.frame;
          reader.read(item.index, frame);
          item.pose = reader.framePose(frame);
          PointChunk chunk = chunkOf(item);
          prepare(chunk);
          frame.points.resize(3 * chunk.count);
          frame.colours.resize(3 * chunk.count);
          if (!frame.measured.empty()) {
            frame.measured.resize(3 * chunk.count);
            frame.pixels.resize(2 * chunk.count);
          }
          if (!frame.colourless.empty()) frame.colourless.resize(chunk.count);
          if (!frame.normals.empty()) frame.normals.resize(3 * chunk.count);
          if (!frame.frameNormals.empty()) frame.frameNormals.resize(3 * chunk.count);
          item.count = chunk.leftOut;
        },
        [&](Item& item) {
          Frame& frame = item.frame;
          pixels += static_cast<std::uint64_t>(framePixels(frame.sizeX, frame.sizeY));
          if (pixels > pixels_) throw changed();
          withoutColour_ += frame.uncoloured;
          PointChunk chunk = chunkOf(item);
          chunk.leftOut = item.count;
          use(chunk);
        });
    if (pixels != pixels_) throw changed();
  }

  std::vector<std::uint64_t> countFinitePoints() override {
    std::vector<std::uint64_t> counts;
    pipeline_.pass([](FrameReader& reader,
                      FramePipeline::Item& item) { item.count = reader.countPoints(item.index); },
                   [&](FramePipeline::Item& item) { counts.push_back(item.count); });
    return counts;
  }

 private:
  static PointChunk chunkOf(FramePipeline::Item& item) {
    Frame& frame = item.frame;
    PointChunk chunk{frame.points.data(), frame.colours.data(), frame.size()};
    chunk.frame = frame.index;
    chunk.sizeX = frame.sizeX;
    chunk.sizeY = frame.sizeY;
    chunk.pose = item.pose.data();  // row by row
    if (frame.measured.size() == frame.points.size() && !frame.measured.empty()) {
      chunk.frameXyz = frame.measured.data();
      chunk.pixel = frame.pixels.data();
    }
    if (frame.colourless.size() == frame.size() && !frame.colourless.empty())
      chunk.colourless = frame.colourless.data();
    if (frame.normals.size() == frame.points.size() && !frame.normals.empty())
      chunk.normals = frame.normals.data();
    if (frame.frameNormals.size() == frame.points.size() && !frame.frameNormals.empty())
      chunk.frameNormals = frame.frameNormals.data();
    return chunk;
  }

  FrameReader reader_;
  std::uint64_t pixels_;
  std::uint64_t withoutColour_ = 0;
  FramePipeline pipeline_;
};

}  // namespace

std::unique_ptr<PointSource> frameSource(const std::string& scan, FrameSourceOptions options) {
  return std::make_unique<FrameSource>(scan, options);
}

}  // namespace quarn
