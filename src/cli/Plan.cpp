#include "cli/Plan.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvella::cli {

double LevelDb(int amplitude) {
  if (amplitude <= 0) return -std::numeric_limits<double>::infinity();
  return 20.0 * std::log10(amplitude / 32768.0);
}

int NoiseFloorFromDb(double db) {
  const double exact = 32768.0 * std::pow(10.0, db / 20.0);
  if (!(exact >= 1.0)) return 1;  // also catches NaN
  if (exact >= 32767.0) return 32767;
  const int below = static_cast<int>(std::floor(exact));
  const int above = below + 1;
  return std::abs(LevelDb(above) - db) < std::abs(LevelDb(below) - db) ? above : below;
}

int GapThresholdFromSeconds(double seconds) {
  const double units = std::round(seconds * 44100.0);
  if (!(units >= 1.0)) return 1;
  return units > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                 : static_cast<int>(units);
}

std::int64_t FramesFromSeconds(double seconds, std::int64_t rate) {
  const double frames = std::round(seconds * static_cast<double>(rate > 0 ? rate : 44100));
  return frames > 0 ? static_cast<std::int64_t>(frames) : 0;
}

std::vector<PartSpan> PlanParts(const std::vector<PartSpan>& parts, std::int64_t frames,
                                const PlanOptions& options) {
  std::vector<PartSpan> kept;
  for (const PartSpan& part : parts) {
    if (part.end - part.start >= options.minFrames) kept.push_back(part);
  }
  std::vector<PartSpan> planned = kept;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    // The silence before a part reaches back to the previous part's end; a
    // neighbour gets the half of it nearer to it.
    const std::int64_t earliest = i == 0 ? 0 : kept[i - 1].end + (kept[i].start - kept[i - 1].end) / 2;
    const std::int64_t latest =
        i + 1 == kept.size() ? frames : kept[i].end + (kept[i + 1].start - kept[i].end) / 2;
    planned[i].start = std::max(kept[i].start - options.padBefore, earliest);
    planned[i].end = std::min(kept[i].end + options.padAfter, latest);
  }
  return planned;
}

}  // namespace corvella::cli
