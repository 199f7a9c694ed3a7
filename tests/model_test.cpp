// The scanner against the plainly stated rule on random recordings: bursts
// and gaps of every length near G, across block edges, mono and stereo.
#include <gtest/gtest.h>

#include <random>

#include "support/EngineFixture.h"
#include "support/Model.h"

namespace corvella::test {
namespace {

using Samples = std::vector<std::int16_t>;

// Runs of loud and silent frames whose lengths cluster around the gap, with
// samples near the floor on both sides of it.
Samples RandomRecording(std::mt19937& random, int channels, std::int64_t frames, int floor,
                        std::int64_t gap) {
  Samples s;
  s.reserve(static_cast<std::size_t>(frames * channels));
  std::uniform_int_distribution<int> coin(0, 9);
  std::uniform_int_distribution<std::int64_t> jitter(-2, 2);
  std::uniform_int_distribution<std::int64_t> anyLength(1, 3 * gap + 3);
  std::uniform_int_distribution<int> quiet(-floor, floor);
  std::uniform_int_distribution<int> sign(0, 1);
  bool loud = coin(random) < 5;
  while (static_cast<std::int64_t>(s.size()) < frames * channels) {
    std::int64_t run = coin(random) < 6 ? std::max<std::int64_t>(1, gap + jitter(random)) : anyLength(random);
    for (std::int64_t f = 0; f < run && static_cast<std::int64_t>(s.size()) < frames * channels; ++f) {
      for (int c = 0; c < channels; ++c) {
        int v = quiet(random);
        // In a loud run, some frames carry one sample just above the floor
        // (or -32768); others stay quiet so runs have holes.
        if (loud && coin(random) < 4) {
          v = coin(random) == 0 ? -32768 : (sign(random) ? floor + 1 : -floor - 1);
        }
        s.push_back(static_cast<std::int16_t>(v));
      }
    }
    loud = !loud;
  }
  return s;
}

class AgainstModel : public EngineFixture,
                     public ::testing::WithParamInterface<std::tuple<int, int>> {};

TEST_P(AgainstModel, PartsMatchOnRandomRecordings) {
  const auto [channels, gapThreshold] = GetParam();
  std::mt19937 random(static_cast<unsigned>(channels * 1000003 + gapThreshold));
  for (int round = 0; round < 6; ++round) {
    const int floor = std::uniform_int_distribution<int>(1, 3000)(random);
    const std::int64_t frames = std::uniform_int_distribution<std::int64_t>(1, 200000)(random);
    const Samples samples = RandomRecording(random, channels, frames, floor, gapThreshold);
    ASSERT_TRUE(Open(SimpleWav(channels, samples)));
    engine.NoiseFloor = floor;
    engine.GapThreshold = gapThreshold;
    std::vector<std::pair<std::int64_t, std::int64_t>> want;
    for (const Span& span : ModelParts(samples, channels, floor, gapThreshold)) {
      want.emplace_back(span.start, span.end);
    }
    EXPECT_EQ(Walk(), want) << "round " << round << ", " << frames << " frames, floor " << floor;
    engine.CloseWave();
  }
}

INSTANTIATE_TEST_SUITE_P(Gaps, AgainstModel,
                         ::testing::Combine(::testing::Values(1, 2),
                                            ::testing::Values(1, 2, 7, 64, 1000, 40000)));

TEST_F(EngineFixture, WrittenPartsEqualTheModelsSlices) {
  std::mt19937 random(20261206);
  for (int channels : {1, 2}) {
    for (bool mono : {false, true}) {
      const Samples samples = RandomRecording(random, channels, 150000, 300, 500);
      dir.Put("rec.wav", SimpleWav(channels, samples));
      const std::string out = dir / ("out" + std::to_string(channels) + (mono ? "m" : "s"));
      std::filesystem::create_directory(out);
      host.destFolder = out;
      host.mono = mono;
      engine.NoiseFloor = 300;
      engine.GapThreshold = 500;
      const auto parts = ModelParts(samples, channels, 300, 500);
      ASSERT_EQ(engine.ProcessParts("rec.wav", out, true), static_cast<int>(parts.size()));
      for (std::size_t k = 0; k < parts.size(); ++k) {
        Samples want;
        for (std::int64_t f = parts[k].start; f < parts[k].end; ++f) {
          const auto* frame = &samples[static_cast<std::size_t>(f * channels)];
          if (channels == 2 && mono) {
            want.push_back(static_cast<std::int16_t>((frame[0] + frame[1]) / 2));
          } else {
            want.insert(want.end(), frame, frame + channels);
          }
        }
        char name[32];
        std::snprintf(name, sizeof name, "/rec_%03zu.wav", k + 1);
        const ParsedWav wav = ParseWav(ReadFile(out + name));
        ASSERT_TRUE(wav.ok) << wav.problem;
        EXPECT_EQ(wav.channels, mono ? 1 : channels);
        EXPECT_EQ(wav.riffSize, wav.fileLength - 8);
        EXPECT_EQ(wav.data, SampleBytes(want)) << name;
      }
    }
  }
}

}  // namespace
}  // namespace corvella::test
