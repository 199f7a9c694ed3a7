// Finding a noise floor for a recording: the level of its quiet passages,
// the level of its music, and a threshold between the two.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

namespace corvella::cli {

// The levels of a recording's short windows, gathered as they stream past
// in a histogram of 0.01 dB steps from its lowest level (-96 dBFS for 8-
// and 16-bit recordings, -150 for deeper ones; silence is counted there) to
// 0 dBFS: fine enough for percentiles, the same size for any length.
class LevelHistogram {
 public:
  static constexpr int kStepsPerDb = 100;

  explicit LevelHistogram(int lowestDb = -96)
      : lowest_(lowestDb), counts_(static_cast<std::size_t>(-lowestDb * kStepsPerDb + 1), 0) {}
  // A window's peak, as a fraction of full scale.
  void Add(double peak);
  std::int64_t Windows() const { return windows_; }
  int Lowest() const { return lowest_; }
  const std::vector<std::int64_t>& Counts() const { return counts_; }
  // A peak in dBFS, silence and anything quieter at the lowest level.
  double Db(double peak) const;
  // The level of step `index`: the middle of its 0.01 dB.
  double LevelOf(std::size_t index) const;
  std::size_t StepOf(double db) const;

 private:
  int lowest_;
  std::vector<std::int64_t> counts_;
  std::int64_t windows_ = 0;
};

struct LevelEstimate {
  bool found = false;        // quiet passages stand clearly apart from the music
  double noiseDb = 0;        // nearly every quiet window peaks at or below this
  double musicDb = 0;        // nearly every loud window peaks at or above this
  double quietShare = 0;     // the share of windows in the quiet passages
  double thresholdDb = -50;  // the suggestion
};

// The window peaks, in dB, fall into two heaps: the quiet passages (tape
// hiss, surface noise, room tone) low down, the music above. The boundary
// between the heaps is the one that best separates them (Otsu's method on
// the histogram of levels in 1 dB steps). The noise level is the 99.5th
// percentile of the quiet heap: a floor below it would let the noise's own
// peaks break a gap into crackle parts. The music level is the 2nd
// percentile of the loud heap: a floor above it would cut into soft
// passages. The suggestion lies midway between the two in dB, but at least
// 3 dB above the noise. With less than half a percent of the windows quiet,
// or the heaps less than 6 dB apart, there is no clear silence and the
// suggestion stays at -50 dBFS.
LevelEstimate EstimateLevels(const LevelHistogram& levels);

// A small histogram of the window levels in 6 dB steps, with the noise,
// music and suggested levels marked.
void WriteHistogram(std::ostream& out, const LevelHistogram& levels, const LevelEstimate& estimate);

}  // namespace corvella::cli
