// A scratch folder removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <string>

#include "support/WavBuilder.h"

namespace corvella::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  // Writes `bytes` to a file in the folder and returns its full path.
  std::string Put(const std::string& name, const Bytes& bytes) const;
  // File names in the folder, sorted, hidden ones included.
  std::vector<std::string> Names() const;

 private:
  std::string path_;
};

}  // namespace corvella::test
