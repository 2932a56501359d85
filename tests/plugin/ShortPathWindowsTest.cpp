// The Windows fallback's steps with a GetShortPathNameW stand-in.

#include <algorithm>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ShortPath.h"

namespace {

// Answers the length query with `length`, then writes `name` (cut to the buffer) and answers
// `result`; records the buffer sizes it was given (0 for none).
ShortPathQuery scriptedQuery(unsigned long length, const std::wstring& name, unsigned long result,
                             std::vector<unsigned long>& sizes) {
  return [=, &sizes](const wchar_t* longPath, wchar_t* buffer, unsigned long size) {
    EXPECT_EQ(std::wstring(longPath), L"C:\\ablong");
    sizes.push_back(buffer == nullptr ? 0 : size);
    if (buffer == nullptr) return length;
    std::memcpy(buffer, name.data(), std::min<std::size_t>(name.size(), size) * sizeof(wchar_t));
    return result;
  };
}

TEST(ShortPathWith, TakesTheNameUpToItsFirstNulAndFailsWhenItNoLongerFits) {
  const std::wstring written(L"C:\\AB~1\0junk", 12);
  struct Case {
    unsigned long length, result;
    std::wstring name;
    bool found;
    std::vector<unsigned long> sizes;
  };
  // A result of the buffer's length or more: the name grew between the calls, and the buffer,
  // filled to its end, holds no terminator.
  const Case cases[] = {{13, 6, written, true, {0, 13}},
                        {0, 0, L"", false, {0}},
                        {8, 0, L"", false, {0, 8}},
                        {8, 8, L"C:\\ABCDEFGH", false, {0, 8}},
                        {8, 300, L"C:\\ABCDEFGH", false, {0, 8}}};
  for (const Case& c : cases) {
    std::vector<unsigned long> sizes;
    std::wstring shortPath;
    EXPECT_EQ(
        shortPathWith(scriptedQuery(c.length, c.name, c.result, sizes), L"C:\\ablong", shortPath),
        c.found)
        << c.length << " " << c.result;
    EXPECT_EQ(sizes, c.sizes);
    if (c.found) {
      EXPECT_EQ(shortPath, L"C:\\AB~1");
    }
  }
}

}  // namespace
