#include "Platform.h"

#include <system_error>

#if defined(_WIN32)
#include "platform/Utf16.h"
// windows.h, which Utf16.h includes, must come first.
#include <shellapi.h>
#endif

namespace fs = std::filesystem;

namespace quarn::tool {

#if defined(_WIN32)

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(toUtf8(wide[i]));
  LocalFree(wide);
  return arguments;
}

fs::path executablePath(const std::string& fallback) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
    if (length == 0) break;
    if (length < buffer.size()) return fs::path(buffer.substr(0, length));
    buffer.resize(buffer.size() * 2);
  }
  std::error_code error;
  return fs::absolute(pathFromUtf8(fallback), error);
}

#else

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

fs::path executablePath(const std::string& fallback) {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (!error) return self;
  return fs::absolute(fallback, error);
}

#endif

}  // namespace quarn::tool
