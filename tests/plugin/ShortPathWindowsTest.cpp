// The Windows fallback's steps with a GetShortPathNameW stand-in, and the UTF-8 <-> UTF-16
// conversions it rests on, against std::filesystem's.

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ShortPath.h"
#include "platform/Utf16.h"

namespace {

struct QueryCall {
  std::wstring longPath;
  bool hasBuffer;
  unsigned long size;
};

// Answers the length query with `length`, then writes `name` (cut to the buffer) and
// answers `result`.
ShortPathQuery scriptedQuery(unsigned long length, const std::wstring& name, unsigned long result,
                             std::vector<QueryCall>& calls) {
  return [=, &calls](const wchar_t* longPath, wchar_t* buffer, unsigned long size) {
    calls.push_back({longPath, buffer != nullptr, size});
    if (buffer == nullptr) return length;
    std::memcpy(buffer, name.data(), std::min<std::size_t>(name.size(), size) * sizeof(wchar_t));
    return result;
  };
}

TEST(ShortPathWith, AsksTheLengthThenTakesTheNameUpToItsFirstNul) {
  std::vector<QueryCall> calls;
  std::wstring shortPath = L"old";
  const std::wstring written(L"C:\\AB~1\0junk", 12);
  ASSERT_TRUE(shortPathWith(scriptedQuery(13, written, 6, calls), L"C:\\ablong", shortPath));
  EXPECT_EQ(shortPath, L"C:\\AB~1");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].longPath, L"C:\\ablong");
  EXPECT_FALSE(calls[0].hasBuffer);
  EXPECT_EQ(calls[0].size, 0u);
  EXPECT_TRUE(calls[1].hasBuffer);
  EXPECT_EQ(calls[1].size, 13u);
}

TEST(ShortPathWith, FailsWhenACallFailsOrTheNameNoLongerFits) {
  std::vector<QueryCall> calls;
  std::wstring shortPath;
  EXPECT_FALSE(shortPathWith(scriptedQuery(0, L"", 0, calls), L"C:\\gone", shortPath));
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_FALSE(shortPathWith(scriptedQuery(8, L"", 0, calls), L"C:\\gone", shortPath));
  // The name changed between the calls: the answer is the length the new one needs, and the
  // buffer, filled to its end, holds no terminator.
  for (const unsigned long grown : {8ul, 9ul, 300ul}) {
    EXPECT_FALSE(
        shortPathWith(scriptedQuery(8, L"C:\\ABCDEFGH", grown, calls), L"C:\\x", shortPath))
        << grown;
  }
}

TEST(Utf16, ConvertsNamesOutsideTheCodePageAndTheBasicPlaneBothWays) {
  const std::wstring wide = L"\u00DCberpr\u00FCfung \u00F1 \u6E2C \U0001F600.scan";
  const std::string utf8 = std::filesystem::path(wide).u8string();
  EXPECT_EQ(toUtf16(utf8), wide);
  EXPECT_EQ(toUtf8(wide), utf8);
  EXPECT_EQ(toUtf16(""), L"");
  EXPECT_EQ(toUtf8(L""), "");
}

}  // namespace
