#include "MemoryAdmission.h"

std::optional<std::uint64_t> availableMemoryBytes() { return std::nullopt; }

bool memoryAdmits(std::uint64_t bytes) {
  const std::optional<std::uint64_t> available = availableMemoryBytes();
  return !available || bytes <= *available;
}
