#pragma once

// Status codes of the scan reader and of every status-returning DotProductAPI operation.

namespace quarn::scan {

enum ScanStatus : int {
  kOk = 0,
  // open
  kCannotOpen = 1,          // no path, or the file cannot be opened or read
  kNotScanFile = 2,         // shorter than the magic, or a different magic
  kUnsupportedVersion = 3,  // a scan file of another format version
  kDamaged = 4,             // the structure does not fit the file: truncated or corrupt
  // the other operations
  kNotOpen = 5,        // no scan is open
  kBadArgument = 6,    // null output pointer, or frame index out of range
  kNoFrame = 7,        // no frame is current
  kOutsideFrame = 8,   // pixel coordinates outside the current frame
  kNoValue = 9,        // the pixel has no point (or no colour)
  kReadFailed = 10,    // the current frame's pixels could not be read
  kInternalError = 11  // unexpected failure, such as running out of memory
};

}  // namespace quarn::scan
