#pragma once

// Loads the QuarnDotProduct library at run time and finds its two exports, exactly as a
// host application does. Used by the tools, the tests and the benchmark.

#include <string>

#include "QuarnDotProduct.h"

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

  // The raw address of an exported symbol, or null.
  void* symbol(const char* name) const;

 private:
  void* handle_ = nullptr;
};
