#pragma once

#include <cstddef>

// Fresh output storage is touched exactly once, pixel by pixel, and on first touch every page
// costs a fault. Where the platform can map a range of pages in one call, this does it ahead
// of the writes; elsewhere it does nothing. Results never depend on it.
void prefaultStorage(void* data, std::size_t bytes);
