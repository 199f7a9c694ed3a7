// The scanner against the rule stated plainly, on random recordings whose
// runs of loud and silent frames cluster around the gap, mono and stereo,
// across block edges.
#include <random>

#include "support/Fixture.h"
#include "support/Model.h"

namespace corvella::test {
namespace {

Samples RandomRecording(std::mt19937& random, int channels, std::int64_t frames, int floor,
                        std::int64_t gap) {
  Samples s;
  std::uniform_int_distribution<int> coin(0, 9), quiet(-floor, floor);
  std::uniform_int_distribution<std::int64_t> near(-2, 2), any(1, 3 * gap + 3);
  for (bool loud = coin(random) < 5; static_cast<std::int64_t>(s.size()) < frames * channels;
       loud = !loud) {
    const std::int64_t run =
        coin(random) < 6 ? std::max<std::int64_t>(1, gap + near(random)) : any(random);
    for (std::int64_t i = 0;
         i < run * channels && static_cast<std::int64_t>(s.size()) < frames * channels; ++i) {
      // Loud runs have holes; their loud samples sit just above the floor.
      const int pick = coin(random);
      s.push_back(static_cast<std::int16_t>(!loud || pick >= 4 ? quiet(random)
                                            : pick == 0        ? -32768
                                            : pick < 2         ? floor + 1
                                                               : -floor - 1));
    }
  }
  return s;
}

class AgainstModel : public SourceFixture,
                     public ::testing::WithParamInterface<std::tuple<int, int>> {};

TEST_P(AgainstModel, PartsMatchOnRandomRecordings) {
  const auto [channels, gap] = GetParam();
  std::mt19937 random(static_cast<unsigned>(channels * 1000003 + gap));
  for (int round = 0; round < 6; ++round) {
    const int floor = std::uniform_int_distribution<int>(1, 3000)(random);
    const auto frames = std::uniform_int_distribution<std::int64_t>(1, 200000)(random);
    const Samples samples = RandomRecording(random, channels, frames, floor, gap);
    auto source = Open(SimpleWav(channels, samples));
    params.noiseFloor = floor;
    params.gapThreshold = gap;
    std::vector<PartSpan> want;
    for (const Span& span : ModelParts(samples, channels, floor, gap))
      want.push_back({span.start, span.end});
    EXPECT_EQ(Walk(*source), want) << frames << " frames, floor " << floor;
  }
}

INSTANTIATE_TEST_SUITE_P(Gaps, AgainstModel,
                         ::testing::Combine(::testing::Values(1, 2),
                                            ::testing::Values(1, 2, 7, 64, 1000, 40000)));

}  // namespace
}  // namespace corvella::test
