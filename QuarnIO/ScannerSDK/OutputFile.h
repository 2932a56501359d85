#pragma once

#include <fstream>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

namespace quarn::scan {

// "cannot write PATH: reason"; reason() alone for callers that word the failure their own way.
class OutputFileError : public std::runtime_error {
 public:
  OutputFileError(const std::string& path, const std::string& reason)
      : std::runtime_error("cannot write " + path + ": " + reason), reason_(reason) {}
  const std::string& reason() const { return reason_; }

 private:
  std::string reason_;
};

// An output file that appears under its name only once complete. On Linux it is written as an
// unnamed file in the target's folder (O_TMPFILE) and linked into place by commit(), so not even
// a killed run leaves anything behind. Where the folder's file system refuses unnamed files, and
// on other platforms, it is written under `path` + ".part" and renamed by commit(); a failed run
// removes that name, a killed one leaves it.
class OutputFile {
 public:
  // Opens the file for writing; `path` is UTF-8. Throws OutputFileError.
  explicit OutputFile(const std::string& path);
  // Discards the file unless commit() succeeded.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  std::ostream& stream() { return stream_; }
  const std::string& path() const { return path_; }
  // Writes out what is buffered and puts the file under its name, replacing any file there.
  // Throws OutputFileError.
  void commit();

 private:
  void linkIntoPlace();

  std::string path_;
  std::string tempPath_;  // the temporary name, when there is one
  int unnamed_ = -1;      // the unnamed file's descriptor, owned by buffer_
  std::unique_ptr<std::filebuf> buffer_;
  std::ostream stream_{nullptr};
  bool committed_ = false;
};

}  // namespace quarn::scan
