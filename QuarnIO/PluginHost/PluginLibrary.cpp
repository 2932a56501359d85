#include "PluginLibrary.h"

#include <stdexcept>

#if defined(_WIN32)
#include <filesystem>
#include <system_error>

#include "platform/Utf16.h"
#else
#include <dlfcn.h>
#endif

namespace {

#if defined(_WIN32)
void* load(const std::string& path, std::string& error) {
  // From its full path, so that the plug-in's folder is searched for the SDK DLL it needs.
  const std::filesystem::path given = toUtf16(path);
  std::error_code noFullPath;
  std::filesystem::path fullPath = std::filesystem::absolute(given, noFullPath);
  if (noFullPath) fullPath = given;
  fullPath.make_preferred();  // that search wants backslashes
  HMODULE module = LoadLibraryExW(fullPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) error = "Windows error " + std::to_string(GetLastError());
  return reinterpret_cast<void*>(module);
}
void* find(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void unload(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
void* load(const std::string& path, std::string& error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) error = dlerror();
  return handle;
}
void* find(void* handle, const char* name) { return dlsym(handle, name); }
void unload(void* handle) { dlclose(handle); }
#endif

}  // namespace

PluginLibrary::PluginLibrary(const std::string& path) {
  std::string error;
  handle_ = load(path, error);
  if (handle_ == nullptr)
    throw std::runtime_error("cannot load the plug-in " + path + ": " + error);
  readDotProduct = reinterpret_cast<ReadDotProductFunction>(symbol("readDotProduct"));
  readDotProductNumberOfScans =
      reinterpret_cast<ReadDotProductNumberOfScansFunction>(symbol("readDotProductNumberOfScans"));
  if (readDotProduct == nullptr || readDotProductNumberOfScans == nullptr) {
    unload(handle_);
    throw std::runtime_error("the plug-in " + path +
                             " lacks readDotProduct or readDotProductNumberOfScans");
  }
}

PluginLibrary::~PluginLibrary() { unload(handle_); }

void* PluginLibrary::symbol(const char* name) const { return find(handle_, name); }
