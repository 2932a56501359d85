#pragma once

// The plug-in's read of a whole scan, loaded and called as a host does.

#include <cstdint>
#include <string>

#include "PluginLibrary.h"

namespace quarn {

struct WholeRead {
  PluginScan matrices;        // as the plug-in left them
  std::int64_t columns = -1;  // those it filled, when counted (countColumns)
  int frames = 0;
  std::uint64_t withoutColour = 0;  // pixels with a point but no colour, when counted
};

// Reads scan 0 of `scan` through the loaded plug-in into `out.matrices`, its console lines
// muted when `quiet` (see ConsoleMode). Throws ScanError with the reason it could not, in
// quarn's words.
void readWhole(const PluginLibrary& plugin, const std::string& scan, WholeRead& out,
               bool quiet = false);

// Counts the columns the read filled: the plug-in does not tell, and a filled column may hold
// NaN like its tail, so the SDK's pixels with a point and a colour are counted. Also the
// frames and the pixels with a point but no colour, which the read leaves out. Throws ScanError
// when the scan no longer matches the read.
void countColumns(const std::string& scan, WholeRead& read);

}  // namespace quarn
