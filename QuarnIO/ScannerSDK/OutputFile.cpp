#include "OutputFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#if defined(__linux__) && defined(__GLIBCXX__)
#include <fcntl.h>
#include <unistd.h>
#include <ext/stdio_filebuf.h>
#define QUARN_UNNAMED_FILES 1
#endif

namespace fs = std::filesystem;

namespace quarn::scan {

namespace {

std::string errnoText(const char* fallback) { return errno != 0 ? std::strerror(errno) : fallback; }

// The name an output has while it is written, or on its way over an existing file.
std::string partPath(const std::string& path) { return path + ".part"; }

#if defined(QUARN_UNNAMED_FILES)
// Gives the unnamed file `fd` the name `target`; false with errno set (EEXIST: name taken).
bool linkAs(int fd, const std::string& target) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  if (errno == EEXIST) return false;
  const int error = errno;  // without /proc, the direct way, which needs a capability
  if (linkat(fd, "", AT_FDCWD, target.c_str(), AT_EMPTY_PATH) == 0) return true;
  errno = error;
  return false;
}
#endif

}  // namespace

OutputFile::OutputFile(const std::string& path) : path_(path) {
  const fs::path file = fs::u8path(path);
  std::error_code error;
  if (fs::is_directory(file, error)) throw OutputFileError(path_, "it is a directory");
#if defined(QUARN_UNNAMED_FILES)
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  const int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd >= 0) {
    auto unnamed = std::make_unique<__gnu_cxx::stdio_filebuf<char>>(fd, std::ios::out);
    if (unnamed->is_open()) {
      unnamed_ = fd;
      buffer_ = std::move(unnamed);
      stream_.rdbuf(buffer_.get());
      return;
    }
    close(fd);
  }
  // Refused by the file system, or no such folder: the temporary name then says which.
#endif
  tempPath_ = partPath(path);
  auto named = std::make_unique<std::filebuf>();
  errno = 0;
  if (named->open(fs::u8path(tempPath_), std::ios::out | std::ios::binary | std::ios::trunc) ==
      nullptr) {
    throw OutputFileError(path_, errnoText("cannot create the file"));
  }
  buffer_ = std::move(named);
  stream_.rdbuf(buffer_.get());
}

OutputFile::~OutputFile() {
  buffer_.reset();  // an unnamed file goes with its last descriptor
  if (committed_ || tempPath_.empty()) return;
  std::error_code ignored;
  fs::remove(fs::u8path(tempPath_), ignored);
}

void OutputFile::linkIntoPlace() {
#if defined(QUARN_UNNAMED_FILES)
  if (linkAs(unnamed_, path_)) return;
  if (errno == EEXIST) {
    // No call puts an unnamed file over an existing name: it takes a temporary name, and the
    // rename replaces the old file in one step (a kill in between leaves that name).
    const std::string temp = partPath(path_);
    unlink(temp.c_str());
    if (linkAs(unnamed_, temp)) {
      if (std::rename(temp.c_str(), path_.c_str()) == 0) return;
      const int error = errno;
      unlink(temp.c_str());
      errno = error;
    }
  }
  throw OutputFileError(path_, errnoText("cannot link the file into place"));
#endif
}

void OutputFile::commit() {
  errno = 0;
  if (!stream_.flush()) throw OutputFileError(path_, "the write failed");
  if (unnamed_ >= 0) {
    linkIntoPlace();
    committed_ = true;  // it has its name now, whatever the close below says
  }
  if (buffer_->close() == nullptr) throw OutputFileError(path_, "the write failed");
  if (committed_) return;
  std::error_code error;
  fs::rename(fs::u8path(tempPath_), fs::u8path(path_), error);
  if (error) throw OutputFileError(path_, error.message());
  committed_ = true;
}

}  // namespace quarn::scan
