#pragma once

// Why a scan cannot be read, in words for the user, before the plug-in or the frame reader
// is asked to read it.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace quarn {

// A scan or a frame that cannot be read, in words for the user: "no such file", "the pose of
// frame 3 is singular or not finite", ...
class ScanError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Why the SDK refused to open `path`, from the status its open returned: "no such file",
// "not a scan file", ... Empty for 0.
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

// Why `scan` cannot be read whole through the plug-in: the SDK's reason for refusing to open
// it, or "needs 497 MB of memory, 290 MB available" with the shortage.
ImportProblem findImportProblem(const std::string& scan);

}  // namespace quarn
