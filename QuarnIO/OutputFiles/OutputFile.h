#pragma once

#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace quarn::output {

// "cannot write PATH: reason", the reason in the system's words where it has them;
// reason() alone for callers that word the failure their own way, and the system's error
// number (errno), 0 where the system gave none, for callers that raise by kind (Python's
// PermissionError, IsADirectoryError, ...).
class OutputFileError : public std::runtime_error {
 public:
  OutputFileError(const std::string& path, const std::string& reason, int code = 0)
      : std::runtime_error(path.empty() ? "an output file name is empty"
                                        : "cannot write " + path + ": " + reason),
        path_(path),
        reason_(reason),
        code_(code) {}
  // The system's reason for `code`.
  OutputFileError(const std::string& path, int code);
  const std::string& path() const { return path_; }
  const std::string& reason() const { return reason_; }
  int code() const { return code_; }

 private:
  std::string path_, reason_;
  int code_;
};

// Names on one command line that are one file: the command line is wrong, nothing is written.
class SameFileError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// Throws SameFileError when one of `outputs` is the same file as one of `inputs` or as another
// output: the same device and inode (volume and file index on Windows), so through hard and
// symbolic links too; outputs not there yet by the absolute name their links lead to. A name
// that leads to one of the process's descriptors is that descriptor, "-" standard output.
// Names are UTF-8.
void checkDistinctFiles(const std::vector<std::string>& inputs,
                        const std::vector<std::string>& outputs);

// True when an OutputFile of `path` would be standard output: "-", or a name that leads to
// descriptor 1. Lets a caller move its own messages elsewhere before opening it.
bool namesStandardOutput(const std::string& path);

class DescriptorBuffer;

// An output file. A regular file, there or not, is the one its name leads to through symbolic
// links (the links stay); it appears under its name only once complete. On Linux it is written
// as an unnamed file in the target's folder (O_TMPFILE) and linked into place by commit(), so
// not even a killed run leaves anything behind; where the folder's file system refuses unnamed
// files, and on other platforms, it is written under the target's name + ".part" and renamed
// by commit(); a failed run removes that name, a killed one leaves it. An existing file is
// replaced only when the user may write it (the shell's rule for `>`), and the new one keeps
// its mode, and its owner and group when running as root. Anything else, a FIFO, a device or
// a socket, is opened and written straight through, never replaced. A name that leads to one
// of the process's own descriptors (/dev/stdout, /dev/fd/N, /proc/self/fd/N) is written
// straight through that descriptor, at its offset, never reopened. "-" is standard output, in
// binary. Once standard output is the file, the process's own standard output goes to
// standard error, so that nothing else printed lands in it.
class OutputFile {
 public:
  // Opens the file for writing; `path` is UTF-8. `seeks`: the caller will seek from the file's
  // start, so a target written straight through that cannot (a FIFO, a descriptor at an offset
  // or appending) gets the whole file at commit(). Throws OutputFileError.
  explicit OutputFile(const std::string& path, bool seeks = false);
  // Discards the file unless commit() succeeded.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  std::ostream& stream() { return stream_; }
  const std::string& path() const { return path_; }
  bool isStandardOutput() const { return standardOutput_; }
  // True when stream() may seek: the file goes to a temporary (or, when asked, a spool).
  bool seekable() const { return !direct_ || spool_ >= 0; }
  // Why writing stream() failed, with the system's reason.
  OutputFileError error() const;
  // Writes out what is buffered and puts the file under its name, replacing the file there.
  // Throws OutputFileError.
  void commit();

 private:
  void openTarget(bool seeks);
  void linkIntoPlace();

  std::string path_;
  std::string target_;    // UTF-8: where `path_` leads through symbolic links
  std::string tempPath_;  // the temporary name, when there is one
  bool unnamed_ = false;  // written as an O_TMPFILE
  bool direct_ = false;   // written straight through
  bool standardOutput_ = false;
  int spool_ = -1;  // direct, where the caller cannot seek: the file goes there at commit()
  std::unique_ptr<DescriptorBuffer> buffer_;
  std::ostream stream_{nullptr};
  bool committed_ = false;
};

}  // namespace quarn::output
