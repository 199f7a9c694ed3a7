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

}  // namespace
}  // namespace corvella::test
