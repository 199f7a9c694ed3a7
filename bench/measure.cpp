// Runs shell commands several times, interleaved so that they meet the same
// machine state, and prints for each the median wall time in seconds and the
// largest peak resident memory of its runs in KiB, one line per command:
//   measure RUNS 'PREPARE' 'COMMAND' ['COMMAND'...]   ->   "0.0452 1804"
// PREPARE (may be empty) runs untimed before every timed run, to clear an
// output folder, say.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Returns the wall time of one run, or a negative value when it failed.
double RunOnce(const char* command, long* peakKb) {
  const auto begin = std::chrono::steady_clock::now();
  pid_t child = fork();
  if (child == 0) {
    execl("/bin/sh", "sh", "-c", command, static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (child < 0 || wait4(child, &status, 0, &usage) != child) return -1;
  const auto end = std::chrono::steady_clock::now();
  *peakKb = std::max(*peakKb, usage.ru_maxrss);
  if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) return -1;
  return std::chrono::duration<double>(end - begin).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: measure RUNS PREPARE COMMAND [COMMAND...]\n");
    return 2;
  }
  const int runs = std::max(1, std::atoi(argv[1]));
  const char* prepare = argv[2];
  const int commands = argc - 3;
  std::vector<std::vector<double>> times(static_cast<std::size_t>(commands));
  std::vector<long> peakKb(static_cast<std::size_t>(commands), 0);
  for (int i = 0; i < runs; ++i) {
    for (int c = 0; c < commands; ++c) {
      if (prepare[0] != '\0' && std::system(prepare) != 0) return 1;
      const double seconds = RunOnce(argv[3 + c], &peakKb[static_cast<std::size_t>(c)]);
      if (seconds < 0) {
        std::fprintf(stderr, "measure: command failed: %s\n", argv[3 + c]);
        return 1;
      }
      times[static_cast<std::size_t>(c)].push_back(seconds);
    }
  }
  for (int c = 0; c < commands; ++c) {
    auto& t = times[static_cast<std::size_t>(c)];
    std::sort(t.begin(), t.end());
    std::printf("%.4f %ld\n", t[t.size() / 2], peakKb[static_cast<std::size_t>(c)]);
  }
  return 0;
}
