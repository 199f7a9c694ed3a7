// Recordings made in the tests from what users record: sentences spoken by
// espeak-ng, tunes of plucked notes from sox, and the noises under them
// (hiss, rumble, hum, record crackle). Signals are in full-scale units.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "support/WavBuilder.h"

namespace corvella::test {

using Signal = std::vector<double>;
inline constexpr int kMaterialRate = 44100;

// A 16-bit mono WAV as read back, at kMaterialRate (22050 Hz doubled).
Signal LoadMono16(const std::string& path);
// Scales `s` so that its peak reaches `peakDb` dBFS.
void Normalise(Signal& s, double peakDb);

// Background noises, scaled so that their peaks reach `db`. Crackle is
// surface noise at `db` with clicks of 1 to 3 ms, a few a second, from -25
// to -15 dBFS.
enum class Noise { Pink, Brown, Hum, Crackle };
Signal Background(Noise noise, std::size_t length, double db, std::mt19937& random);

struct Material {
  std::vector<Signal> speech, tunes;
};
// Four sentences from espeak-ng and four tunes from sox, made once.
const Material& Sources();

// A 16-bit mono WAV of `s`, clipped to full scale.
Bytes Wav16(const Signal& s);

}  // namespace corvella::test
