#pragma once

#include <fstream>
#include <string>

namespace quarn::tool {

// An output file written under a temporary name beside it and renamed into place by
// commit(), so that a failed run never leaves a partial file under the real name.
class OutputFile {
 public:
  // Creates `path` + ".part". Throws std::runtime_error naming the file and the reason.
  explicit OutputFile(const std::string& path);
  // Removes the temporary file unless commit() succeeded.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  std::ostream& stream() { return stream_; }
  const std::string& path() const { return path_; }
  // Closes the temporary file and renames it to the real name; throws on failure.
  void commit();

 private:
  std::string path_;
  std::string tempPath_;
  std::ofstream stream_;
  bool committed_ = false;
};

}  // namespace quarn::tool
