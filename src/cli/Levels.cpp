#include "cli/Levels.h"

#include <algorithm>
#include <cmath>
#include "cli/Text.h"
#include "detect/Units.h"

namespace corvella::cli {
namespace {

constexpr int kLowestDb = -96;  // histogram floor, one bin per dB up to 0

int Bin(double db) {
  return std::clamp(static_cast<int>(std::floor(db)) - kLowestDb, 0, -kLowestDb);
}

// The value below which `share` of the sorted values lie.
double Percentile(const std::vector<double>& sorted, double share) {
  if (sorted.empty()) return 0;
  const auto at = static_cast<std::size_t>(share * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(at, sorted.size() - 1)];
}

// The bin that best splits the histogram into two heaps (Otsu): the last bin
// of the lower heap.
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

double WindowDb(double peak) {
  return std::max(detect::LevelDb(peak), double{kLowestDb});
}

LevelEstimate EstimateLevels(const std::vector<double>& windowPeaks) {
  LevelEstimate estimate;
  if (windowPeaks.empty()) return estimate;
  std::vector<double> counts(-kLowestDb + 1, 0.0);
  for (double peak : windowPeaks) counts[static_cast<std::size_t>(Bin(WindowDb(peak)))] += 1;
  const int boundary = Boundary(counts);

  std::vector<double> quiet, loud;
  for (double peak : windowPeaks) {
    const double db = WindowDb(peak);
    (Bin(db) <= boundary ? quiet : loud).push_back(db);
  }
  std::sort(quiet.begin(), quiet.end());
  std::sort(loud.begin(), loud.end());
  estimate.quietShare = static_cast<double>(quiet.size()) / static_cast<double>(windowPeaks.size());
  estimate.noiseDb = Percentile(quiet, 0.995);
  estimate.musicDb = Percentile(loud, 0.02);
  estimate.found = !quiet.empty() && !loud.empty() && estimate.quietShare >= 0.005 &&
                   estimate.musicDb - estimate.noiseDb >= 6.0;
  if (estimate.found) {
    estimate.thresholdDb =
        std::max((estimate.noiseDb + estimate.musicDb) / 2.0, estimate.noiseDb + 3.0);
  }
  return estimate;
}

void WriteHistogram(std::ostream& out, const std::vector<double>& windowPeaks,
                    const LevelEstimate& estimate) {
  constexpr int kStep = 6;
  constexpr int kWidth = 40;
  std::vector<std::size_t> counts(-kLowestDb / kStep + 1, 0);
  for (double peak : windowPeaks) {
    const int db = static_cast<int>(std::floor(WindowDb(peak)));
    counts[static_cast<std::size_t>(std::clamp((db - kLowestDb) / kStep, 0, -kLowestDb / kStep))]++;
  }
  const std::size_t most =
      std::max<std::size_t>(1, *std::max_element(counts.begin(), counts.end()));
  // From the loudest step that holds a window down to the quietest one.
  std::size_t top = counts.size(), bottom = 0;
  while (top > 0 && counts[top - 1] == 0) --top;
  while (bottom < top && counts[bottom] == 0) ++bottom;
  for (std::size_t i = top; i-- > bottom;) {
    const int low = kLowestDb + static_cast<int>(i) * kStep;
    std::string bar(counts[i] * kWidth / most + (counts[i] > 0 ? 1 : 0), '#');
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
