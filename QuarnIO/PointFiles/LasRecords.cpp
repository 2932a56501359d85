#include "LasRecords.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace quarn {

namespace {

constexpr double kScale = 0.0001;
constexpr double kStepsPerMetre = 10000;  // 1 / kScale, exactly

// Global encoding: GPS time is week time (bit 0 clear; it holds the frame index, not a
// time), and formats 6 to 10 must say WKT (bit 4) though no coordinate system follows. A
// pixel is one return of one: return 1 of 1 is what the scanner measured, not made up.
constexpr std::uint16_t kGlobalEncoding = 1 << 4;

void putDouble(unsigned char* at, double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  putLittleEndian(at, bits);
}

// A whole number of metres; +0 for a first frame just below 0, not -0.
double wholeMetres(double value) { return std::round(value) + 0.0; }

}  // namespace

LasRecords::LasRecords(bool normals) : normals_(normals) {
  std::fill(min_, min_ + 3, std::numeric_limits<std::int32_t>::max());
  std::fill(max_, max_ + 3, std::numeric_limits<std::int32_t>::min());
}

std::string LasRecords::extraBytesRecord() const {
  if (!normals_) return "";
  constexpr std::size_t kDescriptor = 192;  // one extra-bytes field
  std::string record(54 + 3 * kDescriptor, '\0');
  auto* r = reinterpret_cast<unsigned char*>(record.data());
  std::memcpy(r + 2, "LASF_Spec", 9);
  putLittleEndian(r + 18, std::uint16_t{4});
  putLittleEndian(r + 20, static_cast<std::uint16_t>(3 * kDescriptor));
  std::memcpy(r + 22, "Extra bytes", 11);
  for (int k = 0; k < 3; ++k) {
    unsigned char* d = r + 54 + k * kDescriptor;
    d[2] = 9;  // float; no options: no no-data value, limits, scale or offset
    const std::string name = std::string("Normal") + "XYZ"[k];
    std::memcpy(d + 4, name.data(), name.size());
    const std::string description = std::string("unit surface normal, ") + "xyz"[k];
    std::memcpy(d + 160, description.data(), description.size());
  }
  return record;
}

std::string LasRecords::header(std::uint64_t count, std::uint8_t format, std::uint32_t vlrs,
                               std::uint32_t vlrBytes) const {
  unsigned char h[kLasHeaderSize] = {};  // file source ID, project GUID, creation date: 0
  std::memcpy(h, "LASF", 4);
  putLittleEndian(h + 6, kGlobalEncoding);
  h[24] = 1;
  h[25] = 4;
  std::memcpy(h + 26, "quarn", 5);  // system identifier
  std::memcpy(h + 58, "quarn", 5);  // generating software
  putLittleEndian(h + 94, std::uint16_t{kLasHeaderSize});
  putLittleEndian(h + 96, static_cast<std::uint32_t>(kLasHeaderSize + vlrBytes));
  putLittleEndian(h + 100, vlrs);
  h[104] = format;
  putLittleEndian(h + 105, static_cast<std::uint16_t>(recordSize()));
  // The legacy counts at 107 and 111 stay 0, as for every format from 6.
  for (int k = 0; k < 3; ++k) {
    putDouble(h + 131 + 8 * k, kScale);
    putDouble(h + 155 + 8 * k, offset_[k]);
    // Bounds of the stored values, so that a reader finds them among the records exactly.
    const bool any = min_[k] <= max_[k];
    putDouble(h + 179 + 16 * k, any ? max_[k] * kScale + offset_[k] : 0.0);
    putDouble(h + 187 + 16 * k, any ? min_[k] * kScale + offset_[k] : 0.0);
  }
  putLittleEndian(h + 247, count);
  putLittleEndian(h + 255, count);  // every point the first of one return
  return std::string(reinterpret_cast<const char*>(h), kLasHeaderSize);
}

void LasRecords::build(const PointBlock& block, std::size_t start, std::size_t end,
                       unsigned char* out) {
  if (!placed_) place(block);
  // What every record of the block shares, bytes 12 to 29: intensity, flags, classification,
  // user data and scan angle 0 but return 1 of 1; the frame as source and time. Built once, in
  // registers' worth of bytes, and stored whole.
  unsigned char shared[18] = {};
  shared[2] = 1 | 1 << 4;
  putLittleEndian(shared + 8,
                  static_cast<std::uint16_t>(block.frame < 0 ? 0 : block.frame & 0xffff));
  putDouble(shared + 10, block.frame < 0 ? 0 : block.frame);
  std::uint64_t sharedWords[2];
  std::uint16_t sharedTail;
  std::memcpy(sharedWords, shared, 16);
  std::memcpy(&sharedTail, shared + 16, 2);
  unsigned char* p = out;
  const std::size_t size = recordSize();
  for (std::size_t i = start; i < end; ++i, p += size) {
    std::memcpy(p + 12, sharedWords, 16);
    std::memcpy(p + 28, &sharedTail, 2);
    for (int k = 0; k < 3 && normals_; ++k) {
      std::uint32_t bits;
      std::memcpy(&bits, &block.normals[3 * i + k], 4);
      putLittleEndian(p + kLasRecordSize + 4 * k, bits);
    }
    for (int k = 0; k < 3; ++k) {
      const std::int32_t value = scaled(block.xyz[3 * i + k], k);
      min_[k] = std::min(min_[k], value);
      max_[k] = std::max(max_[k], value);
      putLittleEndian(p + 4 * k, static_cast<std::uint32_t>(value));
      putLittleEndian(p + 30 + 2 * k, static_cast<std::uint16_t>(block.rgb[3 * i + k] * 257));
    }
  }
}

// The offset is fixed before the first point is written: where the first frame with points
// was taken from, or failing a pose its first point, in whole metres.
void LasRecords::place(const PointBlock& block) {
  for (int k = 0; k < 3; ++k)
    offset_[k] = wholeMetres(block.pose ? block.pose[4 * k + 3] : block.xyz[k]);
  placed_ = true;
}

std::int32_t LasRecords::scaled(float value, int axis) const {
  const double steps = (static_cast<double>(value) - offset_[axis]) * kStepsPerMetre;
  // Half away from zero, so the bounds are those that still round into int32.
  if (!(steps > -2147483648.5 && steps < 2147483647.5)) tooFar(value, axis);
  // std::llround's rounding, without its call: steps - trunc(steps) is exact below 2^52.
  const auto whole = static_cast<std::int64_t>(steps);
  const double fraction = steps - static_cast<double>(whole);
  return static_cast<std::int32_t>(whole + (fraction >= 0.5) - (fraction <= -0.5));
}

void LasRecords::tooFar(float value, int axis) const {
  char metres[64];
  std::snprintf(metres, sizeof metres, "%.0f",
                std::fabs(static_cast<double>(value) - offset_[axis]));
  // Along one axis, which is what the format bounds: a point 300 km away diagonally may reach
  // only 238 km along any one of them.
  throw PointFormatError(std::string("the scan reaches ") + metres + " m along " + "xyz"[axis] +
                         " from its first frame, more than LAS holds at 0.1 mm (214 km along an "
                         "axis)");
}

}  // namespace quarn
