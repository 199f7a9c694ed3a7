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
// A floor that fits the detection rule to given gaps this nearly as well
// as the best one is as good; the one chosen lies this many steps above the
// lowest such.
constexpr double kNearlyBest = 0.8;
// Floors that agree over 2 dB at least are steady.
constexpr std::size_t kSteadyFloors = 4;
constexpr std::size_t kClearOfNoise = 4;
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
  Add(peak, measure_ == Measure::Programme ? 0 : std::max(LevelDb(peak), static_cast<double>(lowest_)));
}

void TrackSurvey::Add(double peak, double level) {
  raw_.Add(peak);
  ++windows_;
  // The programme's level has no clicks left to take out.
  if (measure_ == Measure::Programme) return;
  pending_.push_back(peak);
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

std::vector<SilentRun> TrackSurvey::RunsAt(const TrackChoice& choice) const {
  std::size_t floor = 0;
  for (std::size_t k = 1; k < floorsDb_.size(); ++k) {
    if (std::fabs(floorsDb_[k] - choice.floorDb) < std::fabs(floorsDb_[floor] - choice.floorDb))
      floor = k;
  }
  std::vector<SilentRun> runs = (choice.declicked ? declicked_ : raw_).Longest(floor);
  std::sort(runs.begin(), runs.end(),
            [](const SilentRun& a, const SilentRun& b) { return a.first < b.first; });
  return runs;
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
  std::vector<TrackChoice> choices =
      Suggestions(gapWindows, lowDb, highDb, shortestGap, declicking, 1);
  return choices.empty() ? TrackChoice{} : choices.front();
}

std::vector<TrackChoice> TrackSurvey::Suggestions(std::optional<std::int64_t> gapWindows,
                                                  double lowDb, double highDb,
                                                  std::int64_t shortestGap, bool declicking,
                                                  std::size_t most) const {
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
    if (declicked && (!declicking || measure_ == Measure::Programme)) continue;
    for (std::size_t floor = 0; floor < limits_.size(); ++floor) {
      const double db = FloorDb(floor);
      if (db < lowDb || db > highDb || !survey->AnyLoud(floor) || !MostlyLoud(*survey, floor))
        continue;
      const std::vector<SilentRun> runs = survey->Longest(floor);
      Split best{floor, declicked, 0, 0};
      for (std::size_t j = 1; j <= runs.size(); ++j) {
        const std::int64_t taken = runs[j - 1].windows;
        // Past the last run counted, runs just too short to be may lie.
        const std::int64_t next = j < runs.size() ? runs[j].windows : survey->Shortest() - 1;
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
  // Clicks taken out must be clearly better supported to be preferred.
  using Entry = std::pair<std::pair<bool, std::size_t>, double>;
  std::vector<Entry> ranked(evidence.begin(), evidence.end());
  for (Entry& entry : ranked) entry.second /= entry.first.first ? 1.5 : 1.0;
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const Entry& a, const Entry& b) { return a.second > b.second; });
  if (measure_ == Measure::Programme) {
    // On the programme's level, the gaps between pieces lie at the noise
    // and quiet music above it: the count of the lowest floors that agree
    // for a while comes first, its floors alone standing for it; the
    // others follow by their support.
    std::vector<Split> all;
    for (const auto& [key, splits] : byCount) all.insert(all.end(), splits.begin(), splits.end());
    std::sort(all.begin(), all.end(),
              [](const Split& a, const Split& b) { return a.floor < b.floor; });
    for (std::size_t i = 0; i < all.size();) {
      std::size_t end = i + 1;
      while (end < all.size() && all[end].gaps == all[i].gaps &&
             all[end].floor == all[end - 1].floor + 1)
        ++end;
      if (end - i >= kSteadyFloors) {
        const std::pair<bool, std::size_t> key{false, all[i].gaps};
        byCount[key].assign(all.begin() + static_cast<std::ptrdiff_t>(i),
                            all.begin() + static_cast<std::ptrdiff_t>(end));
        const auto lowest = std::find_if(ranked.begin(), ranked.end(),
                                         [&](const Entry& e) { return e.first == key; });
        std::rotate(ranked.begin(), lowest, lowest + 1);
        break;
      }
      i = end;
    }
  }
  std::vector<TrackChoice> choices;
  for (const Entry& entry : ranked) {
    if (choices.size() == most) break;
    // A count already offered, as recorded or with its clicks taken out.
    if (std::any_of(choices.begin(), choices.end(), [&](const TrackChoice& c) {
          return c.parts == static_cast<int>(entry.first.second) + 1;
        }))
      continue;
    const std::vector<Split>& splits = byCount[entry.first];
    // Of the floors that agree, the one clear of the noise.
    std::size_t settled = 0;
    while (settled + 1 < splits.size() / 2 + 1 &&
           splits[settled].floor < splits.front().floor + kAboveNoise)
      ++settled;
    const Split& middle = splits[settled];
    const RunSurvey& survey = middle.declicked ? declicked_ : raw_;
    const std::vector<SilentRun> runs = survey.Longest(middle.floor);
    TrackChoice choice;
    choice.found = true;
    choice.parts = static_cast<int>(middle.gaps) + 1;
    choice.floorDb = FloorDb(middle.floor);
    choice.declicked = middle.declicked;
    choice.gaps.assign(runs.begin(), runs.begin() + static_cast<std::ptrdiff_t>(middle.gaps));
    std::sort(choice.gaps.begin(), choice.gaps.end(),
              [](const SilentRun& a, const SilentRun& b) { return a.first < b.first; });
    if (middle.gaps < runs.size()) choice.runnerUp = runs[middle.gaps];
    choice.margin = middle.ratio;
    choice.worth = entry.second;
    choice.floors = static_cast<int>(splits.size());
    choice.mostParts = static_cast<int>(survey.Runs(middle.floor)) + 1;
    choice.firstLoud = survey.FirstLoud(middle.floor);
    choice.lastLoud = survey.LastLoud(middle.floor);
    choices.push_back(choice);
  }
  return choices;
}

RuleFit TrackSurvey::Fit(const std::vector<SilentRun>& gaps, double lowDb, double highDb,
                         bool declicking) const {
  // Per floor: the shortest of the longest silences inside each gap, and
  // the longest silence anywhere else (in a gap beside its longest one, or
  // between the gaps): the rule parts at the gaps alone with a gap length
  // between the two.
  struct AtFloor {
    bool declicked = false;
    std::size_t floor = 0;
    std::int64_t inside = 0, outside = 0;
    double ratio = 0;
  };
  std::vector<AtFloor> fits;
  for (const RunSurvey* survey : {&raw_, &declicked_}) {
    const bool declicked = survey == &declicked_;
    if (declicked && (!declicking || measure_ == Measure::Programme)) continue;
    for (std::size_t floor = 0; floor < limits_.size(); ++floor) {
      const double db = FloorDb(floor);
      if (db < lowDb || db > highDb || !survey->AnyLoud(floor)) continue;
      // Sound before the first gap and after the last.
      if (!gaps.empty() && (survey->FirstLoud(floor) >= gaps.front().first ||
                            survey->LastLoud(floor) < gaps.back().End()))
        continue;
      std::vector<std::int64_t> longest(gaps.size(), 0);
      std::int64_t outside = 0;
      bool whole = true;  // no track silent from gap to gap
      for (const SilentRun& run : survey->Longest(floor)) {
        // The gap the run lies in, if any: the first ending after it starts.
        const auto gap = std::upper_bound(gaps.begin(), gaps.end(), run.first,
                                          [](std::int64_t first, const SilentRun& g) {
                                            return first < g.End();
                                          });
        if (gap == gaps.end() || gap->first >= run.End()) {
          outside = std::max(outside, run.windows);
          continue;
        }
        if (gap + 1 != gaps.end() && (gap + 1)->first < run.End()) {
          whole = false;
          break;
        }
        std::int64_t& best = longest[static_cast<std::size_t>(gap - gaps.begin())];
        outside = std::max(outside, std::min(best, run.windows));
        best = std::max(best, run.windows);
      }
      const std::int64_t inside =
          gaps.empty() ? windows_ : *std::min_element(longest.begin(), longest.end());
      if (!whole || inside == 0) continue;
      fits.push_back({declicked, floor, inside, outside,
                      static_cast<double>(inside) /
                          static_cast<double>(std::max<std::int64_t>(1, outside))});
    }
  }
  RuleFit fit;
  double best = 0;
  for (const AtFloor& f : fits) best = std::max(best, f.ratio / (f.declicked ? 1.5 : 1.0));
  if (best < kClearRatio) return fit;
  // Of the floors that part nearly as clearly as the best, the lowest (the
  // one that keeps most of the fades) raised a little clear of the noise,
  // as recorded where that does.
  for (bool declicked : {false, true}) {
    std::vector<const AtFloor*> good;
    for (const AtFloor& f : fits) {
      if (f.declicked == declicked && f.ratio / (declicked ? 1.5 : 1.0) >= kNearlyBest * best)
        good.push_back(&f);
    }
    if (good.empty()) continue;
    std::size_t pick = 0;
    while (pick + 1 < good.size() && good[pick + 1]->floor == good[pick]->floor + 1 &&
           good[pick + 1]->floor <= good.front()->floor + kClearOfNoise)
      ++pick;
    const AtFloor& f = *good[pick];
    fit.found = true;
    fit.floorDb = FloorDb(f.floor);
    fit.declicked = declicked;
    fit.inside = f.inside;
    fit.outside = f.outside;
    return fit;
  }
  return fit;
}

}  // namespace corvella::detect
