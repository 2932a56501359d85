#pragma once

// UTF-8 <-> UTF-16 for the Windows API: its wide functions take names in any language, its
// narrow ones only those of the system code page.

#if defined(_WIN32)

#ifndef NOMINMAX
#define NOMINMAX  // std::min and Eigen's min, not windows.h's macros
#endif
#include <windows.h>

#include <climits>
#include <string>

// Empty for empty input and for input the conversion refuses.
inline std::wstring toUtf16(const std::string& utf8) {
  std::wstring wide;
  if (utf8.empty() || utf8.size() > INT_MAX) return wide;
  const int size = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (length > 0) {
    wide.resize(static_cast<std::size_t>(length));
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, &wide[0], length);
  }
  return wide;
}

inline std::string toUtf8(const std::wstring& wide) {
  std::string utf8;
  if (wide.empty() || wide.size() > INT_MAX) return utf8;
  const int size = static_cast<int>(wide.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (length > 0) {
    utf8.resize(static_cast<std::size_t>(length));
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, &utf8[0], length, nullptr, nullptr);
  }
  return utf8;
}

#endif
