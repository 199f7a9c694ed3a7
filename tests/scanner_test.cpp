// The boundary scanner where the plain model cannot reach: block edges, the
// floor and amplitude edges, reads past the data, Cancel, progress, the gap
// length at each rate.
#include "support/EngineFixture.h"

namespace corvella::test {
namespace {

Samples WithLoudFrames(int channels, std::int64_t frames, std::initializer_list<std::int64_t> loud) {
  Samples s(static_cast<std::size_t>(frames * channels), 0);
  for (auto f : loud) s[static_cast<std::size_t>(f * channels)] = 1000;
  return s;
}

TEST_F(EngineFixture, FirstLoudFrameOnABlockEdgeIsFoundExactly) {
  for (int channels : {1, 2}) {
    const std::int64_t edge = 65536 / channels;
    for (std::int64_t loud : {std::int64_t{0}, edge - 1, edge, 2 * edge + 1}) {
      ASSERT_TRUE(Open(SimpleWav(channels, WithLoudFrames(channels, 3 * edge, {loud}))));
      bool endOfData = false;
      EXPECT_EQ(engine.FindPartStart(0, endOfData), loud) << channels;
      EXPECT_FALSE(endOfData);
      engine.CloseWave();
    }
  }
}

TEST_F(EngineFixture, FloorComparisonIsStrictWithThirtyTwoBitAmplitudes) {
  struct Case {
    int floor;
    std::int16_t left, right;
    bool loud;
  };
  for (Case c : {Case{104, 104, -104, false}, Case{104, 105, 0, true}, Case{104, 0, -105, true},
                 Case{32767, -32768, 0, true}, Case{32767, 32767, -32767, false}, Case{1, 1, -1, false}}) {
    Samples s(20, 0);
    s[10] = c.left;
    s[11] = c.right;
    ASSERT_TRUE(Open(SimpleWav(2, s)));
    engine.NoiseFloor = c.floor;
    bool endOfData = false;
    EXPECT_EQ(engine.FindPartStart(0, endOfData), c.loud ? 5 : 10) << c.floor << " " << c.left;
    engine.CloseWave();
  }
}

TEST_F(EngineFixture, BytesAfterTheDataAreJudgedButResultsStopAtTheFrameCount) {
  const Bytes loudChunk(40, 0x7F);
  engine.GapThreshold = 100;
  bool endOfData = false;
  std::int64_t scan = 0;
  // A part running into a loud chunk after the data ends at the frame count...
  ASSERT_TRUE(Open(WavBuilder().Fmt(1).Data(WithLoudFrames(1, 50, {10})).Chunk("LIST", loudChunk).Build()));
  EXPECT_EQ(engine.FindPartEnd(10, scan, endOfData), 50);
  EXPECT_TRUE(endOfData);
  engine.CloseWave();
  // ...and one starting there is no part at all.
  endOfData = false;
  ASSERT_TRUE(Open(WavBuilder().Fmt(2).Data(Samples(100, 0)).Chunk("LIST", loudChunk).Build()));
  EXPECT_EQ(engine.FindPartStart(0, endOfData), 50);
  EXPECT_TRUE(endOfData);
}

TEST_F(EngineFixture, ProgressAndCancelComeOncePerBlock) {
  ASSERT_TRUE(Open(SimpleWav(1, Samples(100000, 104))));
  bool endOfData = false;
  EXPECT_EQ(engine.FindPartStart(0, endOfData), 100000);
  EXPECT_EQ(host.progress, (std::vector<int>{65, 100, 100}));  // two blocks, then the empty read
  EXPECT_EQ(host.pumps, 3);

  ASSERT_TRUE(Open(SimpleWav(1, Samples(300000, 1000)), "loud.wav"));
  host.onPump = [&] { host.cancel = true; };
  host.pumps = 0;
  endOfData = false;
  std::int64_t scan = 0;
  EXPECT_EQ(engine.FindPartEnd(0, scan, endOfData), 65537);  // stops after its first block
  EXPECT_EQ(scan, 65537);
  EXPECT_EQ(host.pumps, 1);
  EXPECT_FALSE(endOfData);
}

TEST_F(EngineFixture, GapLengthFollowsTheSampleRate) {
  for (auto [rate, gap] : {std::pair<std::uint32_t, std::int64_t>{44100, 22050}, {32000, 22050},
                           {22050, 11025}, {11025, 5512}, {8000, 4410}, {1, 0}, {48000, 24000},
                           {96000, 48000}, {0, 22050}}) {
    ASSERT_TRUE(Open(WavBuilder().Fmt(1, rate).Data(Samples(4, 0)).Build()));
    EXPECT_EQ(engine.GapFrames(), gap) << rate << " Hz";
    engine.CloseWave();
  }
}

}  // namespace
}  // namespace corvella::test
