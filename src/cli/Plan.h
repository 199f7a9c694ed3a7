// The command line's own choices on top of the engine's parts: thresholds in
// decibels and seconds, a minimum part length, padding around the cuts.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/Engine.h"

namespace corvella::cli {

// The level of an amplitude in dBFS: 20 log10(amplitude / 32768).
double LevelDb(int amplitude);
// The amplitude from 1 to 32767 whose level is nearest to `db` (-50 gives 104).
int NoiseFloorFromDb(double db);
// A gap in seconds as the gap threshold's 1/44100 s units, rounded (at least 1).
int GapThresholdFromSeconds(double seconds);
// Seconds as a whole number of frames at `rate` (44100 when the rate is 0).
std::int64_t FramesFromSeconds(double seconds, std::int64_t rate);

struct PlanOptions {
  std::int64_t minFrames = 0;  // parts shorter than this are dropped
  std::int64_t padBefore = 0;
  std::int64_t padAfter = 0;
};

// Drops the parts shorter than the minimum, then widens the others into the
// silence around them: never before frame 0 or past `frames`, and never past
// the middle of the silence a part shares with its neighbour, so no two parts
// overlap. With no options the parts come back unchanged.
std::vector<PartSpan> PlanParts(const std::vector<PartSpan>& parts, std::int64_t frames,
                                const PlanOptions& options);

}  // namespace corvella::cli
