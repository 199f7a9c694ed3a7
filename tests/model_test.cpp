// The scanner against the rule stated plainly, on random recordings whose
// runs of loud and silent frames cluster around the gap, mono and stereo,
// across block edges.
#include "support/Model.h"
#include "support/Fixture.h"

namespace corvella::test {
namespace {

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
