#include "detect/Units.h"

#include <cmath>
#include <limits>

namespace corvella::detect {

double LevelDb(double fraction) {
  if (!(fraction > 0)) return -std::numeric_limits<double>::infinity();
  return 20.0 * std::log10(fraction);
}

double AmplitudeDb(int amplitude) {
  return LevelDb(amplitude * 0.000030517578125);
}

double FractionOfDb(double db) {
  return std::pow(10.0, db / 20.0);
}

int NoiseFloorFromDb(double db) {
  const double exact = 32768.0 * FractionOfDb(db);
  if (!(exact >= 1.0)) return 1;  // also catches NaN
  if (exact >= 32767.0) return 32767;
  const int below = static_cast<int>(std::floor(exact));
  const int above = below + 1;
  return std::abs(AmplitudeDb(above) - db) < std::abs(AmplitudeDb(below) - db) ? above : below;
}

double GapSeconds(int gapThreshold) {
  return gapThreshold * (1.0 / kGapUnitsPerSecond);
}

int GapThresholdFromSeconds(double seconds) {
  const double units = std::round(seconds * kGapUnitsPerSecond);
  if (!(units >= 1.0)) return 1;
  return units > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                 : static_cast<int>(units);
}

std::int64_t GapFrames(int gapThreshold, std::int64_t rate) {
  const std::int64_t threshold = gapThreshold < 0 ? 0 : gapThreshold;
  if (rate <= 0) return threshold;
  if (rate <= kGapUnitsPerSecond) return threshold / (kGapUnitsPerSecond / rate);
  return threshold * rate / kGapUnitsPerSecond;
}

std::int64_t FramesFromSeconds(double seconds, std::int64_t rate) {
  const double frames =
      std::round(seconds * static_cast<double>(rate > 0 ? rate : kGapUnitsPerSecond));
  return frames > 0 ? static_cast<std::int64_t>(frames) : 0;
}

double Seconds(std::int64_t frame, std::int64_t rate) {
  return rate > 0 ? static_cast<double>(frame) / static_cast<double>(rate) : 0.0;
}

}  // namespace corvella::detect
