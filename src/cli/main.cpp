#include <unistd.h>

#include <atomic>
#include <csignal>
#include <iostream>

#include "cli/Cli.h"

namespace {

std::atomic<bool> interrupted{false};

// The first Ctrl-C asks the run to stop after the current block; a second
// one ends the program at once.
extern "C" void OnInterrupt(int) {
  interrupted = true;
  std::signal(SIGINT, SIG_DFL);
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGINT, OnInterrupt);
  const bool progress = ::isatty(STDERR_FILENO) != 0;
  return corvella::cli::Run(argc, argv, std::cout, std::cerr, progress, interrupted);
}
