// The file's other name on Windows: its 8.3 short path, made only of characters that the
// SDK's narrow open takes whatever the system code page.

#include <algorithm>
#include <vector>

#include "ShortPath.h"
#include "Utf16.h"

bool shortPathWith(const ShortPathQuery& query, const std::wstring& longPath,
                   std::wstring& shortPath) {
  const unsigned long length = query(longPath.c_str(), nullptr, 0);  // terminator included
  if (length == 0) return false;
  std::vector<wchar_t> buffer(length);
  const unsigned long written = query(longPath.c_str(), buffer.data(), length);
  // `length` or more is the length a longer new name needs: nothing usable was written.
  if (written == 0 || written >= length) return false;
  shortPath.assign(buffer.begin(), std::find(buffer.begin(), buffer.end(), L'\0'));
  return true;
}

bool alternativeScanPath(const char* path, std::string& alternative) {
  const auto getShortPathName = [](const wchar_t* longPath, wchar_t* buffer, unsigned long size) {
    return GetShortPathNameW(longPath, buffer, size);
  };
  std::wstring shortPath;
  if (!shortPathWith(getShortPathName, toUtf16(path), shortPath)) return false;
  // Converted back even if that fails: the retry then just gets an empty name.
  alternative = toUtf8(shortPath);
  return true;
}
