// The names of a stream's parts: NAME_001.wav, NAME_002.wav, ...; or, by
// the clock, the local time each part began (NAME_2026-12-06_14-03-27.wav),
// a second part begun in the same second getting a count
// (NAME_2026-12-06_14-03-27_2.wav).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <set>
#include <string>

namespace corvella::stream {

using SystemClock = std::chrono::system_clock;

class PartNames {
 public:
  // `base`: the parts' name with its extension ("radio.wav").
  PartNames(std::string base, bool byClock) : base_(std::move(base)), byClock_(byClock) {}
  // The recording's first frame came at `when`, at `rate` frames a second.
  void Began(SystemClock::time_point when, std::int64_t rate) {
    began_ = when;
    rate_ = rate;
  }
  // The name of part `number` (counting from 1), whose first frame is `start`.
  std::string NameFor(int number, std::int64_t start) const;
  // A part was given this name: no later part takes it.
  void Used(const std::string& name) { used_.insert(name); }
  // Names by the clock never take one that `taken` says a file holds
  // already (another run's part, begun in the same second): they get a
  // count as a second part of this run would.
  void AvoidTaken(std::function<bool(const std::string&)> taken) { taken_ = std::move(taken); }

 private:
  std::string base_;
  bool byClock_;
  SystemClock::time_point began_ = SystemClock::now();
  std::int64_t rate_ = 1;
  std::set<std::string> used_;
  std::function<bool(const std::string&)> taken_;
};

// "2026-12-06_14-03-27", in local time.
std::string LocalTimeText(SystemClock::time_point when);

// When the recording a followed file holds began: its last change, less the
// samples it already holds (from `dataOffset` on, `byteRate` bytes a
// second). Now, for a pipe (`followed` empty).
SystemClock::time_point RecordingBegan(const std::string& followed, std::int64_t dataOffset,
                                       std::int64_t byteRate);

}  // namespace corvella::stream
