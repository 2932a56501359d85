#include "OutputFile.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <streambuf>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>

#if defined(_WIN32)
#include <io.h>
#else
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace quarn::output {

namespace {

std::string reasonOf(int error) { return std::strerror(error); }

#if defined(_WIN32)
using FileStatus = struct _stat64;
int statFile(const std::string& path, FileStatus& status) {
  return _wstat64(fs::u8path(path).c_str(), &status);
}
int openFile(const std::string& path, int flags) {
  return _wopen(fs::u8path(path).c_str(), flags | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}
bool mayWrite(const std::string& path) { return _waccess(fs::u8path(path).c_str(), 2) == 0; }
long long writeTo(int fd, const char* data, std::size_t size) {
  return _write(fd, data, static_cast<unsigned>(size));
}
long long seekIn(int fd, long long offset, int whence) { return _lseeki64(fd, offset, whence); }
int closeFile(int fd) { return _close(fd); }
#else
using FileStatus = struct stat;
int statFile(const std::string& path, FileStatus& status) { return stat(path.c_str(), &status); }
int openFile(const std::string& path, int flags) {
  return open(path.c_str(), flags | O_CLOEXEC, 0666);
}
// The shell's rule for `>`: the effective ids' permission, so root may write anything.
bool mayWrite(const std::string& path) {
  return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}
long long writeTo(int fd, const char* data, std::size_t size) { return write(fd, data, size); }
long long seekIn(int fd, long long offset, int whence) { return lseek(fd, offset, whence); }
int closeFile(int fd) { return close(fd); }

// A Unix socket is not opened but connected to; -1 with errno set when it refuses.
int connectTo(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  const int error = errno;
  close(fd);
  errno = error;
  return -1;
}
#endif

#if defined(__linux__)
// Gives the unnamed file `fd` the name `target`; false with errno set (EEXIST: name taken).
bool linkAs(int fd, const std::string& target) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  const int error = errno;  // without /proc, the direct way, which needs a capability
  if (linkat(fd, "", AT_FDCWD, target.c_str(), AT_EMPTY_PATH) == 0) return true;
  errno = error;
  return false;
}
#endif

#if !defined(_WIN32)
// The process's own descriptor that `path` names, -1 for any other name. Opening such a name
// would reopen the file there from its start, or fail for a pipe's or a socket's.
int descriptorNamed(const fs::path& path) {
  std::error_code error;
  const fs::path name = fs::absolute(path, error).lexically_normal();
  if (error) return -1;
  if (name == "/dev/stdout") return 1;
  if (name == "/dev/stderr") return 2;
  const fs::path folder = name.parent_path();
  if (folder != "/dev/fd" && folder != "/proc/self/fd" && folder != "/proc/thread-self/fd" &&
      folder != "/proc/" + std::to_string(getpid()) + "/fd") {
    return -1;
  }
  // As the kernel reads the number: decimal, without a sign or a leading zero.
  const std::string number = name.filename().string();
  if (number.empty() || (number[0] == '0' && number.size() > 1)) return -1;
  int fd = -1;
  const char* end = number.data() + number.size();
  const auto [stop, problem] = std::from_chars(number.data(), end, fd);
  return problem == std::errc() && stop == end && fd >= 0 ? fd : -1;
}
#endif

// Where a name leads: one of the process's descriptors ("-" is 1), or through symbolic links
// a file or a name not taken yet. After 40 links it stays a link, which opening it then
// reports as a loop.
struct Destination {
  fs::path path;
  int descriptor = -1;
};

Destination destinationOf(const std::string& name) {
  if (name == "-") return {fs::u8path(name), 1};
  fs::path path = fs::u8path(name);
  for (int hops = 0; hops < 40; ++hops) {
#if !defined(_WIN32)
    if (const int fd = descriptorNamed(path); fd >= 0) return {path, fd};
#endif
    std::error_code error;
    if (!fs::is_symlink(path, error)) break;
    const fs::path link = fs::read_symlink(path, error);
    if (error) break;
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
  return {path, -1};
}

// The name by which the system finds the file: a descriptor's (not for "-" on Windows).
fs::path identityPath(const std::string& name, [[maybe_unused]] const Destination& destination) {
#if !defined(_WIN32)
  if (destination.descriptor >= 0) return "/dev/fd/" + std::to_string(destination.descriptor);
#endif
  return fs::u8path(name);
}

// The absolute name `path` has, or will have once made; empty when that cannot be told.
fs::path absoluteName(const fs::path& path) {
  std::error_code error;
  fs::path name = fs::absolute(path, error);
  if (!error) name = fs::weakly_canonical(name, error);
  return error ? fs::path() : name;
}

bool sameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  const Destination firstGoes = destinationOf(a), secondGoes = destinationOf(b);
  if (firstGoes.descriptor >= 0 && firstGoes.descriptor == secondGoes.descriptor) return true;
  const fs::path first = identityPath(a, firstGoes), second = identityPath(b, secondGoes);
  std::error_code error;
  if (fs::equivalent(first, second, error)) return true;
  if (fs::exists(first, error) || fs::exists(second, error)) return false;
  // Neither is there yet: one file when their links lead to one name, made absolute first, as
  // the canonical form of a bare name not there yet stays relative and that of "./name" not.
  const fs::path firstName = absoluteName(firstGoes.path);
  return !firstName.empty() && firstName == absoluteName(secondGoes.path);
}

// A descriptor of its own onto the process's `descriptor`; -1 with errno set when that is not
// open for writing.
int duplicate(int descriptor) {
#if defined(_WIN32)
  const int fd = _dup(descriptor);
  if (fd >= 0) _setmode(fd, _O_BINARY);  // no byte becomes "\r\n"
#else
  int fd = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
  if (fd >= 0 && (fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY) {  // as a write would fail
    close(fd);
    fd = -1;
    errno = EBADF;
  }
#endif
  return fd;
}

}  // namespace

// Writes to a file descriptor through a buffer, keeping the first failure's errno.
class DescriptorBuffer : public std::streambuf {
 public:
  explicit DescriptorBuffer(int fd) : fd_(fd), buffer_(1 << 16) { reset(); }
  ~DescriptorBuffer() override {
    if (fd_ >= 0) closeFile(fd_);
  }
  int fd() const { return fd_; }
  int error() const { return error_; }
  // Appends the whole file `from`, from its start.
  void copyFrom(int from) {
    if (seekIn(from, 0, SEEK_SET) != 0) fail(errno);
    for (long long got = 1; got > 0 && error_ == 0;) {
#if defined(_WIN32)
      got = _read(from, pptr(), static_cast<unsigned>(epptr() - pptr()));
#else
      got = read(from, pptr(), static_cast<std::size_t>(epptr() - pptr()));
#endif
      if (got == -1) fail(errno);
      if (got > 0) pbump(static_cast<int>(got));
      if (pptr() == epptr()) drain();
    }
  }
  // Writes out the buffer and closes the file; false with error() set when either fails.
  bool finish() {
    drain();
    if (closeFile(fd_) != 0 && error_ == 0) error_ = errno;
    fd_ = -1;
    return error_ == 0;
  }
  void fail(int error) { error_ = error_ != 0 ? error_ : error; }

 protected:
  int_type overflow(int_type c) override {
    if (!drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return drain() ? 0 : -1; }
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode) override {
    if (!drain()) return pos_type(off_type(-1));
    const int whence = direction == std::ios_base::beg   ? SEEK_SET
                       : direction == std::ios_base::cur ? SEEK_CUR
                                                         : SEEK_END;
    const long long at = seekIn(fd_, offset, whence);
    if (at < 0) fail(errno);
    return pos_type(off_type(at));
  }
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override {
    return seekoff(off_type(position), std::ios_base::beg, which);
  }

 private:
  void reset() { setp(buffer_.data(), buffer_.data() + buffer_.size()); }
  bool drain() {
    for (const char* p = pbase(); p < pptr() && error_ == 0;) {
      const long long written = writeTo(fd_, p, static_cast<std::size_t>(pptr() - p));
      if (written >= 0) p += written;
      if (written == -1 && errno != EINTR) error_ = errno;
    }
    reset();
    return error_ == 0;
  }

  int fd_;
  std::vector<char> buffer_;
  int error_ = 0;
};

void checkDistinctFiles(const std::vector<std::string>& inputs,
                        const std::vector<std::string>& outputs) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    for (const std::string& input : inputs) {
      if (sameFile(outputs[i], input)) {
        throw SameFileError("the output " + outputs[i] + " and the input " + input +
                            " are the same file");
      }
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (sameFile(outputs[i], outputs[j])) {
        throw SameFileError("the outputs " + outputs[j] + " and " + outputs[i] +
                            " are the same file");
      }
    }
  }
}

OutputFileError::OutputFileError(const std::string& path, int code)
    : OutputFileError(path, reasonOf(code), code) {}

bool namesStandardOutput(const std::string& path) { return destinationOf(path).descriptor == 1; }

OutputFile::OutputFile(const std::string& path, bool seeks) : path_(path) {
  if (path.empty()) throw OutputFileError(path, ENOENT);  // as open("") fails
  openTarget(seeks);
  stream_.rdbuf(buffer_.get());
}

void OutputFile::openTarget([[maybe_unused]] bool seeks) {
  int fd = -1;
  FileStatus old{};
  bool exists = false;
  const Destination destination = destinationOf(path_);
  if (destination.descriptor >= 0) {
    standardOutput_ = destination.descriptor == 1;
    if (standardOutput_) std::cout.flush();  // and C's stdout, which it writes through
    fd = duplicate(destination.descriptor);
#if defined(_WIN32)
    if (fd >= 0 && standardOutput_) _dup2(2, 1);
#else
    if (fd >= 0 && standardOutput_) dup2(2, 1);
#endif
    direct_ = true;
  } else {
    target_ = destination.path.u8string();
    exists = statFile(target_, old) == 0;
    if (exists && S_ISDIR(old.st_mode)) throw OutputFileError(path_, EISDIR);
    direct_ = exists && !S_ISREG(old.st_mode);
    if (direct_) fd = openFile(target_, O_WRONLY);
#if !defined(_WIN32)
    if (direct_ && fd < 0 && errno == ENXIO && S_ISSOCK(old.st_mode)) fd = connectTo(target_);
#endif
  }
  if (direct_) {
    if (fd < 0) throw OutputFileError(path_, errno);
#if !defined(_WIN32)
    // A pipe, or a file where the caller's offsets would miss: the whole file goes there at
    // commit.
    if (seeks && (seekIn(fd, 0, SEEK_CUR) != 0 || (fcntl(fd, F_GETFL) & O_APPEND) != 0)) {
      spool_ = fd;
      std::FILE* spool = std::tmpfile();
      fd = spool != nullptr ? fcntl(fileno(spool), F_DUPFD_CLOEXEC, 0) : -1;
      const int error = errno;
      if (spool != nullptr) std::fclose(spool);
      if (fd < 0) {
        closeFile(std::exchange(spool_, -1));
        throw OutputFileError(path_, error);
      }
    }
#endif
    buffer_ = std::make_unique<DescriptorBuffer>(fd);
    return;
  }
  if (exists && !mayWrite(target_)) throw OutputFileError(path_, errno);
#if defined(__linux__)
  const fs::path folder = fs::u8path(target_).parent_path();
  fd = open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  unnamed_ = fd != -1;
  // Refused by the file system, or no such folder: the temporary name then says which.
#endif
  if (fd < 0) {
    fd = openFile(target_ + ".part", O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0) throw OutputFileError(path_, errno);
    tempPath_ = target_ + ".part";
  }
  buffer_ = std::make_unique<DescriptorBuffer>(fd);
#if !defined(_WIN32)
  if (exists) {  // as the old file was: the owner first, as a change of owner drops set-id bits
    if (geteuid() == 0 && fchown(fd, old.st_uid, old.st_gid) != 0) buffer_->fail(errno);
    if (fchmod(fd, old.st_mode & 07777) != 0) buffer_->fail(errno);
  }
#endif
}

OutputFile::~OutputFile() {
  buffer_.reset();  // an unnamed file goes with its last descriptor
  if (spool_ != -1) closeFile(spool_);
  std::error_code ignored;
  if (!committed_ && !tempPath_.empty()) fs::remove(fs::u8path(tempPath_), ignored);
}

OutputFileError OutputFile::error() const {
  const int error = buffer_->error();
  return error != 0 ? OutputFileError(path_, error) : OutputFileError(path_, "the write failed");
}

void OutputFile::linkIntoPlace() {
#if defined(__linux__)
  if (linkAs(buffer_->fd(), target_)) return;
  if (errno == EEXIST) {
    // No call puts an unnamed file over an existing name: it takes a temporary name, and the
    // rename replaces the old file in one step (a kill in between leaves that name).
    const std::string temp = target_ + ".part";
    unlink(temp.c_str());
    if (linkAs(buffer_->fd(), temp)) {
      if (std::rename(temp.c_str(), target_.c_str()) == 0) return;
      const int error = errno;
      unlink(temp.c_str());
      errno = error;
    }
  }
  buffer_->fail(errno);
  throw error();
#endif
}

void OutputFile::commit() {
  if (!stream_.flush()) throw error();
  if (spool_ != -1) {  // the pipe gets the whole file now
    DescriptorBuffer pipe(std::exchange(spool_, -1));
    pipe.copyFrom(buffer_->fd());
    if (!pipe.finish()) buffer_->fail(pipe.error());
  }
  if (unnamed_) linkIntoPlace();  // named now, whatever the close below says
  if (!buffer_->finish()) throw error();
  if (tempPath_.empty()) return;
  std::error_code error;
  fs::rename(fs::u8path(tempPath_), fs::u8path(target_), error);
  if (error) {
    const std::error_condition condition = error.default_error_condition();  // as an errno
    throw OutputFileError(path_, error.message(),
                          condition.category() == std::generic_category() ? condition.value() : 0);
  }
  committed_ = true;
}

}  // namespace quarn::output
