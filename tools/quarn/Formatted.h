#pragma once

#include <cstdio>
#include <string>

namespace quarn::tool {

// `value` formatted by the printf `pattern`, which takes one double.
inline std::string formatted(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

}  // namespace quarn::tool
