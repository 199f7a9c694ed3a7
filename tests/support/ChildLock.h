// Holds an exclusive lock on a file from another process, as another
// program that has the file open would.
#pragma once

#include <string>
#include <sys/types.h>

namespace corvella::test {

class ChildLock {
 public:
  explicit ChildLock(const std::string& path);
  ~ChildLock();
  ChildLock(const ChildLock&) = delete;
  ChildLock& operator=(const ChildLock&) = delete;
  bool locked() const { return locked_; }

 private:
  pid_t child_ = -1;
  bool locked_ = false;
};

}  // namespace corvella::test
