#pragma once

// What any import must do under the host contract, timed on its own: obtain fresh storage for
// its output and write every byte of it once, and read the scan file's bytes once. What any
// conversion must do: read the scan file's bytes and write the point file's.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarn::bench {

// The two fastest ways to write fresh storage once, one bound each: its pages faulted in with
// one call before the writes (no fault per 4 KiB page), and the same with huge pages asked for
// first (fewer, larger pages to clear).
enum class TouchMethod { kPopulateThenWrite, kHugePagesPopulateThenWrite };
inline constexpr TouchMethod kTouchMethods[] = {TouchMethod::kPopulateThenWrite,
                                                TouchMethod::kHugePagesPopulateThenWrite};
const char* touchMethodName(TouchMethod method);

// Seconds to malloc `bytes` and write each of them once by `method`; the free is not timed.
// Negative when the platform refuses the method.
double timeFreshStorage(std::size_t bytes, TouchMethod method);

// Seconds to read the file at `path` from start to end into `buffer`, reused chunk by chunk;
// `bytes` gets the number read. Throws std::runtime_error.
double timeFileRead(const std::string& path, std::vector<char>& buffer, std::uint64_t& bytes);

// Seconds to create the file `path` (there must be none) and write `bytes` to it, in one
// write() after another until all are written. Throws std::runtime_error.
double timeFileWrite(const std::string& path, const std::vector<char>& bytes);

}  // namespace quarn::bench
