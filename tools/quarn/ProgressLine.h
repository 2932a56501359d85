#pragma once

// A long import's progress on a terminal: one line on standard error, redrawn in place (frames
// done out of the total, points a second) and cleared at the end. Nothing at all when standard
// error is not a terminal, so logs and pipes never get it.

#include <chrono>
#include <cstdio>

#include "ScanConversion.h"

namespace quarn::tool {

// Standard error is a terminal.
bool standardErrorIsTerminal();

class ProgressLine {
 public:
  explicit ProgressLine(bool shown) : shown_(shown) {}
  ~ProgressLine() { clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // The callback a conversion calls; empty when the line is not shown.
  ProgressCallback callback();
  // Redraws the line: the first time, then at most ten times a second.
  void show(const ConversionProgress& progress);
  // Wipes the line, before anything else is printed.
  void clear();

 private:
  bool shown_;
  bool drawn_ = false;
  double lastSeconds_ = 0;
};

}  // namespace quarn::tool
