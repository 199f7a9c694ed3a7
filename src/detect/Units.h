// The one home of the units users set the detection in: levels in dBFS and
// amplitudes on the 16-bit scale, gaps in 1/44100 second, lengths in seconds.
#pragma once

#include <cstdint>

namespace corvella::detect {

// The gap threshold counts 1/44100 second, whatever the recording's rate.
inline constexpr int kGapUnitsPerSecond = 44100;

// A level in dBFS: 20 log10 of a fraction of full scale; -infinity for 0.
double LevelDb(double fraction);
// The level of an amplitude on the 16-bit scale: p × 2^-15, in dBFS.
double AmplitudeDb(int amplitude);
// The amplitude from 1 to 32767 whose level is nearest to `db` (-50 gives 104).
int NoiseFloorFromDb(double db);
// 10^(db/20): a level as a fraction of full scale.
double FractionOfDb(double db);

// A gap threshold in seconds: every unit is 1/44100 second.
double GapSeconds(int gapThreshold);
// Seconds as gap threshold units, rounded, at least 1.
int GapThresholdFromSeconds(double seconds);
// The gap length in frames for a recording's rate. Rates up to 44100 Hz
// divide by the whole number of 44100 Hz ticks per frame, as the window
// does; faster rates scale, so the gap keeps its length in seconds; a rate
// of 0 takes every unit as a frame.
std::int64_t GapFrames(int gapThreshold, std::int64_t rate);

// Seconds as a whole number of frames at `rate` (44100 when the rate is 0).
std::int64_t FramesFromSeconds(double seconds, std::int64_t rate);
// The time of a frame in seconds (0 when the rate is 0).
double Seconds(std::int64_t frame, std::int64_t rate);

}  // namespace corvella::detect
