#include "ScanWriter.h"

#include <limits>
#include <stdexcept>
#include <string>

namespace quarn::scan {

namespace {

const char kWriteFailed[] = "the scan could not be written";

}  // namespace

ScanWriter::ScanWriter(std::ostream& out, std::int32_t frameCount, const PoseArray& scanPose)
    : out_(&out), frameCount_(frameCount) {
  if (frameCount < 0) throw std::invalid_argument("scan writer: negative frame count");
  const std::ostream::pos_type start = out.tellp();
  if (start == std::ostream::pos_type(-1)) {
    out_ = nullptr;
    throw std::runtime_error(std::string(kWriteFailed) + ": its stream cannot seek");
  }
  start_ = start;
  write(kMagic, sizeof kMagic);
  write(&kFormatVersion, sizeof kFormatVersion);
  write(&frameCount, sizeof frameCount);
  write(scanPose.data(), sizeof scanPose);
  // The table is filled in by finish(), once the record offsets are known.
  writeZeros(static_cast<std::uint64_t>(frameCount) * kTableEntrySize);
}

void ScanWriter::checkWriting() const {
  if (out_ == nullptr) throw std::runtime_error("the scan is no longer being written");
}

void ScanWriter::write(const void* data, std::size_t size) {
  if (size != 0 &&
      !out_->write(static_cast<const char*>(data), static_cast<std::streamsize>(size))) {
    fail();
  }
  end_ += size;
}

void ScanWriter::fail() {
  out_ = nullptr;
  throw std::runtime_error(kWriteFailed);
}

void ScanWriter::writeZeros(std::uint64_t size) {
  static const char zeros[4096] = {};
  while (size > 0) {
    const std::size_t chunk = size < sizeof zeros ? static_cast<std::size_t>(size) : sizeof zeros;
    write(zeros, chunk);
    size -= chunk;
  }
}

void ScanWriter::addFrame(std::int32_t sizeX, std::int32_t sizeY, const PoseArray& pose,
                          const ScanPixel* pixels) {
  checkWriting();
  if (sizeX < 0 || sizeY < 0) throw std::invalid_argument("scan writer: negative frame size");
  const std::uint64_t count = static_cast<std::uint64_t>(sizeX) * static_cast<std::uint64_t>(sizeY);
  if (count > 0 && pixels == nullptr) throw std::invalid_argument("scan writer: null pixels");
  if (count > std::numeric_limits<std::size_t>::max() / kPixelSize) {
    throw std::invalid_argument("scan writer: frame too large");
  }
  if (offsets_.size() == static_cast<std::size_t>(frameCount_)) {
    throw std::runtime_error("more frames than the " + std::to_string(frameCount_) + " announced");
  }
  offsets_.push_back(end_);
  write(&sizeX, sizeof sizeX);
  write(&sizeY, sizeof sizeY);
  write(pose.data(), sizeof pose);
  write(pixels, static_cast<std::size_t>(count) * kPixelSize);
}

void ScanWriter::finish() {
  checkWriting();
  if (offsets_.size() != static_cast<std::size_t>(frameCount_)) {
    throw std::runtime_error(std::to_string(offsets_.size()) + " of " +
                             std::to_string(frameCount_) + " frames written");
  }
  const std::streamoff end = start_ + static_cast<std::streamoff>(end_);
  if (!out_->seekp(start_ + static_cast<std::streamoff>(kHeaderSize))) fail();
  write(offsets_.data(), offsets_.size() * kTableEntrySize);
  // Back to the end, where the caller may write on.
  if (!out_->seekp(end) || !out_->flush()) fail();
  out_ = nullptr;
}

void writeScan(std::ostream& out, const PoseArray& scanPose, const std::vector<ScanFrame>& frames) {
  if (frames.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    throw std::invalid_argument("scan writer: too many frames");
  }
  for (const ScanFrame& frame : frames) {  // negative sizes: addFrame refuses them
    if (frame.pixels.size() !=
        static_cast<std::uint64_t>(frame.sizeX) * static_cast<std::uint64_t>(frame.sizeY)) {
      throw std::invalid_argument("scan writer: pixel count differs from sizeX * sizeY");
    }
  }
  ScanWriter writer(out, static_cast<std::int32_t>(frames.size()), scanPose);
  for (const ScanFrame& frame : frames) {
    writer.addFrame(frame.sizeX, frame.sizeY, frame.pose, frame.pixels.data());
  }
  writer.finish();
}

}  // namespace quarn::scan
