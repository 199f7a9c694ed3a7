// Held to one core while it lives, as taskset or start /affinity holds a
// program: a decoder then reads frame by frame, the yardstick for its
// decoding on every core.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sched.h>
#endif

namespace corvella::test {

class OneCore {
 public:
#ifdef _WIN32
  OneCore() {
    DWORD_PTR system = 0;
    GetProcessAffinityMask(GetCurrentProcess(), &saved_, &system);
    SetProcessAffinityMask(GetCurrentProcess(), saved_ & (~saved_ + 1));
  }
  ~OneCore() { SetProcessAffinityMask(GetCurrentProcess(), saved_); }
#else
  OneCore() {
    sched_getaffinity(0, sizeof(saved_), &saved_);
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (CPU_ISSET(cpu, &saved_)) {
        CPU_SET(cpu, &one);
        break;
      }
    }
    sched_setaffinity(0, sizeof(one), &one);
  }
  ~OneCore() { sched_setaffinity(0, sizeof(saved_), &saved_); }
#endif
  OneCore(const OneCore&) = delete;
  OneCore& operator=(const OneCore&) = delete;

 private:
#ifdef _WIN32
  DWORD_PTR saved_ = 0;
#else
  cpu_set_t saved_;
#endif
};

}  // namespace corvella::test
