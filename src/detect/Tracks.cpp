#include "detect/Tracks.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "detect/LoudScan.h"
#include "detect/Units.h"

namespace corvella::detect {
namespace {

// How far around a window the click test looks, in windows of 10 ms: from
// the second next to the fifth, so a click that straddles two windows
// stands alone in both. One of the two next windows must be quiet too, or
// the burst is longer than a click can be.
constexpr std::int64_t kNear = 1;
constexpr std::int64_t kReach = 5;
constexpr double kClickRiseDb = 10.0;

// The choice is fragile where the runner-up reaches this share of the
// shortest silence chosen.
constexpr double kFragileShare = 0.8;
// A split of the runs is clear from this ratio of the one to the next on.
constexpr double kClearRatio = 1.5;
// Silences this many times longer than the longest one left part tracks
// beyond doubt: floors that clear are all as good.
constexpr double kBeyondDoubt = 3.0;
// A floor at which more than half of the sound between the silences is
// silent cuts into the music: it parts nothing.
constexpr double kLeastLoudShare = 0.5;
// Of the floors that part alike, the one this far above the lowest (the
// noise's own level), or the middle one where they span less than twice
// that: clear of the noise, and low enough to keep a fade-out whole.
constexpr std::size_t kAboveNoise = 12;  // steps of 0.5 dB
// What a floor that gives the tracks counts for at the least, so that the
// widest stretch wins where none is clear.
constexpr double kLeastWorth = 0.01;

bool MostlyLoud(const RunSurvey& survey, std::size_t floor) {
  const std::int64_t span =
      survey.LastLoud(floor) - survey.FirstLoud(floor) + 1 - survey.InRuns(floor);
  return static_cast<double>(survey.Loud(floor)) >= kLeastLoudShare * static_cast<double>(span);
}

std::size_t Settled(std::size_t low, std::size_t high) {
  return std::min(low + kAboveNoise, (low + high) / 2);
}

bool ShorterFirst(const SilentRun& a, const SilentRun& b) {
  return a.windows != b.windows ? a.windows > b.windows : a.first < b.first;
}

}  // namespace

double SilentPeak(const wave::SourceInfo& info, double db) {
  if (wave::IsFloat(info.sampleType)) return FractionOfDb(db);
  // As the rule takes a floor in dBFS: exactly for other widths, the
  // nearest amplitude for 16-bit recordings.
  const int b = info.bits;
  const std::int64_t limit =
      b != 16 ? static_cast<std::int64_t>(std::floor(FractionOfDb(db) * std::ldexp(1.0, b - 1)))
              : NoiseFloorFromDb(db);
  return static_cast<double>(limit) / std::ldexp(1.0, b - 1);
}

void ClickFilter::Judge(std::int64_t window, const Out& out) {
  double around = lowest_;
  for (std::int64_t other = window - kReach; other <= window + kReach; ++other) {
    const std::int64_t distance = other > window ? other - window : window - other;
    if (distance > kNear && other >= first_ && other < seen_)
      around = std::max(around, recent_[static_cast<std::size_t>(other - first_)]);
  }
  const double level = recent_[static_cast<std::size_t>(window - first_)];
  auto quiet = [&](std::int64_t other) {
    return other < first_ || other >= seen_ ||
           recent_[static_cast<std::size_t>(other - first_)] <= around + kClickRiseDb;
  };
  const bool click = level > around + kClickRiseDb && (quiet(window - 1) || quiet(window + 1));
  if (click) ++clicks_;
  out(window, click ? around : level, click);
}

void ClickFilter::Add(double level, const Out& out) {
  recent_.push_back(level);
  ++seen_;
  // A window is judged once the windows after it within reach are in.
  const std::int64_t ready = seen_ - 1 - kReach;
  if (ready >= 0) Judge(ready, out);
  while (recent_.size() > static_cast<std::size_t>(2 * kReach + 1)) {
    recent_.erase(recent_.begin());
    ++first_;
  }
}

void ClickFilter::Finish(const Out& out) {
  for (std::int64_t window = std::max<std::int64_t>(0, seen_ - kReach); window < seen_; ++window)
    Judge(window, out);
}

RunSurvey::RunSurvey(std::vector<double> limits, std::size_t keep, std::int64_t shortest)
    : limits_(std::move(limits)),
      keep_(keep),
      shortest_(shortest),
      lastLoud_(limits_.size(), -1),
      firstLoud_(limits_.size(), -1),
      counts_(limits_.size(), 0),
      loudTo_(limits_.size() + 1, 0),
      inRuns_(limits_.size(), 0),
      longest_(limits_.size()),
      previousKey_(0) {}

void RunSurvey::Add(double peak) {
  // Loud at the floors whose silent limit lies below the peak (a NaN's
  // infinite peak: at all). Only the floors where the window differs from
  // the one before are touched: a run closes where silence turns loud, and
  // one opens where loudness turns silent; the rest is kept implicitly.
  const std::size_t key = static_cast<std::size_t>(
      std::lower_bound(limits_.begin(), limits_.end(), peak) - limits_.begin());
  ++loudTo_[key];
  for (std::size_t floor = maxKey_; floor < key; ++floor) firstLoud_[floor] = window_;
  maxKey_ = std::max(maxKey_, key);
  for (std::size_t floor = key; floor < previousKey_; ++floor) lastLoud_[floor] = window_ - 1;
  for (std::size_t floor = previousKey_; floor < key; ++floor) {
    // Silent before and loud now: a run closes, between two loud windows.
    // Runs too short to part anything are not counted.
    if (lastLoud_[floor] >= 0 && window_ - lastLoud_[floor] - 1 >= shortest_) {
      const SilentRun run{lastLoud_[floor] + 1, window_ - lastLoud_[floor] - 1};
      ++counts_[floor];
      inRuns_[floor] += run.windows;
      auto& heap = longest_[floor];
      const auto shorter = [](const SilentRun& a, const SilentRun& b) {
        return ShorterFirst(a, b);
      };
      if (heap.size() < keep_) {
        heap.push_back(run);
        std::push_heap(heap.begin(), heap.end(), shorter);
      } else if (ShorterFirst(run, heap.front())) {
        std::pop_heap(heap.begin(), heap.end(), shorter);
        heap.back() = run;
        std::push_heap(heap.begin(), heap.end(), shorter);
      }
    }
  }
  previousKey_ = key;
  ++window_;
}

std::int64_t RunSurvey::LastLoud(std::size_t floor) const {
  return floor < previousKey_ ? window_ - 1 : lastLoud_[floor];
}

std::int64_t RunSurvey::Loud(std::size_t floor) const {
  // The windows loud at a floor are those whose key lies above it.
  std::int64_t loud = 0;
  for (std::size_t key = floor + 1; key < loudTo_.size(); ++key) loud += loudTo_[key];
  return loud;
}

std::vector<SilentRun> RunSurvey::Longest(std::size_t floor) const {
  std::vector<SilentRun> runs = longest_[floor];
  std::sort(runs.begin(), runs.end(), ShorterFirst);
  return runs;
}

bool TrackChoice::Fragile() const {
  return found && runnerUp && !gaps.empty() &&
         static_cast<double>(runnerUp->windows) >=
             kFragileShare * static_cast<double>(
                                 std::min_element(gaps.begin(), gaps.end(), [](auto& a, auto& b) {
                                   return a.windows < b.windows;
                                 })->windows);
}

namespace {

std::vector<double> Floors(int lowestDb, std::optional<double> onlyDb) {
  if (onlyDb) return {*onlyDb};
  std::vector<double> floors;
  for (int step = 0; lowestDb + TrackSurvey::kStepDb * step <= 0; ++step)
    floors.push_back(lowestDb + TrackSurvey::kStepDb * step);
  return floors;
}

std::vector<double> Limits(const wave::SourceInfo& info, const std::vector<double>& floors,
                           TrackSurvey::Measure measure) {
  std::vector<double> limits;
  for (double db : floors)
    limits.push_back(measure == TrackSurvey::Measure::Peaks ? SilentPeak(info, db) : FractionOfDb(db));
  // Rising from floor to floor, as the search for a peak's floor needs.
  for (std::size_t i = 1; i < limits.size(); ++i) limits[i] = std::max(limits[i], limits[i - 1]);
  return limits;
}

}  // namespace

TrackSurvey::TrackSurvey(const wave::SourceInfo& info, int lowestDb, std::int64_t shortestRun,
                         std::optional<double> onlyDb, Measure measure)
    : lowest_(lowestDb),
      measure_(measure),
      floorsDb_(Floors(lowestDb, onlyDb)),
      limits_(Limits(info, floorsDb_, measure)),
      raw_(limits_, kKept, shortestRun),
      declicked_(limits_, kKept, shortestRun),
      clicks_(lowestDb) {}

void TrackSurvey::Add(double peak) {
  raw_.Add(peak);
  ++windows_;
  // The programme's level has no clicks left to take out.
  if (measure_ == Measure::Programme) return;
  pending_.push_back(peak);
  const double level = std::max(LevelDb(peak), static_cast<double>(lowest_));
  clicks_.Add(level, [&](std::int64_t, double quiet, bool click) {
    declicked_.Add(click ? std::pow(10.0, quiet / 20.0) : pending_.front());
    pending_.erase(pending_.begin());
  });
}

void TrackSurvey::Finish() {
  clicks_.Finish([&](std::int64_t, double quiet, bool click) {
    declicked_.Add(click ? std::pow(10.0, quiet / 20.0) : pending_.front());
    pending_.erase(pending_.begin());
  });
}

TrackChoice TrackSurvey::ChooseAt(const RunSurvey& survey, std::size_t floor, int tracks,
                                  std::int64_t minWindows, bool given) const {
  TrackChoice choice;
  choice.floorDb = FloorDb(floor);
  if (!survey.AnyLoud(floor)) return choice;
  choice.firstLoud = survey.FirstLoud(floor);
  choice.lastLoud = survey.LastLoud(floor);
  choice.mostParts = static_cast<int>(survey.Runs(floor)) + 1;
  const std::vector<SilentRun> runs = survey.Longest(floor);
  const auto wanted = static_cast<std::size_t>(tracks - 1);
  // The longest silences first, each taken where the parts beside it stay
  // long enough between the silences already taken.
  std::vector<SilentRun> chosen;
  for (const SilentRun& run : runs) {
    if (chosen.size() == wanted) {
      if (!choice.runnerUp) choice.runnerUp = run;
      continue;
    }
    bool fits = true;
    if (minWindows > 0) {
      std::int64_t before = choice.firstLoud, after = choice.lastLoud + 1;
      for (const SilentRun& taken : chosen) {
        if (taken.End() <= run.first) before = std::max(before, taken.End());
        if (taken.first >= run.End()) after = std::min(after, taken.first);
      }
      fits = run.first - before >= minWindows && after - run.End() >= minWindows;
    }
    // A silence left out because a track beside it would be too short
    // competes with none.
    if (fits) chosen.push_back(run);
  }
  if (chosen.size() < wanted) {
    // As many parts as this floor can give with tracks long enough.
    choice.mostParts = static_cast<int>(chosen.size()) + 1;
    return choice;
  }
  // A floor at which most of the tracks' own sound is silent cuts into the
  // music; one the user gave is taken as it is.
  std::int64_t inGaps = 0;
  for (const SilentRun& gap : chosen) inGaps += gap.windows;
  const std::int64_t tracksSpan = choice.lastLoud - choice.firstLoud + 1 - inGaps;
  if (!given &&
      static_cast<double>(survey.Loud(floor)) < kLeastLoudShare * static_cast<double>(tracksSpan))
    return choice;
  std::sort(chosen.begin(), chosen.end(),
            [](const SilentRun& a, const SilentRun& b) { return a.first < b.first; });
  choice.found = true;
  choice.parts = tracks;
  choice.gaps = chosen;
  std::int64_t shortest = windows_;
  for (const SilentRun& gap : chosen) shortest = std::min(shortest, gap.windows);
  choice.margin =
      wanted == 0
          ? 1.0
          : static_cast<double>(shortest) /
                static_cast<double>(
                    choice.runnerUp ? std::max<std::int64_t>(1, choice.runnerUp->windows) : 1);
  return choice;
}

TrackChoice TrackSurvey::Choose(int tracks, std::optional<double> floorDb, double lowDb,
                                double highDb, std::int64_t minWindows) const {
  TrackChoice best;
  std::size_t from = 0, to = limits_.size();
  if (floorDb) {
    // The floor nearest the one given: itself, where the survey was made at it.
    for (std::size_t floor = 1; floor < to; ++floor) {
      if (std::fabs(FloorDb(floor) - *floorDb) < std::fabs(FloorDb(from) - *floorDb)) from = floor;
    }
    to = from + 1;
  }
  int most = 0;
  for (const RunSurvey* survey : {&raw_, &declicked_}) {
    if (survey == &declicked_ && measure_ == Measure::Programme) continue;
    // The floors that give the tracks, each with its margin.
    std::vector<TrackChoice> choices(to);
    for (std::size_t floor = from; floor < to; ++floor) {
      const double db = FloorDb(floor);
      if (!floorDb && (db < lowDb || db > highDb)) continue;
      choices[floor] = ChooseAt(*survey, floor, tracks, minWindows, floorDb.has_value());
      choices[floor].declicked = survey == &declicked_;
      most = std::max(most, choices[floor].mostParts);
    }
    // Floors next to each other that choose the same silences make a
    // stretch, worth its width weighted by how clearly each floor parts the
    // tracks: a choice that holds over many floors is the recording's, one
    // made at a few floors in the noise or in the music is chance. In the
    // best stretch, the floor a little above its bottom, clear of the noise
    // and low enough to keep a fade-out whole.
    auto same = [&](std::size_t a, std::size_t b) {
      for (std::size_t k = 0; k < choices[a].gaps.size(); ++k) {
        if (std::llabs(choices[a].gaps[k].first - choices[b].gaps[k].first) > kReach) return false;
      }
      return true;
    };
    double bestWorth = -1;
    std::size_t low = to, high = to;
    for (std::size_t floor = from; floor < to;) {
      if (!choices[floor].found) {
        ++floor;
        continue;
      }
      std::size_t end = floor;
      double worth = 0;
      while (end < to && choices[end].found && (end == floor || same(end - 1, end))) {
        // A floor whose runner-up is as long as a gap chosen tells little.
        worth += std::min(choices[end].margin, kBeyondDoubt) - 1.0 + kLeastWorth;
        ++end;
      }
      if (worth > bestWorth) bestWorth = worth, low = floor, high = end - 1;
      floor = end;
    }
    if (low == to) continue;
    TrackChoice choice = choices[Settled(low, high)];
    choice.worth = bestWorth;
    // Clicks taken out must part the tracks clearly better to be preferred.
    // At a floor given that is the margin, in a search the stretch's worth.
    const double factor = choice.declicked ? 1.5 : 1.0;
    if (!best.found ||
        (floorDb ? choice.margin > factor * best.margin : choice.worth > factor * best.worth))
      best = choice;
  }
  best.mostParts = std::max(best.mostParts, most);
  return best;
}

TrackChoice TrackSurvey::Suggest(std::optional<std::int64_t> gapWindows, double lowDb,
                                 double highDb, std::int64_t shortestGap, bool declicking) const {
  // For each floor the clearest split of its silences into gaps and pauses;
  // then the count of parts that the most floors agree on, weighted by how
  // clear each floor's split is: clear and steady.
  struct Split {
    std::size_t floor = 0;
    bool declicked = false;
    std::size_t gaps = 0;  // the longest silences taken for gaps
    double ratio = 0;
  };
  std::map<std::pair<bool, std::size_t>, std::vector<Split>> byCount;
  std::map<std::pair<bool, std::size_t>, double> evidence;
  for (const RunSurvey* survey : {&raw_, &declicked_}) {
    const bool declicked = survey == &declicked_;
    if (declicked && !declicking) continue;
    for (std::size_t floor = 0; floor < limits_.size(); ++floor) {
      const double db = FloorDb(floor);
      if (db < lowDb || db > highDb || !survey->AnyLoud(floor) || !MostlyLoud(*survey, floor))
        continue;
      const std::vector<SilentRun> runs = survey->Longest(floor);
      Split best{floor, declicked, 0, 0};
      for (std::size_t j = 1; j <= runs.size(); ++j) {
        const std::int64_t taken = runs[j - 1].windows;
        const std::int64_t next = j < runs.size() ? runs[j].windows : 0;
        if (gapWindows && !(taken > *gapWindows && next <= *gapWindows)) continue;
        if (!gapWindows && taken < shortestGap) break;
        const double ratio =
            static_cast<double>(taken) / static_cast<double>(std::max<std::int64_t>(1, next));
        if (ratio > best.ratio) best = {floor, declicked, j, ratio};
      }
      if (best.gaps == 0 || best.ratio < kClearRatio) continue;
      byCount[{declicked, best.gaps}].push_back(best);
      evidence[{declicked, best.gaps}] += std::log(best.ratio);
    }
  }
  TrackChoice choice;
  if (evidence.empty()) return choice;
  // Clicks taken out must be clearly better supported to be preferred.
  auto weight = [&](const auto& entry) { return entry.second / (entry.first.first ? 1.5 : 1.0); };
  const auto winner =
      std::max_element(evidence.begin(), evidence.end(),
                       [&](const auto& a, const auto& b) { return weight(a) < weight(b); });
  const std::vector<Split>& splits = byCount[winner->first];
  // Of the floors that agree, the one clear of the noise.
  std::size_t settled = 0;
  while (settled + 1 < splits.size() / 2 + 1 &&
         splits[settled].floor < splits.front().floor + kAboveNoise)
    ++settled;
  const Split& middle = splits[settled];
  const RunSurvey& survey = middle.declicked ? declicked_ : raw_;
  const std::vector<SilentRun> runs = survey.Longest(middle.floor);
  choice.found = true;
  choice.parts = static_cast<int>(middle.gaps) + 1;
  choice.floorDb = FloorDb(middle.floor);
  choice.declicked = middle.declicked;
  choice.gaps.assign(runs.begin(), runs.begin() + static_cast<std::ptrdiff_t>(middle.gaps));
  std::sort(choice.gaps.begin(), choice.gaps.end(),
            [](const SilentRun& a, const SilentRun& b) { return a.first < b.first; });
  if (middle.gaps < runs.size()) choice.runnerUp = runs[middle.gaps];
  choice.margin = middle.ratio;
  choice.floors = static_cast<int>(splits.size());
  choice.mostParts = static_cast<int>(survey.Runs(middle.floor)) + 1;
  choice.firstLoud = survey.FirstLoud(middle.floor);
  choice.lastLoud = survey.LastLoud(middle.floor);
  return choice;
}

}  // namespace corvella::detect
