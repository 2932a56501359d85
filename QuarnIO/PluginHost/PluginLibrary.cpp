#include "PluginLibrary.h"

#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

#if defined(_WIN32)
std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int size = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(length > 0 ? length : 0, L'\0');
  if (length > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, &wide[0], length);
  return wide;
}

void* load(const std::string& path, std::string& error) {
  HMODULE module = LoadLibraryW(widen(path).c_str());
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
