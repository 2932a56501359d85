#include <algorithm>

#include "FinitePoints.h"
#include "PointSource.h"

namespace quarn {

namespace {

class WholeReadSource final : public PointSource {
 public:
  explicit WholeReadSource(WholeRead read)
      : read_(std::move(read)), xyz_(3 * kChunk), rgb_(3 * kChunk) {}

  int frames() const override { return read_.frames; }
  std::uint64_t withoutColour() const override { return read_.withoutColour; }
  std::uint64_t pixels() const override {
    return static_cast<std::uint64_t>(read_.matrices.points.cols());
  }

  void pass(const std::function<void(PointChunk&)>& prepare,
            const std::function<void(const PointChunk&)>& use) override {
    const double* points = read_.matrices.points.data();
    const std::uint8_t* colours = read_.matrices.colours.data();
    const std::size_t columns = static_cast<std::size_t>(read_.columns);
    for (std::size_t start = 0; start < columns; start += kChunk) {
      // Every coordinate the plug-in returns is a float's value: nothing is lost.
      const std::size_t count = std::min(kChunk, columns - start);
      std::copy(points + 3 * start, points + 3 * (start + count), xyz_.data());
      std::copy(colours + 3 * start, colours + 3 * (start + count), rgb_.data());
      PointChunk chunk{xyz_.data(), rgb_.data(), count};
      prepare(chunk);
      use(chunk);
    }
  }

  std::vector<std::uint64_t> countFinitePoints() override {
    std::vector<std::uint64_t> counts;
    const double* points = read_.matrices.points.data();
    for (std::size_t start = 0; start < static_cast<std::size_t>(read_.columns); start += kChunk) {
      const std::size_t count = std::min(kChunk, static_cast<std::size_t>(read_.columns) - start);
      counts.push_back(quarn::countFinitePoints(points + 3 * start, count));
    }
    return counts;
  }

 private:
  static constexpr std::size_t kChunk = 1 << 16;

  WholeRead read_;
  std::vector<float> xyz_;
  std::vector<std::uint8_t> rgb_;
};

}  // namespace

std::unique_ptr<PointSource> wholeReadSource(WholeRead read) {
  return std::make_unique<WholeReadSource>(std::move(read));
}

}  // namespace quarn
