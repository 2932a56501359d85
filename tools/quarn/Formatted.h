#pragma once

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace quarn::tool {

// `value` formatted by the printf `pattern`, which takes one double. A value that shows as
// zero shows without a sign: no "-0.0000" for a tiny negative number.
inline std::string formatted(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  if (std::isfinite(value) && std::strpbrk(text, "123456789") == nullptr)
    std::snprintf(text, sizeof text, pattern, 0.0);
  return text;
}

}  // namespace quarn::tool
