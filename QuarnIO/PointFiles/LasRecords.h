#pragma once

// LAS 1.4 with point data record format 7 as quarn writes it, built here once for LAS and LAZ
// alike: the 375-byte header and the 36-byte records (X, Y, Z as int32 at 0.1 mm from an offset,
// 16-bit colour, the frame as point source ID and GPS time). LAZ compresses these very records.
// With normals, each record has 12 extra bytes, the normal's three floats, which the standard
// ExtraBytes record (user LASF_Spec, record 4) names NormalX, NormalY and NormalZ.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "PointWriter.h"

namespace quarn {

inline constexpr std::size_t kLasHeaderSize = 375;
inline constexpr std::size_t kLasRecordSize = 36;
inline constexpr std::size_t kLasNormalBytes = 12;  // extra bytes: nx, ny, nz as floats

// `value`'s bytes at `at`, least significant first.
template <class Unsigned>
void putLittleEndian(unsigned char* at, Unsigned value) {
  if (kLittleEndian) {
    std::memcpy(at, &value, sizeof value);
    return;
  }
  for (std::size_t i = 0; i < sizeof value; ++i)
    at[i] = static_cast<unsigned char>(value >> (8 * i));
}

class LasRecords {
 public:
  // With `normals`, each record holds its point's normal in extra bytes.
  explicit LasRecords(bool normals = false);
  std::size_t recordSize() const { return kLasRecordSize + (normals_ ? kLasNormalBytes : 0); }
  // The ExtraBytes record that describes the normals, whole; "" without them.
  std::string extraBytesRecord() const;
  // The records of `block`'s points [start, end) (start < end) at `out`, recordSize() bytes
  // each, folded into the bounds. The first block with points fixes the offset. Throws
  // PointFormatError for a point farther from it than LAS holds at 0.1 mm.
  void build(const PointBlock& block, std::size_t start, std::size_t end, unsigned char* out);
  // The header for `count` points: `format` is the point-format byte (7; LAZ sets its top bit),
  // followed by `vlrs` records of `vlrBytes` bytes in all before the points.
  std::string header(std::uint64_t count, std::uint8_t format, std::uint32_t vlrs,
                     std::uint32_t vlrBytes) const;

 private:
  void place(const PointBlock& block);
  std::int32_t scaled(float value, int axis) const;
  [[noreturn]] void tooFar(float value, int axis) const;

  bool normals_;
  double offset_[3] = {0, 0, 0};
  bool placed_ = false;
  std::int32_t min_[3], max_[3];
};

}  // namespace quarn
