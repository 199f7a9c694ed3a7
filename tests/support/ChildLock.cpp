#include "support/ChildLock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvella::test {

ChildLock::ChildLock(const std::string& path) {
  int ready[2];
  if (::pipe(ready) != 0) return;
  child_ = ::fork();
  if (child_ == 0) {
    ::close(ready[0]);
    int fd = ::open(path.c_str(), O_RDONLY);
    char ok = (fd >= 0 && ::flock(fd, LOCK_EX) == 0) ? 1 : 0;
    if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char ok = 0;
  locked_ = child_ > 0 && ::read(ready[0], &ok, 1) == 1 && ok == 1;
  ::close(ready[0]);
}

ChildLock::~ChildLock() {
  if (child_ > 0) {
    ::kill(child_, SIGKILL);
    ::waitpid(child_, nullptr, 0);
  }
}

}  // namespace corvella::test
