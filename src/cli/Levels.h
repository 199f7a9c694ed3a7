// Finding a noise floor for a recording: the level of its quiet passages,
// the level of its music, and a threshold between the two.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace corvella::cli {

struct LevelEstimate {
  bool found = false;        // quiet passages stand clearly apart from the music
  double noiseDb = 0;        // nearly every quiet window peaks at or below this
  double musicDb = 0;        // nearly every loud window peaks at or above this
  double quietShare = 0;     // the share of windows in the quiet passages
  double thresholdDb = -50;  // the suggestion
};

// Estimates from the peaks of short windows (10 ms) of a recording.
//
// The window peaks, in dB, fall into two heaps: the quiet passages (tape
// hiss, surface noise, room tone) low down, the music above. The boundary
// between the heaps is the one that best separates them (Otsu's method on
// the histogram of levels). The noise level is the 99.5th percentile of the
// quiet heap: a floor below it would let the noise's own peaks break a gap
// into crackle parts. The music level is the 2nd percentile of the loud heap:
// a floor above it would cut into soft passages. The suggestion lies midway
// between the two in dB, but at least 3 dB above the noise. With less than
// half a percent of the windows quiet, or the heaps less than 6 dB apart,
// there is no clear silence and the suggestion stays at -50 dBFS.
LevelEstimate EstimateLevels(const std::vector<double>& windowPeaks);

// A window peak (a fraction of full scale) in dBFS, with silence at -96.
double WindowDb(double peak);

// A small histogram of the window levels in 6 dB steps, with the noise,
// music and suggested levels marked.
void WriteHistogram(std::ostream& out, const std::vector<double>& windowPeaks,
                    const LevelEstimate& estimate);

}  // namespace corvella::cli
