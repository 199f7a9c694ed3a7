// The silences between tracks: every run of silent 10 ms windows between
// loud ones, at every noise floor of a grid of 0.5 dB steps at once, as the
// window peaks stream past, and the choices made from them: the N - 1
// silences that most clearly part N tracks and the floor that parts them
// best, or, with no count given, the floor and gap that part a recording
// most clearly. The memory is the grid's times the runs each floor keeps,
// whatever the recording's length.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "wave/Source.h"

namespace corvella::detect {

// A run of silent windows: the first, and how many.
struct SilentRun {
  std::int64_t first = 0;
  std::int64_t windows = 0;
  std::int64_t End() const { return first + windows; }
  bool operator==(const SilentRun&) const = default;
};

// The largest window peak (a share of full scale, as PeakOf gives it) that
// is silent at a floor of `db` dBFS under the detection rule: the window
// holds no loud sample.
double SilentPeak(const wave::SourceInfo& info, double db);

// Hands each window level on once the windows within reach of it are in,
// with a click's level lowered to the quiet around it: a window peaking
// 10 dB above everything from 20 to 50 ms around it, with one of the two
// next windows quiet too.
class ClickFilter {
 public:
  using Out = std::function<void(std::int64_t window, double level, bool click)>;
  explicit ClickFilter(double lowest) : lowest_(lowest) {}
  void Add(double level, const Out& out);
  void Finish(const Out& out);
  std::int64_t Clicks() const { return clicks_; }

 private:
  void Judge(std::int64_t window, const Out& out);
  double lowest_;
  std::vector<double> recent_;  // the last windows' levels...
  std::int64_t first_ = 0;      // ...from this window on
  std::int64_t seen_ = 0;
  std::int64_t clicks_ = 0;
};

// The silent runs at every floor of a grid, kept as they close: each floor
// keeps its longest runs and the count of all. Only runs with a loud window
// on either side count: the silence before the first sound and after the
// last parts nothing.
class RunSurvey {
 public:
  // `limits`: per floor, the largest silent peak, rising from floor to
  // floor; runs shorter than `shortest` windows are left out.
  RunSurvey(std::vector<double> limits, std::size_t keep, std::int64_t shortest);
  void Add(double peak);
  std::size_t Floors() const { return limits_.size(); }
  // The longest runs at a floor, longest first (the earlier of equal ones first).
  std::vector<SilentRun> Longest(std::size_t floor) const;
  std::int64_t Runs(std::size_t floor) const { return counts_[floor]; }
  // Whether any window is loud at the floor: where none is, it parts nothing.
  bool AnyLoud(std::size_t floor) const { return firstLoud_[floor] >= 0; }
  // The first and the last loud window at a floor (-1 where none is).
  std::int64_t FirstLoud(std::size_t floor) const { return firstLoud_[floor]; }
  std::int64_t LastLoud(std::size_t floor) const;
  // The loud windows at a floor.
  std::int64_t Loud(std::size_t floor) const;
  // The windows in the runs counted at a floor.
  std::int64_t InRuns(std::size_t floor) const { return inRuns_[floor]; }
  // Runs shorter than this are not counted.
  std::int64_t Shortest() const { return shortest_; }

 private:
  std::vector<double> limits_;
  std::size_t keep_;
  std::int64_t shortest_;
  // Per floor: the last loud window, -1 before any; kept for the floors at
  // which the latest window is silent (at the others it is that window).
  std::vector<std::int64_t> lastLoud_;
  std::vector<std::int64_t> firstLoud_;
  std::vector<std::int64_t> counts_;
  std::vector<std::int64_t> loudTo_;  // windows by the count of floors they are loud at
  std::vector<std::int64_t> inRuns_;
  std::vector<std::vector<SilentRun>> longest_;  // per floor: a heap, shortest on top
  std::size_t previousKey_ = 0;                  // floors at which the last window was loud
  std::size_t maxKey_ = 0;                       // the most floors any window was loud at
  std::int64_t window_ = 0;
};

// What a choice of tracks rests on, for the front ends to report.
struct TrackChoice {
  bool found = false;
  int parts = 0;
  double floorDb = 0;
  bool declicked = false;       // made on the windows with their clicks taken out
  std::vector<SilentRun> gaps;  // the silences chosen, in time order
  std::int64_t firstLoud = 0;   // the first and last loud windows at the floor
  std::int64_t lastLoud = 0;
  std::optional<SilentRun> runnerUp;  // the longest silence not chosen
  // The shortest chosen silence over the longest one not chosen.
  double margin = 0;
  // How many floors around it agree, each counted by its margin.
  double worth = 0;
  // Whether the choice is fragile: the runner-up nearly as long as the
  // shortest silence chosen.
  bool Fragile() const;
  int mostParts = 0;  // when not found: the most parts any floor gives
  int floors = 0;     // of a suggestion: the floors that agree on its count
};

// How the detection rule parts a recording at chosen gaps and nowhere else:
// at `floorDb` (with clicks taken out where `declicked`), every gap holds
// a silence of `inside` windows or more and no other silence is longer
// than `outside` windows, so a gap length between the two does it.
struct RuleFit {
  bool found = false;
  double floorDb = 0;
  bool declicked = false;
  std::int64_t inside = 0;
  std::int64_t outside = 0;
};

// Every window's peak at every floor of the grid, twice: as recorded, and
// with the clicks taken out.
class TrackSurvey {
 public:
  static constexpr double kStepDb = 0.5;
  // Runs kept per floor: enough for the 999 tracks --tracks takes, and the
  // runner-up.
  static constexpr std::size_t kKept = 1000;

  // What the windows' values are: their peaks, judged at each floor as the
  // detection rule judges samples (and again with their clicks taken out);
  // or the programme's level (LevelProfile), judged at each floor as is.
  enum class Measure { Peaks, Programme };

  // Silent runs of fewer than `shortestRun` windows part nothing. With
  // `onlyDb`, at that floor alone, exactly.
  TrackSurvey(const wave::SourceInfo& info, int lowestDb, std::int64_t shortestRun,
              std::optional<double> onlyDb = {}, Measure measure = Measure::Peaks);
  void Add(double peak);
  // The same, with the peak's level in dB (at least the lowest) at hand.
  void Add(double peak, double db);
  void Finish();
  std::int64_t Windows() const { return windows_; }
  std::int64_t Clicks() const { return clicks_.Clicks(); }
  double FloorDb(std::size_t floor) const { return floorsDb_[floor]; }

  // The floor and N - 1 silences that part N tracks most clearly; at the
  // floor given when there is one. Floors are looked for between `lowDb`
  // and `highDb`. A silence is taken only where neither part beside it
  // would be shorter than `minWindows`.
  TrackChoice Choose(int tracks, std::optional<double> floorDb, double lowDb, double highDb,
                     std::int64_t minWindows) const;
  // With no count given: the floor, and the gap length in windows, that part
  // the recording most clearly (silences of at least `shortestGap` windows),
  // or at the gap given in windows. The count it gives is parts. Without
  // `declicking`, only the windows as recorded are looked at.
  TrackChoice Suggest(std::optional<std::int64_t> gapWindows, double lowDb, double highDb,
                      std::int64_t shortestGap, bool declicking) const;
  // The same for the `most` counts best supported, the best first, each as
  // its floors chose it (`worth`: how well supported).
  std::vector<TrackChoice> Suggestions(std::optional<std::int64_t> gapWindows, double lowDb,
                                       double highDb, std::int64_t shortestGap, bool declicking,
                                       std::size_t most) const;
  // The floor at which the windows' peaks part the recording at `gaps` (in
  // time order, found on another measure of the same windows) and nowhere
  // else most clearly, between `lowDb` and `highDb`; not found where none
  // does clearly.
  RuleFit Fit(const std::vector<SilentRun>& gaps, double lowDb, double highDb,
              bool declicking) const;
  // The silences between loud windows a choice's floor kept (the longest
  // of them, up to kKept), in time order.
  std::vector<SilentRun> RunsAt(const TrackChoice& choice) const;

 private:
  TrackChoice ChooseAt(const RunSurvey& survey, std::size_t floor, int tracks,
                       std::int64_t minWindows, bool given) const;
  int lowest_;
  Measure measure_;
  std::int64_t windows_ = 0;
  std::vector<double> floorsDb_;
  std::vector<double> limits_;
  RunSurvey raw_, declicked_;
  ClickFilter clicks_;
  std::vector<double> pending_;  // raw peaks of the windows the click filter holds back
};

}  // namespace corvella::detect
