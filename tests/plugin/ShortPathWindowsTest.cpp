// The Windows fallback's two GetShortPathNameW calls, with a stand-in that answers the length,
// then writes a name (cut to the buffer) and answers a result.

#include <algorithm>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ShortPath.h"

TEST(ShortPathWith, TakesTheNameUpToItsFirstNulAndFailsWhenItNoLongerFits) {
  struct Case {
    unsigned long length, result;
    std::wstring name;
    bool found;
    std::vector<unsigned long> sizes;  // of the buffers given, 0 for none
  };
  // A result of the buffer's length or more: the name grew between the calls, and the buffer,
  // filled to its end, holds no terminator.
  // clang-format off
  const Case cases[] = {{13, 6, std::wstring(L"C:\\AB~1\0junk", 12), true, {0, 13}}, {0, 0, L"", false, {0}},
                        {8, 0, L"", false, {0, 8}}, {8, 8, L"C:\\ABCDEFGH", false, {0, 8}},
                        {8, 300, L"C:\\ABCDEFGH", false, {0, 8}}};
  // clang-format on
  for (const Case& c : cases) {
    std::vector<unsigned long> sizes;
    std::wstring shortPath;
    const auto query = [&](const wchar_t* longPath, wchar_t* buffer, unsigned long size) {
      EXPECT_EQ(std::wstring(longPath), L"C:\\ablong");
      sizes.push_back(buffer == nullptr ? 0 : size);
      if (buffer == nullptr) return c.length;
      std::memcpy(buffer, c.name.data(), std::min<std::size_t>(c.name.size(), size) * 2);
      return c.result;
    };
    EXPECT_EQ(shortPathWith(query, L"C:\\ablong", shortPath), c.found)
        << c.length << " " << c.result;
    EXPECT_EQ(sizes, c.sizes);
    EXPECT_EQ(shortPath, c.found ? L"C:\\AB~1" : L"");
  }
}
