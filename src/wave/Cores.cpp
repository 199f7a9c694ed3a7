#include <algorithm>
#include <thread>

#include "wave/RunsAhead.h"

#if defined(__linux__)
#include <sched.h>
#endif

namespace corvella::wave {

int Cores() {
  int cores = static_cast<int>(std::thread::hardware_concurrency());
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) cores = CPU_COUNT(&set);
#endif
  return std::clamp(cores, 1, 8);
}

}  // namespace corvella::wave
