#pragma once

// Reading the kernel's own text files (/proc, /sys): whole lines, whitespace-separated
// fields, decimal numbers. Pure but for readKernelFile.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#if defined(__linux__)
#include <fstream>
#include <sstream>
#endif

namespace kernel_text {

// Splits off `text` what comes before the first `separator` (or all of it), and the separator.
inline std::string_view nextItem(std::string_view& text, char separator) {
  const std::size_t end = std::min(text.find(separator), text.size());
  const std::string_view item = text.substr(0, end);
  text.remove_prefix(std::min(end + 1, text.size()));
  return item;
}

// Splits the first line off `text`.
inline std::string_view nextLine(std::string_view& text) { return nextItem(text, '\n'); }

// Splits the first whitespace-separated field off `line`.
inline std::string_view nextField(std::string_view& line) {
  line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
  const std::size_t end = std::min(line.find_first_of(" \t"), line.size());
  const std::string_view field = line.substr(0, end);
  line.remove_prefix(end);
  return field;
}

// A decimal number at the start of `text`, or nothing ("max", empty, beyond 64 bits).
inline std::optional<std::uint64_t> number(std::string_view text) {
  std::uint64_t value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc()) return std::nullopt;
  return value;
}

#if defined(__linux__)
// The text of a kernel file, or nothing when it cannot be read. (Their sizes read as 0, so
// they are read to the end, not by size.)
inline std::optional<std::string> readKernelFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
#endif

}  // namespace kernel_text
