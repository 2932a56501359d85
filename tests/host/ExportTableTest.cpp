// The plug-in DLL's export table, read from the loaded image: exactly the two functions,
// under their C names, and they are what GetProcAddress finds.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PluginLibrary.h"

namespace {

TEST(PluginDll, ExportsExactlyTheTwoFunctionsUnmangled) {
  PluginLibrary plugin(QUARN_PLUGIN_PATH);
  HMODULE module = nullptr;
  ASSERT_TRUE(GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(plugin.symbol("readDotProduct")), &module));
  const auto* base = reinterpret_cast<const unsigned char*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  ASSERT_NE(directory.Size, 0u);
  const auto* exports =
      reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);

  EXPECT_EQ(exports->NumberOfFunctions, 2u);  // none exported by ordinal alone
  const auto* nameOffsets = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  std::vector<std::string> names;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    names.emplace_back(reinterpret_cast<const char*>(base + nameOffsets[i]));
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"readDotProduct", "readDotProductNumberOfScans"}));
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(module, "readDotProduct")),
            reinterpret_cast<void*>(plugin.readDotProduct));
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(module, "readDotProductNumberOfScans")),
            reinterpret_cast<void*>(plugin.readDotProductNumberOfScans));
}

}  // namespace
