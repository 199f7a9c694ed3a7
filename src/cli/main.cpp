#include <unistd.h>

#include <atomic>
#include <csignal>
#include <iostream>

#include "cli/Cli.h"
#include "wave/FileApi.h"

namespace {

std::atomic<int> stopSignal{0};

// The first Ctrl-C, SIGTERM or SIGHUP asks the run to stop after the current
// block; the part under way is dropped. A second one ends the program at
// once, removing the part's temporary file first.
extern "C" void OnStop(int signal) {
  int none = 0;
  if (!stopSignal.compare_exchange_strong(none, signal)) {
    corvella::wave::RemovePendingTemporary();
    ::_exit(128 + stopSignal.load());
  }
}

}  // namespace

int main(int argc, char** argv) {
  struct sigaction stop {};
  stop.sa_handler = OnStop;
  sigemptyset(&stop.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &stop, nullptr);
  // A file-size limit or a closed stdout shows up as a failed write, which
  // is reported, instead of ending the program in the middle of a part.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);

  std::ios::sync_with_stdio(false);
  corvella::cli::FdStream out(STDOUT_FILENO);
  corvella::cli::Console console(out, std::cerr, ::isatty(STDERR_FILENO) != 0, stopSignal,
                                 [&out] { return out.Failure(); });
  const int status = corvella::cli::Run(argc, argv, console);
  out.flush();
  return status;
}
