// The units users set the detection in, and the plan that widens parts
// into the silence around them: the rules the command line, the window
// and a stream share, on their own.
#include <gtest/gtest.h>

#include <random>

#include "batch/Plan.h"
#include "cli/Listing.h"
#include "detect/Units.h"

namespace corvella::test {
namespace {

TEST(Conversions, DecibelsSecondsAndCueTimesAtTheirEdges) {
  EXPECT_EQ(detect::NoiseFloorFromDb(-50.0), 104);  // the window's default
  EXPECT_EQ(detect::NoiseFloorFromDb(-40.0), 328);  // -39.99 is nearer than -40.02
  EXPECT_EQ(detect::NoiseFloorFromDb(-120.0), 1);
  EXPECT_EQ(detect::NoiseFloorFromDb(0.0), 32767);
  for (int n = 1; n <= 32767; n += 37)
    EXPECT_EQ(detect::NoiseFloorFromDb(detect::AmplitudeDb(n)), n);
  EXPECT_EQ(detect::GapThresholdFromSeconds(0.5), 22050);
  EXPECT_EQ(detect::GapThresholdFromSeconds(0.000001), 1);
  EXPECT_EQ(cli::CueTime(61.0 + 74.9 / 75), "01:01:74");
  EXPECT_EQ(cli::CueTime(7200.5), "120:00:37");
}

TEST(Plan, PaddedPartsStayInTheirHalfOfEachGapAndHoldTheirFrames) {
  // A short part goes; its neighbours meet at the middle of what is now one gap.
  EXPECT_EQ(
      batch::PlanParts({{100, 200}, {250, 260}, {300, 500}, {900, 1000}}, 1100, {50, 150, 1000}),
      (std::vector<detect::PartSpan>{{0, 250}, {250, 700}, {750, 1100}}));
  std::mt19937 random(3);
  for (int round = 0; round < 2000; ++round) {
    std::vector<detect::PartSpan> parts;
    std::int64_t at = random() % 50;
    for (int k = 0; k < 1 + static_cast<int>(random() % 6); ++k) {
      const std::int64_t start = at + random() % 40 + (k ? 1 : 0);
      parts.push_back({start, at = start + 1 + random() % 60});
    }
    const std::int64_t frames = at + random() % 50;
    const batch::PlanOptions o{static_cast<std::int64_t>(random() % 30),
                               static_cast<std::int64_t>(random() % 80),
                               static_cast<std::int64_t>(random() % 80)};
    const auto planned = batch::PlanParts(parts, frames, o);
    std::size_t next = 0;
    for (const detect::PartSpan& part : parts) {
      if (part.end - part.start < o.minFrames) continue;
      const detect::PartSpan& p = planned.at(next++);
      ASSERT_TRUE(p.start <= part.start && part.start - p.start <= o.padBefore && p.start >= 0);
      ASSERT_TRUE(p.end >= part.end && p.end - part.end <= o.padAfter && p.end <= frames);
      ASSERT_TRUE(next == 1 || planned[next - 2].end <= p.start);
    }
    ASSERT_EQ(next, planned.size());
  }
}

}  // namespace
}  // namespace corvella::test
