// Runs a shell command several times and prints the median wall time in
// seconds and the largest peak resident memory of the runs in KiB:
//   measure RUNS 'COMMAND'   ->   "0.0452 1804"
// An optional third argument is a command run before each timed run (to
// clear an output folder, say); it is not timed.
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
  if (argc < 3) {
    std::fprintf(stderr, "usage: measure RUNS COMMAND [PREPARE]\n");
    return 2;
  }
  const int runs = std::max(1, std::atoi(argv[1]));
  std::vector<double> times;
  long peakKb = 0;
  for (int i = 0; i < runs; ++i) {
    if (argc > 3 && std::system(argv[3]) != 0) return 1;
    const double seconds = RunOnce(argv[2], &peakKb);
    if (seconds < 0) {
      std::fprintf(stderr, "measure: command failed: %s\n", argv[2]);
      return 1;
    }
    times.push_back(seconds);
  }
  std::sort(times.begin(), times.end());
  std::printf("%.4f %ld\n", times[times.size() / 2], peakKb);
  return 0;
}
