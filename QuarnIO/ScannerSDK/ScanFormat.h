#pragma once

// On-disk layout of a scan file; docs/scan-format.md describes it byte by byte.
// Every number is little-endian and the reader and writer copy records straight
// between the file and these structs, so the layout below must match the file exactly.

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "PoseArray.h"  // the plug-in's scanner/ folder: the SDK's interface

#if defined(__BYTE_ORDER__)
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "scan files are read and written by copying little-endian records");
#elif !defined(_WIN32)  // every Windows target is little-endian
#error "cannot tell this target's byte order; scan records need little-endian"
#endif

static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559,
              "scan files store IEEE 754 binary32 and binary64 values");

namespace quarn::scan {

// "\r\n" and the final "\n" catch line-ending conversion, 0x1a stops a text-mode reader.
inline constexpr char kMagic[8] = {'Q', 'S', 'C', 'N', '\r', '\n', '\x1a', '\n'};
inline constexpr std::uint32_t kFormatVersion = 1;

// The pose's 17 values, carried through unchanged.
using ::kPoseValues;
using ::PoseArray;

// File header: magic, uint32 version, int32 frame count, scan pose.
inline constexpr std::uint64_t kVersionOffset = 8;
inline constexpr std::uint64_t kFrameCountOffset = 12;
inline constexpr std::uint64_t kScanPoseOffset = 16;
inline constexpr std::uint64_t kHeaderSize = kScanPoseOffset + kPoseValues * 8;  // 152
// The frame table follows the header: one uint64 absolute record offset per frame.
inline constexpr std::uint64_t kTableEntrySize = 8;
// Frame record: int32 sizeX, int32 sizeY, frame pose, then sizeX * sizeY pixels.
inline constexpr std::uint64_t kFrameHeaderSize = 8 + kPoseValues * 8;  // 144
inline constexpr std::uint64_t kPixelSize = 16;

// Pixel flag bits; the others are ignored.
inline constexpr std::uint8_t kHasPoint = 1;
inline constexpr std::uint8_t kHasColour = 2;

// One pixel record. Pixel (x, y) of a frame with sizeY rows is at index x * sizeY + y.
struct ScanPixel {
  float x, y, z;  // metres, frame coordinates; meaningful with kHasPoint
  std::uint8_t flags;
  std::uint8_t colour[3];  // meaningful with kHasColour
};

static_assert(sizeof(ScanPixel) == kPixelSize);
static_assert(offsetof(ScanPixel, flags) == 12 && offsetof(ScanPixel, colour) == 13);
static_assert(std::is_trivially_copyable_v<ScanPixel> && std::is_standard_layout_v<ScanPixel>);
static_assert(sizeof(PoseArray) == kPoseValues * sizeof(double));

}  // namespace quarn::scan
