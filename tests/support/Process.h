// Runs a program in a child process with limits a test chooses: a file size
// limit, an unprivileged user. Captures what it prints.
#pragma once

#include <string>
#include <vector>

namespace corvella::test {

struct ChildOptions {
  long long fileSizeLimit = -1;  // RLIMIT_FSIZE in bytes; -1 leaves it alone
  bool asNobody = false;         // drop to the unprivileged user when running as root
  std::string workingFolder;
};

struct ChildResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options = {});

}  // namespace corvella::test
