#pragma once

#include <cstdint>
#include <optional>

// A read's output takes three doubles and three colour bytes per pixel of the scan.
constexpr std::uint64_t kOutputBytesPerPixel = 3 * sizeof(double) + 3;

// The memory this process can still really have, in bytes, or nothing where the platform
// does not say: there an allocation that cannot be backed already fails.
std::optional<std::uint64_t> availableMemoryBytes();

// True when `bytes` more fit in what availableMemoryBytes() reports, with a reserve kept for
// the SDK and the host; always true where the platform does not say.
bool memoryAdmits(std::uint64_t bytes);
