#include "support/EngineFixture.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

namespace corvella::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "corvella-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it); it.increment(ec)) {
    if (it->is_directory(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::vector<std::string> TempDir::Names(const std::string& below) const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(*this / below)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

ChildLock::ChildLock(const std::string& path) {
  int ready[2];
  if (::pipe(ready) != 0) return;
  child_ = ::fork();
  if (child_ == 0) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0;
    if (::write(ready[1], &ok, 1) == 1) ::pause();
    ::_exit(0);
  }
  char ok = 0;
  locked = child_ > 0 && ::read(ready[0], &ok, 1) == 1 && ok;
  ::close(ready[0]);
  ::close(ready[1]);
}

ChildLock::~ChildLock() {
  if (child_ <= 0) return;
  ::kill(child_, SIGKILL);
  ::waitpid(child_, nullptr, 0);
}

ShellResult Shell(const std::string& commandLine) {
  TempDir scratch;
  const int status = std::system(("(" + commandLine + ") >" + scratch / "out" + " 2>" + scratch / "err").c_str());
  const Bytes out = ReadFile(scratch / "out"), err = ReadFile(scratch / "err");
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, {out.begin(), out.end()}, {err.begin(), err.end()}};
}

}  // namespace corvella::test
