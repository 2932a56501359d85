#include "ScanReader.h"

#include <cstring>

namespace quarn::scan {
namespace {

template <typename T>
T load(const unsigned char* bytes) {
  T value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

}  // namespace

int ScanReader::open(const std::string& path) { return open(openFileSource(path)); }

int ScanReader::open(const void* data, std::size_t size) { return open(memorySource(data, size)); }

int ScanReader::open(std::unique_ptr<ByteSource> source) {
  close();
  if (source == nullptr) return kCannotOpen;
  source_ = std::move(source);
  int status = kInternalError;
  try {
    status = validate();
  } catch (...) {
    close();
    throw;
  }
  if (status != kOk) close();
  return status;
}

void ScanReader::close() {
  source_.reset();
  frames_.clear();
  frames_.shrink_to_fit();
}

int ScanReader::validate() {
  const std::uint64_t fileSize = source_->size();
  unsigned char header[kHeaderSize];
  if (fileSize < sizeof kMagic) return kNotScanFile;
  // A directory opens on some systems but cannot be read.
  if (!source_->read(0, header, sizeof kMagic)) return kCannotOpen;
  if (std::memcmp(header, kMagic, sizeof kMagic) != 0) return kNotScanFile;
  // Check the version before the header size: another version may have another header. Reads
  // fail beyond the end of the file.
  if (!source_->read(kVersionOffset, header + kVersionOffset, 4)) return kDamaged;
  if (load<std::uint32_t>(header + kVersionOffset) != kFormatVersion) return kUnsupportedVersion;
  if (!source_->read(kFrameCountOffset, header + kFrameCountOffset,
                     kHeaderSize - kFrameCountOffset)) {
    return kDamaged;
  }
  const std::int32_t frameCount = load<std::int32_t>(header + kFrameCountOffset);
  std::memcpy(scanPose_.data(), header + kScanPoseOffset, sizeof scanPose_);

  // Every frame needs a table entry and a frame header: bound the count by the file size
  // before allocating anything for it.
  if (frameCount < 0) return kDamaged;
  const std::uint64_t count = static_cast<std::uint64_t>(frameCount);
  if (count > (fileSize - kHeaderSize) / (kTableEntrySize + kFrameHeaderSize)) return kDamaged;
  std::vector<std::uint64_t> offsets(count);
  if (!source_->read(kHeaderSize, offsets.data(), count * kTableEntrySize)) return kDamaged;

  // Records lie after the table in frame order without overlapping, so each frame accounts
  // for at least its own bytes of the file.
  std::uint64_t end = kHeaderSize + count * kTableEntrySize;
  for (const std::uint64_t offset : offsets) {
    if (offset < end) return kDamaged;
    unsigned char frameHeader[kFrameHeaderSize];  // its read fails unless it lies in the file
    if (!source_->read(offset, frameHeader, sizeof frameHeader)) return kDamaged;
    FrameInfo info;
    info.pixelOffset = offset + kFrameHeaderSize;
    info.sizeX = load<std::int32_t>(frameHeader);
    info.sizeY = load<std::int32_t>(frameHeader + 4);
    if (info.sizeX < 0 || info.sizeY < 0) return kDamaged;
    // Both sizes are below 2^31, so the pixel count fits; compare it with the bytes left
    // rather than multiplying it up to bytes.
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(info.sizeX) * static_cast<std::uint64_t>(info.sizeY);
    if (pixels > (fileSize - info.pixelOffset) / kPixelSize) return kDamaged;
    std::memcpy(info.pose.data(), frameHeader + 8, sizeof info.pose);
    frames_.push_back(info);
    end = info.pixelOffset + pixels * kPixelSize;
  }
  return kOk;
}

bool ScanReader::readPixels(std::int32_t index, std::vector<ScanPixel>& pixels) {
  if (index < 0 || index >= frameCount()) return false;  // none when nothing is open
  const FrameInfo& info = frames_[index];
  // open() found every frame's pixels inside the file, so their count fits in memory's terms.
  pixels.resize(static_cast<std::size_t>(info.sizeX) * static_cast<std::size_t>(info.sizeY));
  return source_->read(info.pixelOffset, pixels.data(), pixels.size() * sizeof(ScanPixel));
}

}  // namespace quarn::scan
