#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// A read's output takes three doubles and three colour bytes per pixel of the scan.
constexpr std::uint64_t kOutputBytesPerPixel = 3 * sizeof(double) + 3;

// The memory this process can still really have, in bytes, or nothing where the platform
// does not say: there an allocation that cannot be backed already fails.
std::optional<std::uint64_t> availableMemoryBytes();

// True when `bytes` more fit in what availableMemoryBytes() reports, with a reserve kept for
// the SDK and the host; always true where the platform does not say.
bool memoryAdmits(std::uint64_t bytes);

// The arithmetic of both, pure, so it is tested on recorded texts of the kernel's files.

// The text of a kernel file by its path, or nothing when it cannot be read.
using KernelFileReader = std::function<std::optional<std::string>(const std::string& path)>;

// Linux: the smaller of MemAvailable (/proc/meminfo) and, for the process's memory cgroup
// (v1 or v2, found through /proc/self/cgroup and /proc/self/mountinfo) and each of its
// ancestors with a limit, the limit minus the usage, the cgroup's inactive file cache counted
// as available. Nothing when no figure can be read.
std::optional<std::uint64_t> availableMemoryFrom(const KernelFileReader& read);

// memoryAdmits() over a given figure.
bool memoryAdmitsWithin(std::uint64_t bytes, std::optional<std::uint64_t> available);
