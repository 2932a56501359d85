#pragma once

#include <string>

// The second name under which the scan at `path` (UTF-8) is tried when the SDK refuses the
// first: the 8.3 short path on Windows, the canonical absolute path elsewhere. False when
// the platform has no such name for it (for example when the file does not exist).
bool alternativeScanPath(const char* path, std::string& alternative);

#if defined(_WIN32)
#include <functional>

// GetShortPathNameW's shape, so tests can change the name between its two calls.
using ShortPathQuery =
    std::function<unsigned long(const wchar_t* longPath, wchar_t* buffer, unsigned long size)>;

// Asks `query` for the short path's length, then for the path itself. False when either
// call fails or the path no longer fits (the name changed in between).
bool shortPathWith(const ShortPathQuery& query, const std::wstring& longPath,
                   std::wstring& shortPath);
#endif
