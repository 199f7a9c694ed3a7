#include "detect/LevelSurvey.h"

#include <algorithm>
#include <cmath>

#include "detect/Units.h"

namespace corvella::detect {
namespace {

constexpr int kSteps = LevelHistogram::kStepsPerDb;

// The level below which `share` of the windows in steps [from, to) lie.
double Percentile(const LevelHistogram& levels, std::size_t from, std::size_t to, double share) {
  const std::vector<std::int64_t>& counts = levels.Counts();
  std::int64_t total = 0;
  for (std::size_t i = from; i < to; ++i) total += counts[i];
  if (total == 0) return 0;
  const auto rank = static_cast<std::int64_t>(share * static_cast<double>(total - 1) + 0.5);
  std::int64_t seen = 0;
  for (std::size_t i = from; i < to; ++i) {
    seen += counts[i];
    if (seen > rank) return levels.LevelOf(i);
  }
  return levels.LevelOf(to - 1);
}

// The 1 dB step that best splits the levels into two heaps (Otsu): the last
// step of the lower heap.
int Boundary(const std::vector<double>& counts) {
  double total = 0, sum = 0;
  for (std::size_t i = 0; i < counts.size(); ++i) {
    total += counts[i];
    sum += static_cast<double>(i) * counts[i];
  }
  double lowCount = 0, lowSum = 0, best = -1;
  int boundary = 0;
  for (std::size_t i = 0; i + 1 < counts.size(); ++i) {
    lowCount += counts[i];
    lowSum += static_cast<double>(i) * counts[i];
    const double highCount = total - lowCount;
    if (lowCount == 0 || highCount == 0) continue;
    const double difference = lowSum / lowCount - (sum - lowSum) / highCount;
    const double between = lowCount * highCount * difference * difference;
    if (between > best) {
      best = between;
      boundary = static_cast<int>(i);
    }
  }
  return boundary;
}

}  // namespace

double LevelHistogram::Db(double peak) const {
  return std::max(detect::LevelDb(peak), static_cast<double>(lowest_));
}

void LevelHistogram::Add(double peak) {
  AddDb(Db(peak));
}

void LevelHistogram::AddDb(double db) {
  ++counts_[StepOf(std::max(db, static_cast<double>(lowest_)))];
  ++windows_;
}

std::size_t LevelHistogram::StepOf(double db) const {
  const double step = std::floor((db - lowest_) * kSteps);
  // NaN lands at the top, with the loudest.
  return static_cast<std::size_t>(
      std::clamp(std::isnan(step) ? 1e18 : step, 0.0, static_cast<double>(-lowest_ * kSteps)));
}

double LevelHistogram::LevelOf(std::size_t index) const {
  return lowest_ + (static_cast<double>(index) + 0.5) / kSteps;
}

LevelEstimate EstimateLevels(const LevelHistogram& levels) {
  LevelEstimate estimate;
  if (levels.Windows() == 0) return estimate;
  const std::vector<std::int64_t>& counts = levels.Counts();
  std::vector<double> perDb(static_cast<std::size_t>(-levels.Lowest() + 1), 0.0);
  for (std::size_t i = 0; i < counts.size(); ++i)
    perDb[i / kSteps] += static_cast<double>(counts[i]);
  // The quiet heap is every step up to the end of the boundary's dB.
  const auto split = static_cast<std::size_t>(Boundary(perDb) + 1) * kSteps;
  std::int64_t quiet = 0;
  for (std::size_t i = 0; i < split; ++i) quiet += counts[i];
  const std::int64_t loud = levels.Windows() - quiet;
  estimate.quietShare = static_cast<double>(quiet) / static_cast<double>(levels.Windows());
  estimate.noiseDb = Percentile(levels, 0, split, 0.995);
  estimate.musicDb = Percentile(levels, split, counts.size(), 0.02);
  estimate.found = quiet > 0 && loud > 0 && estimate.quietShare >= 0.005 &&
                   estimate.musicDb - estimate.noiseDb >= 6.0;
  if (estimate.found) {
    estimate.thresholdDb =
        std::max((estimate.noiseDb + estimate.musicDb) / 2.0, estimate.noiseDb + 3.0);
  }
  return estimate;
}

PartSurvey::PartSurvey(int lowestDb, std::int64_t windowFrames, std::int64_t gapFrames)
    : lowest_(lowestDb),
      gapWindows_(gapFrames / std::max<std::int64_t>(1, windowFrames)),
      clicks_(lowestDb) {
  const auto steps = static_cast<std::size_t>(-lowestDb / kStepDb) + 1;
  for (Sweep* sweep : {&raw_, &declicked_}) {
    sweep->starts.assign(steps + 1, 0);
    sweep->parts.assign(steps, 0);
  }
}

void PartSurvey::Count(Sweep& sweep, std::int64_t window, double db) {
  // The loudest of the gap's windows before this one: at thresholds from it
  // up to this window's level, this window is loud after a gap.
  auto& loudest = sweep.loudest;
  while (!loudest.empty() && loudest.front().first < window - gapWindows_ - 1) loudest.pop_front();
  const double before = loudest.empty() ? -1e9 : loudest.front().second;
  auto step = [&](double level) {
    return static_cast<std::size_t>(std::clamp(std::ceil((level - lowest_) / kStepDb), 0.0,
                                               static_cast<double>(sweep.parts.size())));
  };
  // Thresholds t with before <= t < db: the steps from step(before) to step(db).
  const std::size_t from = step(before), to = step(db);
  if (from < to) {
    ++sweep.starts[from];
    --sweep.starts[to];
  }
  while (!loudest.empty() && loudest.back().second <= db) loudest.pop_back();
  loudest.emplace_back(window, db);
}

void PartSurvey::Add(double peakDb) {
  Count(raw_, seen_++, peakDb);
  clicks_.Add(peakDb, [this](std::int64_t window, double level, bool) {
    Count(declicked_, window, level);
  });
}

void PartSurvey::Finish() {
  clicks_.Finish(
      [this](std::int64_t window, double level, bool) { Count(declicked_, window, level); });
  for (Sweep* sweep : {&raw_, &declicked_}) {
    int parts = 0;
    for (std::size_t step = 0; step < sweep->parts.size(); ++step)
      sweep->parts[step] = parts += sweep->starts[step];
  }
}

// Clicks in these numbers are a recording's crackle, not a stray tap.
constexpr std::int64_t kManyClicks = 10;

StableRange FindStableRange(const PartSurvey& survey, const LevelHistogram& levels,
                            bool declicking) {
  // The share of windows above each step's threshold: where nearly all of
  // the recording is loud, the count says nothing.
  const std::vector<std::int64_t>& counts = levels.Counts();
  std::vector<std::int64_t> above(survey.Steps(), 0);
  for (std::size_t i = 0; i < counts.size(); ++i) {
    const double db = levels.LevelOf(i);
    for (std::size_t step = 0; step < survey.Steps() && survey.ThresholdOf(step) < db; ++step)
      above[step] += counts[i];
  }
  const double windows = static_cast<double>(std::max<std::int64_t>(1, levels.Windows()));
  StableRange best[2];
  for (int d = 0; d < 2; ++d) {
    StableRange range;
    for (std::size_t step = 0; step < survey.Steps(); ++step) {
      const int parts = survey.Parts(step, d == 1);
      const bool usable = parts >= 1 && static_cast<double>(above[step]) / windows <= 0.98;
      if (usable && range.found && parts == range.parts &&
          range.highDb + PartSurvey::kStepDb >= survey.ThresholdOf(step) - 1e-9) {
        range.highDb = survey.ThresholdOf(step);
      } else if (usable) {
        range = {true, survey.ThresholdOf(step), survey.ThresholdOf(step), parts, d == 1};
      } else {
        range.found = false;
      }
      if (range.found && (!best[d].found || range.Width() > best[d].Width())) best[d] = range;
    }
  }
  // The clicks are worth taking out when that steadies the count clearly,
  // or when, many of them bridging the pauses, they make fewer parts of a
  // recording than it steadily holds without them.
  if (!declicking) return best[0];
  const bool steadier =
      best[1].found && (!best[0].found || best[1].Width() >= best[0].Width() + 6.0);
  const bool bridged = best[1].found && best[0].found && survey.Clicks() >= kManyClicks &&
                       best[1].Width() >= 6.0 && best[1].parts > best[0].parts;
  return steadier || bridged ? best[1] : best[0];
}

double SuggestThreshold(const LevelEstimate& estimate, const StableRange& range) {
  if (!range.found) return -50.0;
  if (estimate.found && estimate.thresholdDb >= range.lowDb + 1.0 &&
      estimate.thresholdDb <= range.highDb - 1.0) {
    return estimate.thresholdDb;
  }
  return (range.lowDb + range.highDb) / 2.0;
}

}  // namespace corvella::detect
