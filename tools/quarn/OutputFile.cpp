#include "OutputFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "Platform.h"

namespace fs = std::filesystem;

namespace quarn::tool {

OutputFile::OutputFile(const std::string& path) : path_(path), tempPath_(path + ".part") {
  std::error_code error;
  if (fs::is_directory(pathFromUtf8(path_), error)) {
    throw std::runtime_error("cannot write " + path_ + ": it is a directory");
  }
  errno = 0;
  stream_.open(pathFromUtf8(tempPath_), std::ios::binary | std::ios::trunc);
  if (!stream_) {
    throw std::runtime_error("cannot write " + path_ + ": " +
                             (errno != 0 ? std::strerror(errno) : "cannot create the file"));
  }
}

OutputFile::~OutputFile() {
  if (committed_) return;
  if (stream_.is_open()) stream_.close();
  std::error_code ignored;
  fs::remove(pathFromUtf8(tempPath_), ignored);
}

void OutputFile::commit() {
  stream_.close();
  if (stream_.fail()) throw std::runtime_error("cannot write " + path_ + ": the write failed");
  std::error_code error;
  fs::rename(pathFromUtf8(tempPath_), pathFromUtf8(path_), error);
  if (error) throw std::runtime_error("cannot write " + path_ + ": " + error.message());
  committed_ = true;
}

}  // namespace quarn::tool
