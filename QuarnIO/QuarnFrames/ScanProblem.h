#pragma once

#include <string>

#include "PluginLibrary.h"

namespace quarn {

// Why the SDK refused to open `path`, from DotProductAPI::open's status: "no such file",
// "not a scan file", ... Empty when it opens.
std::string scanOpenProblem(const std::string& path);

// The same for a status the SDK's open already returned.
std::string describeOpenStatus(const std::string& path, int status);

// Why `scan` cannot be imported, found before the plug-in is called: the SDK's reason for
// refusing to open it, or "needs 497 MB of memory, 290 MB available". Empty when it can be
// tried.
std::string importProblem(const std::string& scan);

// Reads scan 0 of `scan` through the loaded plug-in into `out`, as quarn import does. Why it
// could not, in quarn's words; empty when it was read.
std::string readThroughPlugin(const PluginLibrary& plugin, const std::string& scan,
                              PluginScan& out);

}  // namespace quarn
