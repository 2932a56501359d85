#include "PointWriter.h"

#include <algorithm>
#include <stdexcept>

namespace quarn {

std::string headerPadding(std::uint64_t count, std::uint64_t pixels) {
  if (count > pixels) throw std::logic_error("more points than pixels");
  return std::string(std::to_string(pixels).size() - std::to_string(count).size(), ' ');
}

void PointWriter::start() {
  const bool counted = count_ != kUncounted;
  const std::string text = header(counted ? count_ : pixels_, pixels_);
  if ((!counted || headerLast()) && !text.empty()) {
    headerAt_ = out_.tellp();
    if (headerAt_ == std::ostream::pos_type(-1)) out_.setstate(std::ios::failbit);
  }
  out_ << text;
}

void PointWriter::write(const float* xyz, const std::uint8_t* rgb, std::size_t count) {
  PointBlock block;
  block.xyz = xyz;
  block.rgb = rgb;
  block.count = count;
  write(block);
}

void PointWriter::write(const PointBlock& block) {
  if (block.count > std::min(count_, pixels_) - written_)
    throw std::logic_error("more points than announced");
  if (block.count > 0 && normals_ != (block.normals != nullptr))
    throw std::logic_error("a block whose normals are not what the writer was asked for");
  put(block);
  written_ += block.count;
}

void PointWriter::finish() {
  if (count_ != kUncounted && written_ != count_)
    throw std::logic_error("fewer points than announced");
  beforeHeader();
  if (headerAt_ != std::ostream::pos_type(-1)) {
    const std::ostream::pos_type end = out_.tellp();
    out_.seekp(headerAt_);
    out_ << header(written_, pixels_);
    out_.seekp(end);
  }
  end();
}

std::unique_ptr<PointWriter> startPointWriter(const PointFormat& format, std::ostream& out,
                                              std::uint64_t count, std::uint64_t pixels,
                                              bool normals) {
  std::unique_ptr<PointWriter> writer = format.makeWriter(out, count, pixels, normals);
  writer->start();
  return writer;
}

}  // namespace quarn
