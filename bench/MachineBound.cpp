#include "MachineBound.h"

#include "platform/PageRange.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "Seconds.h"

namespace quarn::bench {

namespace {

using quarn::Clock;
using quarn::secondsSince;

// The writes must happen although nothing reads the storage before it is freed.
void keep(void* storage) { asm volatile("" : : "r"(storage) : "memory"); }

// Asks for huge pages for the page-aligned part of the storage if `hugePages`, and faults it in
// with writable pages. False when the kernel refuses: the method is then not measured.
bool prepare(unsigned char* storage, std::size_t bytes, bool hugePages) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE) && defined(MADV_HUGEPAGE)
  const PageRange range = wholePagesWithin(reinterpret_cast<std::uintptr_t>(storage), bytes,
                                           static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE)));
  if (range.bytes() == 0) return true;  // no whole page: the writes alone
  if (hugePages && madvise(range.data(), range.bytes(), MADV_HUGEPAGE) != 0) return false;
  return madvise(range.data(), range.bytes(), MADV_POPULATE_WRITE) == 0;
#else
  (void)storage, (void)bytes, (void)hugePages;
  return false;
#endif
}

}  // namespace

const char* touchMethodName(TouchMethod method) {
  switch (method) {
    case TouchMethod::kPopulateThenWrite:
      return "populate+write";
    case TouchMethod::kHugePagesPopulateThenWrite:
      return "hugepage+populate+write";
  }
  return "?";
}

double timeFreshStorage(std::size_t bytes, TouchMethod method) {
  const Clock::time_point start = Clock::now();
  auto* storage = static_cast<unsigned char*>(std::malloc(bytes));
  if (storage == nullptr) throw std::bad_alloc();
  const bool done = prepare(storage, bytes, method == TouchMethod::kHugePagesPopulateThenWrite);
  std::memset(storage, 0xa5, bytes);  // not 0: every byte really changes
  keep(storage);
  const double seconds = secondsSince(start);
  std::free(storage);
  return done ? seconds : -1;
}

double timeFileRead(const std::string& path, std::vector<char>& buffer, std::uint64_t& bytes) {
  bytes = 0;
  const Clock::time_point start = Clock::now();
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
  for (;;) {
    const ssize_t got = read(file, buffer.data(), buffer.size());
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      close(file);
      throw std::runtime_error("cannot read " + path + ": " + std::strerror(error));
    }
    bytes += static_cast<std::uint64_t>(got);
  }
  close(file);
  return secondsSince(start);
}

double timeFileWrite(const std::string& path, const std::vector<char>& bytes) {
  const Clock::time_point start = Clock::now();
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (file < 0) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t put = write(file, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) {
      const int error = errno;
      close(file);
      throw std::runtime_error("cannot write " + path + ": " + std::strerror(error));
    }
    done += static_cast<std::size_t>(put);
  }
  if (close(file) != 0)
    throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
  return secondsSince(start);
}

}  // namespace quarn::bench
