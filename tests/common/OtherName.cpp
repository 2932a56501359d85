#include "OtherName.h"

#include <system_error>

#if defined(_WIN32)
#include <vector>

#include <windows.h>
#endif

std::string expectedOtherName(const std::filesystem::path& file) {
#if defined(_WIN32)
  std::vector<wchar_t> buffer(32768);
  const DWORD length =
      GetShortPathNameW(file.wstring().c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return {};
  return std::filesystem::path(std::wstring(buffer.data(), length)).u8string();
#else
  std::error_code error;
  const std::filesystem::path canonical = std::filesystem::canonical(file, error);
  return error ? std::string() : canonical.string();
#endif
}

bool narrowNamesAreUtf8() {
#if defined(_WIN32)
  return GetACP() == CP_UTF8;
#else
  return true;
#endif
}
