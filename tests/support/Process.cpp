#include "support/Process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvella::test {
namespace {

void Drain(int outFd, int errFd, std::string& out, std::string& err) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  int open = 2;
  char buffer[4096];
  while (open > 0 && ::poll(fds, 2, -1) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        (i == 0 ? out : err).append(buffer, static_cast<std::size_t>(got));
      } else {
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

}  // namespace

ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options) {
  int outPipe[2], errPipe[2];
  ChildResult result;
  if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) return result;
  pid_t child = ::fork();
  if (child == 0) {
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    if (!options.workingFolder.empty() && ::chdir(options.workingFolder.c_str()) != 0) ::_exit(125);
    if (options.fileSizeLimit >= 0) {
      ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
      rlimit limit{static_cast<rlim_t>(options.fileSizeLimit), static_cast<rlim_t>(options.fileSizeLimit)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.asNobody && ::geteuid() == 0) {
      const gid_t group = 65534;
      if (::setgroups(1, &group) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(126);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  Drain(outPipe[0], errPipe[0], result.out, result.err);
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace corvella::test
