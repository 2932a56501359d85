#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// A read's output takes three doubles and three colour bytes per pixel of the scan.
constexpr std::uint64_t kOutputBytesPerPixel = 3 * sizeof(double) + 3;

// Kept free beyond a read's output: the SDK's frame buffers, the stream, and the host's own next
// steps after a read. A scan's frame is a few MB in the SDK, so 32 MiB is room to spare
// without refusing reads that would fit.
constexpr std::uint64_t kMemoryReserveBytes = std::uint64_t{32} << 20;

// The memory this process can still really have, in bytes, or nothing where the platform
// does not say: there an allocation that cannot be backed already fails.
std::optional<std::uint64_t> availableMemoryBytes();

// True when `bytes` more fit in what availableMemoryBytes() reports, with a reserve kept for
// the SDK and the host; always true where the platform does not say.
bool memoryAdmits(std::uint64_t bytes);

// The arithmetic of both, pure, so it is tested on recorded texts of the kernel's files.

// The text of a kernel file by its path, or nothing when it cannot be read.
using KernelFileReader = std::function<std::optional<std::string>(const std::string& path)>;

// The process's own limits in bytes, nothing where unlimited: RLIMIT_AS, counted against its
// address space (VmSize), and RLIMIT_DATA, against its data (VmData).
struct ProcessLimits {
  std::optional<std::uint64_t> addressSpace, data;
};

// Linux: the smallest of MemAvailable (/proc/meminfo); for the process's memory cgroup
// (v1 or v2, found through /proc/self/cgroup and /proc/self/mountinfo) and each of its
// ancestors with a limit, the limit minus the usage, the cgroup's inactive file cache counted
// as available; and each of the process's limits minus its size (/proc/self/status). Nothing
// when no figure can be read.
std::optional<std::uint64_t> availableMemoryFrom(const KernelFileReader& read,
                                                 const ProcessLimits& limits = {});

// memoryAdmits() over a given figure.
bool memoryAdmitsWithin(std::uint64_t bytes, std::optional<std::uint64_t> available);
