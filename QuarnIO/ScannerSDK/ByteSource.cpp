#include "ByteSource.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace quarn::scan {
namespace {

// std::fseek takes a long, which is 32 bits on Windows; scans can be larger. Offsets never pass
// the file's size, which the same type measured.
bool seekTo(std::FILE* file, std::uint64_t offset) {
#if defined(_WIN32)
  return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
  return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0;
#endif
}

bool sizeOf(std::FILE* file, std::uint64_t& size) {
#if defined(_WIN32)
  const long long end = _fseeki64(file, 0, SEEK_END) == 0 ? _ftelli64(file) : -1;
#else
  const long end = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
#endif
  size = static_cast<std::uint64_t>(end);
  return end >= 0;
}

class FileSource final : public ByteSource {
 public:
  FileSource(std::FILE* file, std::uint64_t size) : file_(file), size_(size) {}
  ~FileSource() override { std::fclose(file_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  std::uint64_t size() const override { return size_; }

  bool read(std::uint64_t offset, void* out, std::size_t count) override {
    if (offset > size_ || count > size_ - offset) return false;
    return seekTo(file_, offset) && std::fread(out, 1, count, file_) == count;
  }

 private:
  std::FILE* file_;
  std::uint64_t size_;
};

class MemorySource final : public ByteSource {
 public:
  MemorySource(const void* data, std::size_t size)
      : data_(static_cast<const unsigned char*>(data)), size_(size) {}

  std::uint64_t size() const override { return size_; }

  bool read(std::uint64_t offset, void* out, std::size_t count) override {
    if (offset > size_ || count > size_ - offset) return false;
    if (count != 0) std::memcpy(out, data_ + offset, count);
    return true;
  }

 private:
  const unsigned char* data_;
  std::size_t size_;
};

}  // namespace

std::unique_ptr<ByteSource> openFileSource(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (file == nullptr) return nullptr;
  // Reads are few and large or scattered: a stdio buffer would only copy them twice, and
  // would hide changes made to the file since open.
  std::setbuf(file.get(), nullptr);
  std::uint64_t size = 0;
  if (!sizeOf(file.get(), size)) return nullptr;
  auto source = std::make_unique<FileSource>(file.get(), size);
  file.release();  // the source closes it
  return source;
}

std::unique_ptr<ByteSource> memorySource(const void* data, std::size_t size) {
  return std::make_unique<MemorySource>(data, data == nullptr ? 0 : size);
}

}  // namespace quarn::scan
