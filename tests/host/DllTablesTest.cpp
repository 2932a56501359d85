// The plug-in DLL's export and import tables, read from the loaded image: it exports exactly
// the two functions under their C names, needs no compiler runtime DLL, and takes malloc and
// free from the same C runtime DLL as its host.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PluginLibrary.h"

namespace {

const unsigned char* imageBase(HMODULE module) {
  return reinterpret_cast<const unsigned char*>(module);
}

const IMAGE_DATA_DIRECTORY& directoryOf(HMODULE module, int entry) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(imageBase(module));
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(imageBase(module) + dos->e_lfanew);
  return nt->OptionalHeader.DataDirectory[entry];
}

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The DLL names the image imports from, lower case.
std::vector<std::string> importedDlls(HMODULE module) {
  const IMAGE_DATA_DIRECTORY& directory = directoryOf(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
  std::vector<std::string> names;
  if (directory.Size == 0) return names;
  const auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(imageBase(module) +
                                                                       directory.VirtualAddress);
  for (; entry->Name != 0; ++entry) {
    names.push_back(lowerCase(reinterpret_cast<const char*>(imageBase(module) + entry->Name)));
  }
  return names;
}

bool isCRuntime(const std::string& dll) {
  return dll == "msvcrt.dll" || dll.rfind("ucrtbase", 0) == 0 ||
         dll.rfind("api-ms-win-crt-heap", 0) == 0;
}

class PluginDll : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(plugin_.symbol("readDotProduct")), &module_));
  }

  PluginLibrary plugin_{QUARN_PLUGIN_PATH};
  HMODULE module_ = nullptr;
};

TEST_F(PluginDll, ExportsExactlyTheTwoFunctionsUnmangled) {
  const IMAGE_DATA_DIRECTORY& directory = directoryOf(module_, IMAGE_DIRECTORY_ENTRY_EXPORT);
  ASSERT_NE(directory.Size, 0u);
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(imageBase(module_) +
                                                                        directory.VirtualAddress);
  EXPECT_EQ(exports->NumberOfFunctions, 2u);  // none exported by ordinal alone
  const auto* nameOffsets =
      reinterpret_cast<const DWORD*>(imageBase(module_) + exports->AddressOfNames);
  std::vector<std::string> names;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    names.emplace_back(reinterpret_cast<const char*>(imageBase(module_) + nameOffsets[i]));
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"readDotProduct", "readDotProductNumberOfScans"}));
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(module_, "readDotProduct")),
            reinterpret_cast<void*>(plugin_.readDotProduct));
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(module_, "readDotProductNumberOfScans")),
            reinterpret_cast<void*>(plugin_.readDotProductNumberOfScans));
}

TEST_F(PluginDll, NeedsNoCompilerRuntimeAndSharesTheHostsCRuntime) {
  const std::vector<std::string> pluginDlls = importedDlls(module_);
  for (const std::string& dll : pluginDlls) {
    for (const char* compilerRuntime :
         {"libstdc++", "libgcc", "libwinpthread", "msvcp", "vcruntime"}) {
      EXPECT_NE(dll.rfind(compilerRuntime, 0), 0u) << dll;
    }
  }
  const std::vector<std::string> hostDlls = importedDlls(GetModuleHandleW(nullptr));
  int cRuntimes = 0;
  for (const std::string& dll : pluginDlls) {
    if (!isCRuntime(dll)) continue;
    ++cRuntimes;
    EXPECT_NE(std::find(hostDlls.begin(), hostDlls.end(), dll), hostDlls.end()) << dll;
  }
  EXPECT_GE(cRuntimes, 1);
}

}  // namespace
