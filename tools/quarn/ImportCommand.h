#pragma once

#include <filesystem>
#include <iostream>
#include <ostream>
#include <string>

namespace quarn::tool {

struct ImportOptions {
  std::string scan;
  std::string output;   // PLY
  std::string preview;  // PNG, none when empty
  std::string plugin;   // the plug-in library
  int previewWidth = 960;
  int previewHeight = 720;
  bool stream = false;  // frame by frame, never through the plug-in
};

// Where the build and the install put the plug-in, relative to the tool's executable.
std::filesystem::path defaultPluginPath(const std::filesystem::path& executable);

// Loads the plug-in as a host does, reads the scan through it into host-owned matrices and
// writes the valid points in the output's format (and a preview picture). Where the whole
// read does not fit in memory, or with `stream`, reads the scan frame by frame instead and
// writes the same bytes; says so on `notes` when memory decided it. Prints what it read and
// how long it took. Throws std::runtime_error with one clear sentence; output files appear
// only when everything succeeded.
void importScan(const ImportOptions& options, std::ostream& out, std::ostream& notes = std::cerr);

}  // namespace quarn::tool
