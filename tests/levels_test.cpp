// The noise-floor suggestion of `levels` on material like what users record:
// sentences spoken by espeak-ng and plucked tunes from sox, laid end to end
// with pauses, under pink and brown hiss, mains hum and record crackle at
// several levels. The options `levels` suggests must give the right number
// of parts on at least 90 % of them; the figure is printed and every miss
// named.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <sstream>

#include "detect/Profile.h"
#include "support/CliRun.h"
#include "support/Material.h"

namespace corvella::test {
namespace {

namespace fs = std::filesystem;

// Four segments with pauses of 1.5 to 2 s around them, over a background.
Signal Recording(const std::vector<Signal>& segments, double segmentDb, Noise noise, double noiseDb,
                 unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> pause(1.5, 2.0);
  Signal s;
  auto silence = [&] {
    s.insert(s.end(), static_cast<std::size_t>(pause(random) * kMaterialRate), 0.0);
  };
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
    WriteFile(path, Wav16(Recording(c.speech ? material.speech : material.tunes,
                                    c.speech ? -12 : -10, c.noise, c.noiseDb, seed++)));
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


// Pieces that fade in over 4 s and out over 3 s under loud hiss: the floor
// that parts them lies far above the fades' first sound and would cut them
// off, so levels suggests --tracks and says why. The same pieces starting
// and stopping at once keep a floor and gap. Either way the suggestion
// gives the four pieces.
TEST(Levels, FadesUnderLoudNoiseAreLeftToTracks) {
  TempDir dir;
  std::atomic<int> stop{0};
  for (const bool fades : {true, false}) {
    SCOPED_TRACE(fades ? "fading" : "at once");
    Signal s(2 * kMaterialRate, 0.0);
    for (int piece = 0; piece < 4; ++piece) {
      const int frames = 12 * kMaterialRate;
      for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kMaterialRate;
        const double envelope = fades ? std::min({1.0, t / 4.0, (12.0 - t) / 3.0})
                                      : std::min({1.0, t / 0.02, (12.0 - t) / 0.02});
        s.push_back(0.5 * envelope * std::sin(2 * std::numbers::pi * (220.0 + 110.0 * piece) * t));
      }
      s.insert(s.end(), 3 * kMaterialRate, 0.0);
    }
    std::mt19937 random(5);
    const Signal hiss = Background(Noise::Pink, s.size(), -30, random);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] += hiss[i];
    const std::string path = dir / "side.wav";
    WriteFile(path, Wav16(s));
    const ShellResult levels = RunCli({"levels", path}, stop);
    const auto at = levels.out.rfind("suggested: ");
    ASSERT_NE(at, std::string::npos) << levels.out << levels.err;
    const std::string suggested = levels.out.substr(at + 11);
    if (fades) {
      EXPECT_EQ(suggested, "--tracks 4\n") << levels.out;
      EXPECT_NE(levels.out.find("of the pieces' sound off (soft starts and fades)"), std::string::npos) << levels.out;
      const ShellResult json = RunCli({"levels", "-f", "json", path}, stop);
      EXPECT_NE(json.out.find("\"edges_cut\": {\"threshold_db\":"), std::string::npos) << json.out;
    } else {
      EXPECT_EQ(suggested.rfind("--threshold-db ", 0), 0u) << levels.out;
    }
    std::vector<std::string> count = Words(suggested);
    count.insert(count.begin(), "count");
    count.push_back(path);
    EXPECT_NE(RunCli(count, stop).out.find("contains 4 parts!"), std::string::npos);
  }
}


// The programme's level of 16-bit samples (frames of `channels`) at `rate`,
// a window each 10 ms, the samples handed over in pieces of the sizes
// `pieces` draws (all at once where it is null).
std::vector<double> ProgrammeOf(const std::vector<std::int16_t>& samples, int channels,
                                std::int64_t rate, std::mt19937* pieces = nullptr) {
  wave::SourceInfo info;
  info.channels = channels;
  info.rate = rate;
  info.frames = static_cast<std::int64_t>(samples.size()) / channels;
  detect::LevelProfile profile(info, rate / 100);
  std::vector<double> levels;
  const auto take = [&](double db) { levels.push_back(db); };
  std::uniform_int_distribution<std::int64_t> size(1, 3000);
  for (std::int64_t at = 0; at < info.frames;) {
    const std::int64_t n = std::min(pieces ? size(*pieces) : info.frames, info.frames - at);
    profile.Add(samples.data() + at * channels, n, take);
    at += n;
  }
  profile.Finish(take);
  return levels;
}

std::vector<std::int16_t> Sine(double hz, double amplitude, std::int64_t rate, double seconds,
                               int channels = 1) {
  std::vector<std::int16_t> s;
  for (std::int64_t f = 0; f < static_cast<std::int64_t>(seconds * static_cast<double>(rate)); ++f) {
    const double v =
        amplitude * std::sin(2 * std::numbers::pi * hz * static_cast<double>(f) / static_cast<double>(rate));
    for (int c = 0; c < channels; ++c) s.push_back(static_cast<std::int16_t>(std::lround(v * 32767)));
  }
  return s;
}

// The median of the levels past the first quarter second (the filter settled).
double Settled(const std::vector<double>& levels) {
  std::vector<double> rest(levels.begin() + 25, levels.end());
  std::nth_element(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(rest.size() / 2), rest.end());
  return rest[rest.size() / 2];
}

TEST(ProgrammeLevel, IsTheSameInAnyPiecesAndOnEveryPath) {
  std::mt19937 random(3);
  std::uniform_int_distribution<int> sample(-32768, 32767);
  for (const std::int64_t rate : {44100, 48000, 96000, 8000, 22050}) {
    for (const int channels : {1, 2, 3}) {
      std::vector<std::int16_t> noise(static_cast<std::size_t>(rate / 2 * channels));
      for (auto& v : noise) v = static_cast<std::int16_t>(sample(random) / (1 + static_cast<int>(random() % 64)));
      const std::vector<double> whole = ProgrammeOf(noise, channels, rate);
      ASSERT_GE(whole.size(), 50u);
      EXPECT_EQ(ProgrammeOf(noise, channels, rate, &random), whole) << rate << " Hz, " << channels;
    }
    // Both channels alike read as the one channel does.
    std::vector<std::int16_t> mono(static_cast<std::size_t>(rate / 2)), stereo;
    for (auto& v : mono) {
      v = static_cast<std::int16_t>(sample(random) / 4);
      stereo.insert(stereo.end(), {v, v});
    }
    const std::vector<double> one = ProgrammeOf(mono, 1, rate), two = ProgrammeOf(stereo, 2, rate);
    ASSERT_EQ(one.size(), two.size());
    for (std::size_t k = 0; k < one.size(); ++k) EXPECT_NEAR(one[k], two[k], 1e-9) << rate << " " << k;
  }
}

TEST(ProgrammeLevel, HearsMusicAndPassesOverHumRumbleDcAndHiss) {
  for (const int channels : {1, 2}) {
    const double mid = Settled(ProgrammeOf(Sine(1000, 0.1, 44100, 1, channels), channels, 44100));
    EXPECT_NEAR(mid, -23.0, 0.5);  // a sine's power is half its peak's square
    // Rumble and hum lie under the high-pass; DC is none of it.
    EXPECT_LT(Settled(ProgrammeOf(Sine(30, 0.1, 44100, 1, channels), channels, 44100)), mid - 18);
    EXPECT_LT(Settled(ProgrammeOf(Sine(50, 0.1, 44100, 1, channels), channels, 44100)), mid - 10);
    std::vector<std::int16_t> dc(44100 * static_cast<std::size_t>(channels), 3000);
    EXPECT_LT(Settled(ProgrammeOf(dc, channels, 44100)), -100);
    // Where hiss and surface noise lie, counted down, yet heard.
    const double high = Settled(ProgrammeOf(Sine(10000, 0.1, 44100, 1, channels), channels, 44100));
    EXPECT_LT(high, mid - 8);
    EXPECT_GT(high, mid - 14);
  }
}

}  // namespace
}  // namespace corvella::test
