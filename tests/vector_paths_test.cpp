// The vectorised inner loops against one-sample-at-a-time versions: every
// length around the chunk sizes, every alignment, the floors at their edges.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "detect/LoudScan.h"
#include "wave/MonoMix.h"

namespace corvella {
namespace {

bool PlainLoud(std::int16_t x, int floor) { return std::abs(static_cast<std::int32_t>(x)) > floor; }

std::size_t PlainFirst(const std::int16_t* s, std::size_t n, int floor) {
  for (std::size_t i = 0; i < n; ++i) {
    if (PlainLoud(s[i], floor)) return i;
  }
  return n;
}

std::size_t PlainLast(const std::int16_t* s, std::size_t n, int floor) {
  for (std::size_t i = n; i > 0; --i) {
    if (PlainLoud(s[i - 1], floor)) return i - 1;
  }
  return n;
}

TEST(LoudScan, AgreesWithThePlainTestOnEveryLengthAndAlignment) {
  std::mt19937 random(7);
  const int floors[] = {-1, 0, 1, 104, 328, 32766, 32767, 32768, 40000};
  for (int floor : floors) {
    std::vector<std::int16_t> base(700);
    for (std::size_t n = 0; n < 600; n += (n < 300 ? 1 : 7)) {
      for (std::size_t align = 0; align < 3; ++align) {
        // Mostly silent samples right at the floor, a few loud ones at the edge.
        for (auto& v : base) {
          const int edge = std::min(floor < 0 ? 0 : floor, 32767);
          const int pick = static_cast<int>(random() % 400);
          v = static_cast<std::int16_t>(pick == 0   ? edge + (edge < 32767 ? 1 : 0)
                                        : pick == 1 ? -32768
                                        : pick == 2 ? -edge - (edge < 32767 ? 1 : 0)
                                        : pick < 200 ? edge
                                                     : -edge);
        }
        const std::int16_t* s = base.data() + align;
        ASSERT_EQ(FirstLoudSample(s, n, floor), PlainFirst(s, n, floor)) << floor << " " << n;
        ASSERT_EQ(LastLoudSample(s, n, floor), PlainLast(s, n, floor)) << floor << " " << n;
      }
    }
  }
}

TEST(LoudScan, FindsASingleLoudSampleAnywhereInABlock) {
  std::vector<std::int16_t> block(65536, 104);
  for (std::size_t at : {std::size_t{0}, std::size_t{1}, std::size_t{127}, std::size_t{128},
                         std::size_t{32767}, std::size_t{65535}}) {
    block[at] = -105;
    EXPECT_EQ(FirstLoudSample(block.data(), block.size(), 104), at);
    EXPECT_EQ(LastLoudSample(block.data(), block.size(), 104), at);
    block[at] = 104;
  }
}

TEST(MonoMix, AgreesWithThePlainMixForEveryLength) {
  std::mt19937 random(11);
  for (std::size_t frames = 0; frames < 1100; frames += (frames < 600 ? 1 : 13)) {
    std::vector<std::int16_t> stereo(2 * frames);
    for (auto& v : stereo) {
      const int pick = static_cast<int>(random() % 8);
      v = static_cast<std::int16_t>(pick == 0 ? -32768 : pick == 1 ? 32767 : random());
    }
    std::vector<std::int16_t> want(frames);
    for (std::size_t i = 0; i < frames; ++i) {
      want[i] = static_cast<std::int16_t>((stereo[2 * i] + stereo[2 * i + 1]) / 2);
    }
    MixToMono(stereo.data(), frames);
    ASSERT_TRUE(std::equal(want.begin(), want.end(), stereo.begin())) << frames << " frames";
  }
}

}  // namespace
}  // namespace corvella
