#include "cli/Levels.h"

#include <algorithm>
#include <cmath>

#include "cli/Text.h"
#include "detect/Units.h"

namespace corvella::cli {
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
  ++counts_[StepOf(Db(peak))];
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

void WriteHistogram(std::ostream& out, const LevelHistogram& levels,
                    const LevelEstimate& estimate) {
  constexpr int kStep = 6;
  constexpr int kWidth = 40;
  const int lowest = levels.Lowest();
  std::vector<std::int64_t> rows(static_cast<std::size_t>(-lowest / kStep + 1), 0);
  const std::vector<std::int64_t>& counts = levels.Counts();
  for (std::size_t i = 0; i < counts.size(); ++i) rows[i / kSteps / kStep] += counts[i];
  const std::int64_t most = std::max<std::int64_t>(1, *std::max_element(rows.begin(), rows.end()));
  // From the loudest step that holds a window down to the quietest one.
  std::size_t top = rows.size(), bottom = 0;
  while (top > 0 && rows[top - 1] == 0) --top;
  while (bottom < top && rows[bottom] == 0) ++bottom;
  for (std::size_t i = top; i-- > bottom;) {
    const int low = lowest + static_cast<int>(i) * kStep;
    const std::string bar(static_cast<std::size_t>(rows[i] * kWidth / most + (rows[i] > 0 ? 1 : 0)),
                          '#');
    std::string marks;
    auto mark = [&](double db, const char* what) {
      if (db >= low && db < low + kStep)
        marks += std::string(marks.empty() ? "  <- " : ", ") + what;
    };
    if (estimate.found) {
      mark(estimate.musicDb, "music");
      mark(estimate.thresholdDb, "suggested floor");
      mark(estimate.noiseDb, "noise");
    }
    out << PadLeft(std::to_string(low), 4) << " dB |" << bar << marks << '\n';
  }
}

}  // namespace corvella::cli
