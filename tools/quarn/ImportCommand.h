#pragma once

#include <filesystem>
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
};

// Where the build and the install put the plug-in, relative to the tool's executable.
std::filesystem::path defaultPluginPath(const std::filesystem::path& executable);

// Loads the plug-in as a host does, reads the scan through it into host-owned matrices and
// writes the valid points as PLY (and a preview picture). Prints what it read and how long
// it took. Throws std::runtime_error with one clear sentence; output files appear only when
// everything succeeded.
void importScan(const ImportOptions& options, std::ostream& out);

}  // namespace quarn::tool
