#include <algorithm>
#include <thread>

#include "wave/RunsAhead.h"

#if defined(__linux__)
#include <sched.h>
#elif defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace corvella::wave {

int Cores() {
  int cores = static_cast<int>(std::thread::hardware_concurrency());
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) cores = CPU_COUNT(&set);
#elif defined(_WIN32)
  DWORD_PTR process = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
    cores = 0;
    for (; process != 0; process &= process - 1) ++cores;
  }
#endif
  return std::clamp(cores, 1, 8);
}

}  // namespace corvella::wave
