// Work done ahead on every core and handed on in order: the runs of a
// recording decoded by several workers while the reader goes through them
// one after another. At most `window` runs from the one being read on are
// made or held, so memory stays flat with length.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace corvella::wave {

template <typename Run>
class RunsAhead {
 public:
  // `work(worker, run)` makes run `run` on worker `worker` (0 to workers - 1;
  // a worker makes one run at a time, so state kept by worker needs no lock).
  using Work = std::function<Run(int worker, std::int64_t run)>;

  RunsAhead(std::int64_t runs, int workers, int window, Work work)
      : work_(std::move(work)), runs_(runs), window_(window) {
    // Where the system gives fewer threads, the ones there are do the work,
    // and with none, the reader does it itself.
    try {
      for (int i = 0; i < workers; ++i) threads_.emplace_back([this, i] { Serve(i); });
    } catch (const std::system_error&) {
    }
  }
  ~RunsAhead() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }
  RunsAhead(const RunsAhead&) = delete;
  RunsAhead& operator=(const RunsAhead&) = delete;

  // Run `run`, once made. Runs are taken in order: the ones before are let go.
  Run Take(std::int64_t run) {
    if (threads_.empty()) return Make(0, run);
    std::unique_lock lock(mutex_);
    wanted_ = std::max(wanted_, run);
    changed_.notify_all();
    changed_.wait(lock, [&] { return done_.count(run) > 0; });
    Run taken = std::move(done_[run]);
    done_.erase(done_.begin(), done_.upper_bound(run));
    changed_.notify_all();
    return taken;
  }
  // The run the reader has come to.
  std::int64_t Wanted() const {
    std::lock_guard lock(mutex_);
    return wanted_;
  }
  std::int64_t Runs() const { return runs_; }

 private:
  // A run that could not be made (out of memory) is a default one, which
  // says it failed: the reader goes on without it.
  Run Make(int worker, std::int64_t run) {
    try {
      return work_(worker, run);
    } catch (const std::bad_alloc&) {
      return Run{};
    }
  }
  void Serve(int worker) {
    for (;;) {
      std::int64_t run = 0;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || (next_ < runs_ && next_ < wanted_ + window_); });
        if (stop_) return;
        run = next_++;
      }
      Run made = Make(worker, run);
      {
        std::lock_guard lock(mutex_);
        done_[run] = std::move(made);
      }
      changed_.notify_all();
    }
  }

  const Work work_;
  const std::int64_t runs_;
  const std::int64_t window_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::int64_t, Run> done_;
  std::int64_t next_ = 0;    // the run a worker takes next
  std::int64_t wanted_ = 0;  // the run the reader is at
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

// Memory the reader is done with, kept for the workers' next runs: a run's
// samples are megabytes that a fresh allocation would fault in again. At
// most a few are kept, and none larger than `largest` elements.
template <typename Buffer>
class Recycled {
 public:
  explicit Recycled(std::size_t largest = SIZE_MAX) : largest_(largest) {}
  Buffer Take() {
    std::lock_guard lock(mutex_);
    if (free_.empty()) return {};
    Buffer buffer = std::move(free_.back());
    free_.pop_back();
    return buffer;
  }
  void Give(Buffer buffer) {
    std::lock_guard lock(mutex_);
    if (free_.size() < 4 && buffer.capacity() <= largest_) free_.push_back(std::move(buffer));
  }

 private:
  const std::size_t largest_;
  std::mutex mutex_;
  std::vector<Buffer> free_;
};

// The cores this process may run on (at least 1, at most 8): fewer where it
// is held to some of the machine's, as by taskset or start /affinity.
int Cores();

}  // namespace corvella::wave
