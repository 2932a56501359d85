#include "CopcTempFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "PointWriter.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace quarn {

void CopcTempFile::fail(int error) const {
  throw PointFormatError("its temporary file in " + folder_ + ": " + std::strerror(error));
}

#if defined(_WIN32)

// The C runtime's temporary file is removed when closed or when the process ends.
CopcTempFile::CopcTempFile() : folder_("the system's temporary folder") {
  file_ = std::tmpfile();
  if (file_ == nullptr) fail(errno);
}

CopcTempFile::~CopcTempFile() { std::fclose(static_cast<std::FILE*>(file_)); }

std::uint64_t CopcTempFile::append(const void* data, std::size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto* file = static_cast<std::FILE*>(file_);
  if (_fseeki64(file, static_cast<long long>(size_), SEEK_SET) != 0 ||
      std::fwrite(data, 1, size, file) != size || std::fflush(file) != 0)
    fail(errno);
  size_ += size;
  return size_ - size;
}

void CopcTempFile::read(std::uint64_t at, void* data, std::size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto* file = static_cast<std::FILE*>(file_);
  if (_fseeki64(file, static_cast<long long>(at), SEEK_SET) != 0 ||
      std::fread(data, 1, size, file) != size)
    fail(errno != 0 ? errno : EIO);
}

#else

namespace {

std::string temporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

}  // namespace

CopcTempFile::CopcTempFile() : folder_(temporaryFolder()) {
#if defined(O_TMPFILE)
  fd_ = open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ >= 0) return;
    // Refused by the folder's file system: a named file, unlinked at once.
#endif
  std::string name = folder_ + "/quarn-copc-XXXXXX";
  fd_ = mkstemp(name.data());
  if (fd_ < 0) fail(errno);
  unlink(name.c_str());
}

CopcTempFile::~CopcTempFile() { close(fd_); }

std::uint64_t CopcTempFile::append(const void* data, std::size_t size) {
  const std::uint64_t at = size_;
  const auto* bytes = static_cast<const char*>(data);
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = pwrite(fd_, bytes + done, size - done, static_cast<off_t>(at + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail(n < 0 ? errno : ENOSPC);
    done += static_cast<std::size_t>(n);
  }
  size_ += size;
  return at;
}

void CopcTempFile::read(std::uint64_t at, void* data, std::size_t size) {
  auto* bytes = static_cast<char*>(data);
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = pread(fd_, bytes + done, size - done, static_cast<off_t>(at + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail(n < 0 ? errno : EIO);
    done += static_cast<std::size_t>(n);
  }
}

#endif

}  // namespace quarn
