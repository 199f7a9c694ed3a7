// The noise-floor suggestion of `levels` on material like what users record:
// sentences spoken by espeak-ng and plucked tunes from sox, laid end to end
// with pauses, under pink and brown hiss, mains hum and record crackle at
// several levels. The options `levels` suggests must give the right number
// of parts on at least 90 % of them; the figure is printed and every miss
// named.
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <sstream>

#include "support/CliRun.h"

namespace corvella::test {
namespace {

namespace fs = std::filesystem;

using Signal = std::vector<double>;  // in full-scale units, at kRate
constexpr int kRate = 44100;

// A 16-bit mono WAV as read back, at kRate (speech at 22050 Hz doubled).
Signal Load(const std::string& path) {
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

// Background noises, scaled so that their peaks reach `db`.
enum class Noise { Pink, Brown, Hum, Crackle };

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

// "s3.wav": built bit by bit, as GCC 12 warns wrongly of the same with +.
std::string Name(char prefix, int k) {
  std::string name(1, prefix);
  name.append(std::to_string(k)).append(".wav");
  return name;
}

struct Material {
  std::vector<Signal> speech, tunes;
};

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
      if (std::system(command.c_str()) == 0) m.speech.push_back(Load(path));
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
      if (std::system(command.c_str()) == 0) m.tunes.push_back(Load(path));
      ++k;
    }
    return m;
  }();
  return material;
}

// Four segments with pauses of 1.5 to 2 s around them, over a background.
Signal Recording(const std::vector<Signal>& segments, double segmentDb, Noise noise, double noiseDb,
                 unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> pause(1.5, 2.0);
  Signal s;
  auto silence = [&] { s.insert(s.end(), static_cast<std::size_t>(pause(random) * kRate), 0.0); };
  silence();
  for (Signal segment : segments) {
    Normalise(segment, segmentDb);
    s.insert(s.end(), segment.begin(), segment.end());
    silence();
  }
  const Signal background = Background(noise, s.size(), noiseDb, random);
  for (std::size_t i = 0; i < s.size(); ++i) s[i] += background[i];
  return s;
}

Bytes Wav(const Signal& s) {
  Samples pcm;
  for (double v : s)
    pcm.push_back(static_cast<std::int16_t>(std::clamp(std::lround(v * 32767), -32768l, 32767l)));
  return SimpleWav(1, pcm);
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

TEST(Levels, SuggestionsGiveTheRightPartsOnSpeechAndMusicUnderNoise) {
  const Material& material = Sources();
  ASSERT_EQ(material.speech.size(), 4u) << "espeak-ng is needed (make test installs it)";
  ASSERT_EQ(material.tunes.size(), 4u) << "sox is needed (make test installs it)";
  struct Case {
    const char* name;
    bool speech;
    Noise noise;
    double noiseDb;
  };
  const Case cases[] = {
      {"speech, pink hiss at -60", true, Noise::Pink, -60},
      {"speech, pink hiss at -48", true, Noise::Pink, -48},
      {"speech, pink hiss at -39", true, Noise::Pink, -39},
      {"speech, brown noise at -50", true, Noise::Brown, -50},
      {"speech, brown noise at -40", true, Noise::Brown, -40},
      {"speech, hum at -52", true, Noise::Hum, -52},
      {"speech, hum at -42", true, Noise::Hum, -42},
      {"speech, crackle", true, Noise::Crackle, -55},
      {"tunes, pink hiss at -60", false, Noise::Pink, -60},
      {"tunes, pink hiss at -45", false, Noise::Pink, -45},
      {"tunes, pink hiss at -39", false, Noise::Pink, -39},
      {"tunes, brown noise at -50", false, Noise::Brown, -50},
      {"tunes, brown noise at -40", false, Noise::Brown, -40},
      {"tunes, hum at -52", false, Noise::Hum, -52},
      {"tunes, hum at -42", false, Noise::Hum, -42},
      {"tunes, crackle", false, Noise::Crackle, -55},
      {"speech, crackle over hiss", true, Noise::Crackle, -48},
      {"tunes, crackle over hiss", false, Noise::Crackle, -48},
  };
  TempDir dir;
  std::atomic<int> stop{0};
  int right = 0;
  std::string misses;
  unsigned seed = 1;
  for (const Case& c : cases) {
    const std::string path = dir / "rec.wav";
    WriteFile(path, Wav(Recording(c.speech ? material.speech : material.tunes, c.speech ? -12 : -10,
                                  c.noise, c.noiseDb, seed++)));
    const ShellResult levels = RunCli({"levels", path}, stop);
    const auto at = levels.out.rfind("suggested: ");
    ASSERT_NE(at, std::string::npos) << levels.out << levels.err;
    std::vector<std::string> count = Words(levels.out.substr(at + 11));
    count.insert(count.begin(), "count");
    count.push_back(path);
    const std::string result = RunCli(count, stop).out;
    const bool ok = result.find("contains 4 parts!") != std::string::npos;
    right += ok;
    std::printf("%-30s %-45s %s\n", c.name,
                levels.out.substr(at + 11, levels.out.size() - at - 12).c_str(),
                result.substr(result.find(path) + path.size() + 2).c_str());
    if (!ok) misses += std::string("\n  ") + c.name + ": " + result;
  }
  const int total = static_cast<int>(std::size(cases));
  std::printf("levels suggested the right 4 parts for %d of %d recordings (%d%%)\n", right, total,
              100 * right / total);
  EXPECT_GE(right * 10, total * 9) << "missed:" << misses;
}

}  // namespace
}  // namespace corvella::test
