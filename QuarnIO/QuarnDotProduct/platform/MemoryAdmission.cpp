#include "MemoryAdmission.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "KernelText.h"

#if defined(__linux__)
#include <sys/resource.h>
#endif

namespace {

using namespace kernel_text;

// The number after `key` on the line that starts with it ("key value ...").
std::optional<std::uint64_t> keyedNumber(std::string_view text, std::string_view key) {
  while (!text.empty()) {
    std::string_view line = nextLine(text);
    if (nextField(line) == key) return number(nextField(line));
  }
  return std::nullopt;
}

// Whether the comma-separated `list` holds `item`.
bool listHas(std::string_view list, std::string_view item) {
  while (!list.empty()) {
    if (nextItem(list, ',') == item) return true;
  }
  return false;
}

struct MemoryCgroup {
  bool v1;
  std::string mountPoint;  // the hierarchy's mount
  std::string path;        // below it: "/a/b", or "" or "/" for the mount's root
};

// The process's memory cgroup: its v1 memory hierarchy's entry in /proc/self/cgroup
// ("4:memory:/a/b"), else its v2 entry ("0::/a/b"), and the mount of that hierarchy in
// /proc/self/mountinfo ("... ROOT MOUNTPOINT ... - cgroup SOURCE rw,memory" or "- cgroup2"),
// whose ROOT is cut from the path (a container sees its own cgroup as the mount's root).
std::optional<MemoryCgroup> findMemoryCgroup(std::string_view cgroups, std::string_view mounts) {
  for (const bool v1 : {true, false}) {
    for (std::string_view lines = cgroups; !lines.empty();) {
      const std::string_view line = nextLine(lines);
      const std::size_t first = line.find(':'), second = line.find(':', first + 1);
      if (second == std::string_view::npos) continue;
      const std::string_view controllers = line.substr(first + 1, second - first - 1);
      if (v1 ? !listHas(controllers, "memory") : line.substr(0, second) != "0:") continue;
      const std::string_view path = line.substr(second + 1);
      for (std::string_view mountLines = mounts; !mountLines.empty();) {
        std::string_view mount = nextLine(mountLines);
        for (int skipped = 0; skipped < 3; ++skipped) nextField(mount);
        const std::string_view root = nextField(mount), mountPoint = nextField(mount);
        const std::size_t separator = mount.find(" - ");
        if (separator == std::string_view::npos) continue;
        mount.remove_prefix(separator + 3);
        const std::string_view type = nextField(mount);
        nextField(mount);  // the source
        if (v1 ? type != "cgroup" || !listHas(nextField(mount), "memory") : type != "cgroup2")
          continue;
        const std::string_view prefix = root == "/" ? std::string_view() : root;
        if (path.substr(0, prefix.size()) != prefix) continue;  // outside this mount
        // The cgroup "/" gives "mount/" + "/memory.max": the same file as "mount/memory.max".
        return MemoryCgroup{v1, std::string(mountPoint), std::string(path.substr(prefix.size()))};
      }
    }
  }
  return std::nullopt;
}

// What one cgroup still allows: limit - usage, with the inactive file cache counted as
// available. Inactive file pages are the page cache the kernel reclaims first when the
// cgroup nears its limit, without swapping or stalling on writeback of anonymous memory;
// active file pages are the working set, reclaimed only under pressure, so counting them would
// admit reads that push the host's own files out. This is the "working set" that the
// kubelet and Docker report, usage - inactive file. v1's total_inactive_file covers the
// cgroup's children too, like its usage; v2's inactive_file is hierarchical already.
std::optional<std::uint64_t> cgroupHeadroom(const std::optional<std::string>& limitText,
                                            const std::optional<std::string>& usageText,
                                            const std::optional<std::string>& statText) {
  if (!limitText || !usageText) return std::nullopt;
  const std::optional<std::uint64_t> limit = number(*limitText), usage = number(*usageText);
  if (!limit || !usage) return std::nullopt;  // v2's "max": no limit here
  const std::string_view stat = statText ? std::string_view(*statText) : std::string_view();
  const std::uint64_t cache = keyedNumber(stat, "total_inactive_file")
                                  .value_or(keyedNumber(stat, "inactive_file").value_or(0));
  const std::uint64_t used = *usage - std::min(cache, *usage);
  return *limit - std::min(*limit, used);
}

}  // namespace

std::optional<std::uint64_t> availableMemoryFrom(const KernelFileReader& read,
                                                 const ProcessLimits& limits) {
  std::optional<std::uint64_t> available;
  const auto lower = [&available](std::uint64_t bytes) {
    available = std::min(available.value_or(bytes), bytes);
  };
  if (const std::optional<std::string> meminfo = read("/proc/meminfo")) {
    if (const auto kib = keyedNumber(*meminfo, "MemAvailable:")) available = *kib * 1024;
  }
  // `ulimit -v` and `ulimit -d`: an allocation beyond them fails whatever the machine has.
  if (limits.addressSpace || limits.data) {
    const std::string status = read("/proc/self/status").value_or("");
    const std::pair<std::optional<std::uint64_t>, const char*> sizes[] = {
        {limits.addressSpace, "VmSize:"}, {limits.data, "VmData:"}};
    for (const auto& [limit, key] : sizes) {
      if (limit) lower(*limit - std::min(*limit, keyedNumber(status, key).value_or(0) * 1024));
    }
  }
  const std::optional<MemoryCgroup> cgroup = findMemoryCgroup(
      read("/proc/self/cgroup").value_or(""), read("/proc/self/mountinfo").value_or(""));
  if (!cgroup) return available;
  // The cgroup and every ancestor up to the mount's root: the tightest of their limits holds.
  for (std::string path = cgroup->path;; path.erase(path.rfind('/'))) {
    const std::string directory = cgroup->mountPoint + path;
    const std::optional<std::uint64_t> headroom = cgroupHeadroom(
        read(directory + (cgroup->v1 ? "/memory.limit_in_bytes" : "/memory.max")),
        read(directory + (cgroup->v1 ? "/memory.usage_in_bytes" : "/memory.current")),
        read(directory + "/memory.stat"));
    if (headroom) lower(*headroom);
    if (path.empty()) break;
  }
  return available;
}

bool memoryAdmitsWithin(std::uint64_t bytes, std::optional<std::uint64_t> available) {
  return !available ||
         (*available >= kMemoryReserveBytes && bytes <= *available - kMemoryReserveBytes);
}

std::optional<std::uint64_t> availableMemoryBytes() {
#if defined(__linux__)
  ProcessLimits limits;
  const std::pair<int, std::optional<std::uint64_t>*> kinds[] = {{RLIMIT_AS, &limits.addressSpace},
                                                                 {RLIMIT_DATA, &limits.data}};
  for (const auto& [resource, limit] : kinds) {
    rlimit value;
    if (getrlimit(resource, &value) == 0 && value.rlim_cur != RLIM_INFINITY)
      *limit = value.rlim_cur;
  }
  return availableMemoryFrom(kernel_text::readKernelFile, limits);
#else
  return std::nullopt;  // Windows commits memory at allocation: a failed one is the answer
#endif
}

bool memoryAdmits(std::uint64_t bytes) { return memoryAdmitsWithin(bytes, availableMemoryBytes()); }
