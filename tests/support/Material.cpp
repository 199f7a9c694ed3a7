#include "support/Material.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <sstream>

#include "support/Fixture.h"

namespace corvella::test {
namespace {

// "s3.wav": built bit by bit, as GCC 12 warns wrongly of the same with +.
std::string Name(char prefix, int k) {
  std::string name(1, prefix);
  name.append(std::to_string(k)).append(".wav");
  return name;
}

}  // namespace

constexpr int kRate = kMaterialRate;

Signal LoadMono16(const std::string& path) {
  const Bytes file = ReadFile(path);
  std::size_t at = 12;
  std::uint32_t rate = kRate;
  Signal s;
  while (at + 8 <= file.size()) {
    const std::string id(file.begin() + static_cast<std::ptrdiff_t>(at),
                         file.begin() + static_cast<std::ptrdiff_t>(at + 4));
    std::uint32_t size = file[at + 4] | (file[at + 5] << 8) | (file[at + 6] << 16) |
                         (std::uint32_t{file[at + 7]} << 24);
    if (id == "fmt ") rate = file[at + 12] | (file[at + 13] << 8) | (file[at + 14] << 16);
    if (id == "data") {
      size = std::min<std::uint32_t>(size, static_cast<std::uint32_t>(file.size() - at - 8));
      for (std::size_t i = at + 8; i + 1 < at + 8 + size; i += 2) {
        const double v = static_cast<std::int16_t>(file[i] | (file[i + 1] << 8)) / 32768.0;
        s.push_back(v);
        if (rate == kRate / 2) s.push_back(v);
      }
      break;
    }
    at += 8 + size + (size & 1);
  }
  return s;
}

void Normalise(Signal& s, double peakDb) {
  double peak = 0;
  for (double v : s) peak = std::max(peak, std::fabs(v));
  const double gain = std::pow(10.0, peakDb / 20) / std::max(peak, 1e-9);
  for (double& v : s) v *= gain;
}

Signal Background(Noise noise, std::size_t length, double db, std::mt19937& random) {
  std::normal_distribution<double> white(0.0, 1.0);
  Signal s(length, 0.0);
  double b0 = 0, b1 = 0, b2 = 0, brown = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const double w = white(random);
    switch (noise) {
      case Noise::Pink:  // Paul Kellet's economy filter
        b0 = 0.99765 * b0 + w * 0.0990460;
        b1 = 0.96300 * b1 + w * 0.2965164;
        b2 = 0.57000 * b2 + w * 1.0526913;
        s[i] = b0 + b1 + b2 + w * 0.1848;
        break;
      case Noise::Brown:
        brown = 0.995 * brown + w * 0.05;
        s[i] = brown;
        break;
      case Noise::Hum:
        s[i] = std::sin(2 * std::numbers::pi * 50 * i / kRate) +
               0.4 * std::sin(2 * std::numbers::pi * 150 * i / kRate) + 0.02 * w;
        break;
      case Noise::Crackle:
        s[i] = 0.03 * w;  // surface noise under the clicks
        break;
    }
  }
  Normalise(s, db);
  if (noise == Noise::Crackle) {
    // Clicks of 1 to 3 ms, a few a second, from -25 to -15 dBFS.
    std::uniform_real_distribution<double> level(-25, -15), gapSeconds(0.15, 0.45), uniform(-1, 1);
    for (double t = 0.1; t < static_cast<double>(length) / kRate; t += gapSeconds(random)) {
      const double amplitude = std::pow(10.0, level(random) / 20);
      const auto start = static_cast<std::size_t>(t * kRate);
      const auto span =
          static_cast<std::size_t>(kRate * (0.001 + 0.002 * std::fabs(uniform(random))));
      for (std::size_t k = 0; k < span && start + k < length; ++k) {
        s[start + k] += amplitude * std::exp(-3.0 * k / span) * (k % 2 ? 1 : -1) *
                        (0.7 + 0.3 * uniform(random));
      }
    }
  }
  return s;
}

// Sentences from espeak-ng and tunes of plucked notes from sox, made once.
const Material& Sources() {
  static Material material = [] {
    Material m;
    TempDir dir;
    const char* sentences[] = {
        "The river was quiet that morning.", "We walked to the station in the rain.",
        "My grandfather kept bees behind the barn.", "Nobody remembers the old song now."};
    int k = 0;
    for (const char* sentence : sentences) {
      const std::string path = dir / Name('s', k++);
      std::string command = "espeak-ng -w ";
      command.append(path).append(" '").append(sentence).append("'");
      if (std::system(command.c_str()) == 0) m.speech.push_back(LoadMono16(path));
    }
    const char* tunes[] = {"C4 E4 G4 C5 G4 E4 C4", "A3 C4 E4 A4 E4 C4", "D4 F4 A4 D5 A4 F4 D4 F4",
                           "G3 B3 D4 G4 D4"};
    k = 0;
    for (const char* tune : tunes) {
      const std::string path = dir / Name('t', k);
      std::string command = "sox -R -n -r 44100 -b 16 -c 1 ";
      command.append(path);
      std::istringstream notes(tune);
      bool firstNote = true;
      for (std::string note; notes >> note; firstNote = false) {
        if (!firstNote) command.append(" :");
        command.append(" synth 0.35 pluck ").append(note);
      }
      command.append(" 2>/dev/null");
      if (std::system(command.c_str()) == 0) m.tunes.push_back(LoadMono16(path));
      ++k;
    }
    return m;
  }();
  return material;
}

Bytes Wav16(const Signal& s) {
  Samples pcm;
  for (double v : s)
    pcm.push_back(static_cast<std::int16_t>(std::clamp(std::lround(v * 32767), -32768l, 32767l)));
  return SimpleWav(1, pcm);
}

}  // namespace corvella::test
