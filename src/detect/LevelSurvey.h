// Finding a noise floor for a recording: the level of its quiet passages,
// the level of its music, and a threshold between the two.
#pragma once

#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "detect/Tracks.h"

namespace corvella::detect {

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
  // A level already in dB.
  void AddDb(double db);
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

// How many parts a recording falls into at each threshold of a grid of
// 0.5 dB steps, counted on its windows as they stream past: a part goes on
// while no more than the gap of silent windows lies between two loud ones.
// A window starts a part at every threshold under its own level and at or
// above the loudest of the gap's windows before it, so each window adds one
// range to the counts: constant work a window, whatever the grid. Counted
// twice: as the recording is, and with its clicks taken out, where a window
// that peaks 10 dB above everything from 20 to 50 ms around it is taken for
// that quiet. The memory is the grid's and the gap's, whatever the length.
class PartSurvey {
 public:
  static constexpr double kStepDb = 0.5;
  PartSurvey(int lowestDb, std::int64_t windowFrames, std::int64_t gapFrames);
  void Add(double peakDb);
  // Takes in the last windows held back to judge them against what follows.
  void Finish();
  std::size_t Steps() const { return raw_.parts.size(); }
  double ThresholdOf(std::size_t step) const {
    return lowest_ + kStepDb * static_cast<double>(step);
  }
  // Valid once Finish() has run.
  int Parts(std::size_t step, bool declicked) const {
    return (declicked ? declicked_ : raw_).parts[step];
  }
  // Windows taken for clicks.
  std::int64_t Clicks() const { return clicks_.Clicks(); }

 private:
  struct Sweep {
    std::deque<std::pair<std::int64_t, double>>
        loudest;              // falling levels of the windows within the gap
    std::vector<int> starts;  // +1 where a range of thresholds begins, -1 past its end
    std::vector<int> parts;
  };
  void Count(Sweep& sweep, std::int64_t window, double db);

  int lowest_;
  std::int64_t gapWindows_;  // silent windows that do not end a part
  Sweep raw_, declicked_;
  ClickFilter clicks_;
  std::int64_t seen_ = 0;  // windows added
};

// The thresholds over which the part count holds still.
struct StableRange {
  bool found = false;
  double lowDb = 0, highDb = 0;  // the first and last threshold of the range
  int parts = 0;
  bool declicked = false;  // found with the clicks taken out
  double Width() const { return highDb - lowDb + PartSurvey::kStepDb; }
};

// The widest range of thresholds giving the same number of parts (at least
// one), among those that leave some of the recording quiet; the one with
// clicks taken out when it is clearly wider, unless `declicking` is false.
StableRange FindStableRange(const PartSurvey& survey, const LevelHistogram& levels,
                            bool declicking = true);

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

// The threshold to suggest: the estimate's where it lies well inside the
// stable range, else the middle of the range; -50 dBFS without a range.
double SuggestThreshold(const LevelEstimate& estimate, const StableRange& range);

}  // namespace corvella::detect
