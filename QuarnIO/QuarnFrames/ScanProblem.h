#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "PluginLibrary.h"

namespace quarn {

// Why the SDK refused to open `path`, from DotProductAPI::open's status: "no such file",
// "not a scan file", ... Empty when it opens.
std::string scanOpenProblem(const std::string& path);

// The same for a status the SDK's open already returned.
std::string describeOpenStatus(const std::string& path, int status);

// A whole read's output that does not fit in the memory the process can have.
struct MemoryShortage {
  std::uint64_t neededBytes;     // the output's
  std::uint64_t availableBytes;  // what the output could have: the reserve is not the output's
  // "497 MB" and "290 MB": whole megabytes (10^6 bytes), never less needed nor more available
  // than there is.
  std::string needed() const;
  std::string available() const;
};

struct ImportProblem {
  std::string reason;                    // empty when the import can be tried
  std::optional<MemoryShortage> memory;  // when that is the reason
};

// Why `scan` cannot be imported, found before the plug-in is called: the SDK's reason for
// refusing to open it, or "needs 497 MB of memory, 290 MB available" with the shortage.
ImportProblem findImportProblem(const std::string& scan);

// Its reason alone.
inline std::string importProblem(const std::string& scan) { return findImportProblem(scan).reason; }

// Reads scan 0 of `scan` through the loaded plug-in into `out`, as quarn import does. Why it
// could not, in quarn's words; empty when it was read.
std::string readThroughPlugin(const PluginLibrary& plugin, const std::string& scan,
                              PluginScan& out);

}  // namespace quarn
