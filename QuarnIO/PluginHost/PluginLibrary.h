#pragma once

// Loads the QuarnDotProduct library at run time and finds its two exports, exactly as a
// host application does. Used by the tools, the tests and the benchmark.

#include <string>

#include "QuarnDotProduct.h"

// The three host matrices of one read.
struct PluginScan {
  Eigen::MatrixXd points;  // 3 x N
  ColourMatrix colours;    // 3 x N
  Eigen::MatrixXd transform;
};

class PluginLibrary {
 public:
  // Loads the library at `path` (UTF-8). Throws std::runtime_error with a clear message
  // when it cannot be loaded or lacks either export.
  explicit PluginLibrary(const std::string& path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  ReadDotProductFunction readDotProduct = nullptr;
  ReadDotProductNumberOfScansFunction readDotProductNumberOfScans = nullptr;

  // Reads scan 0 of `scan` (UTF-8) into `out` as a host does; false when the plug-in refuses
  // it, `out` then as it was.
  bool read(const std::string& scan, PluginScan& out) const {
    return readDotProduct(scan.c_str(), 0, out.points, out.colours, nullptr, nullptr,
                          out.transform);
  }

  // The raw address of an exported symbol, or null.
  void* symbol(const char* name) const;

 private:
  void* handle_ = nullptr;
};
