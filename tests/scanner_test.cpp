// The boundary scanner on synthesised recordings: block edges, the floor
// and gap comparisons, reads past the data, Cancel and progress.
#include <gtest/gtest.h>

#include "support/EngineFixture.h"
#include "support/FaultyFiles.h"

namespace corvella::test {
namespace {

using Samples = std::vector<std::int16_t>;

// `frames` silent frames with loud ones at the given indices.
Samples WithLoudFrames(int channels, std::int64_t frames, std::initializer_list<std::int64_t> loud,
                       std::int16_t level = 1000) {
  Samples s(static_cast<std::size_t>(frames * channels), 0);
  for (auto f : loud) s[static_cast<std::size_t>(f * channels)] = level;
  return s;
}

class Scanner : public EngineFixture {};

TEST_F(Scanner, FirstLoudFrameOnABlockEdgeIsFoundExactly) {
  for (int channels : {1, 2}) {
    const std::int64_t edge = 65536 / channels;
    for (std::int64_t loud : {std::int64_t{0}, edge - 1, edge, edge + 1, 2 * edge}) {
      ASSERT_TRUE(Open(SimpleWav(channels, WithLoudFrames(channels, 3 * edge, {loud}))));
      bool endOfData = false;
      EXPECT_EQ(engine.FindPartStart(0, endOfData), loud) << channels << " channels";
      EXPECT_FALSE(endOfData);
      engine.CloseWave();
    }
  }
}

TEST_F(Scanner, SilentToTheEndReadsUntilNothingIsLeft) {
  ASSERT_TRUE(Open(SimpleWav(1, Samples(100000, 104))));
  bool endOfData = false;
  EXPECT_EQ(engine.FindPartStart(0, endOfData), 100000);
  EXPECT_TRUE(endOfData);
  // Two blocks with samples, then the empty read; progress and pump after each.
  EXPECT_EQ(host.progress, (std::vector<int>{65, 100, 100}));
  EXPECT_EQ(host.pumps, 3);
}

TEST_F(Scanner, FloorComparisonIsStrictAndUsesThirtyTwoBitAmplitude) {
  struct Case {
    int floor;
    std::int16_t left, right;
    bool loud;
  };
  const Case cases[] = {
      {104, 104, 0, false},   {104, 105, 0, true},    {104, -104, 0, false},
      {104, -105, 0, true},   {104, 0, 105, true},    {104, 0, -105, true},
      {104, 0, 104, false},   {32767, -32768, 0, true}, {32767, 0, -32768, true},
      {32767, 32767, -32767, false}, {1, 1, -1, false}, {1, 2, 0, true},
  };
  for (const Case& c : cases) {
    Samples s(20, 0);
    s[10] = c.left;
    s[11] = c.right;
    ASSERT_TRUE(Open(SimpleWav(2, s)));
    engine.NoiseFloor = c.floor;
    bool endOfData = false;
    EXPECT_EQ(engine.FindPartStart(0, endOfData), c.loud ? 5 : 10)
        << "floor " << c.floor << " frame " << c.left << "," << c.right;
    engine.CloseWave();
  }
}

TEST_F(Scanner, GapOfExactlyGFramesDoesNotEndAPart) {
  engine.GapThreshold = 10;  // G = 10 frames at 44100 Hz
  ASSERT_TRUE(Open(SimpleWav(1, WithLoudFrames(1, 100, {5, 16, 30}))));
  // 5 and 16 have 10 silent frames between them; 16 and 30 have 13.
  EXPECT_EQ(Walk(), (std::vector<std::pair<std::int64_t, std::int64_t>>{{5, 17}, {30, 31}}));
}

TEST_F(Scanner, GapOfGPlusOneEndsThePartAndScanResumesAtTheNextLoudFrame) {
  engine.GapThreshold = 10;
  ASSERT_TRUE(Open(SimpleWav(1, WithLoudFrames(1, 100, {5, 17}))));
  bool endOfData = false;
  std::int64_t scan = -1;
  EXPECT_EQ(engine.FindPartEnd(5, scan, endOfData), 6);
  EXPECT_EQ(scan, 17);  // e + G + 1: the first loud frame of the next passage
  EXPECT_FALSE(endOfData);
}

TEST_F(Scanner, GapSpanningBlocksIsCountedAcrossTheEdge) {
  for (int channels : {1, 2}) {
    const std::int64_t edge = 65536 / channels;
    engine.GapThreshold = 44100;  // G = 44100 frames, longer than a stereo block
    const std::int64_t first = edge - 100, second = first + 44101, third = second + 44102;
    ASSERT_TRUE(Open(SimpleWav(channels, WithLoudFrames(channels, third + 10, {first, second, third}))));
    // first..second: exactly G silent frames between them; second..third: G + 1.
    EXPECT_EQ(Walk(), (std::vector<std::pair<std::int64_t, std::int64_t>>{
                          {first, second + 1}, {third, third + 1}}))
        << channels << " channels";
    engine.CloseWave();
  }
}

TEST_F(Scanner, PartRunningToTheEndStopsAtItsLastLoudFrame) {
  engine.GapThreshold = 100;
  ASSERT_TRUE(Open(SimpleWav(2, WithLoudFrames(2, 1000, {10, 900}))));
  bool endOfData = false;
  std::int64_t scan = 0;
  EXPECT_EQ(engine.FindPartEnd(10, scan, endOfData), 11);
  EXPECT_FALSE(endOfData);
  EXPECT_EQ(engine.FindPartEnd(900, scan, endOfData), 901);  // 99 silent frames trail it
  EXPECT_TRUE(endOfData);
}

TEST_F(Scanner, PartStartingOnTheLastFrameEndsAtTheFrameCount) {
  ASSERT_TRUE(Open(SimpleWav(1, WithLoudFrames(1, 50, {49}))));
  bool endOfData = false;
  std::int64_t scan = 0;
  EXPECT_EQ(engine.FindPartStart(0, endOfData), 49);
  EXPECT_EQ(engine.FindPartEnd(49, scan, endOfData), 50);
  EXPECT_TRUE(endOfData);
}

TEST_F(Scanner, LoudBytesAfterTheDataClampEndToTheFrameCount) {
  engine.GapThreshold = 100;
  const Bytes loudChunk(40, 0x7F);
  ASSERT_TRUE(Open(WavBuilder().Fmt(1).Data(WithLoudFrames(1, 50, {10})).Chunk("LIST", loudChunk).Build()));
  bool endOfData = false;
  std::int64_t scan = 0;
  // The end search reads on into the LIST chunk, finds it loud and is brought back.
  EXPECT_EQ(engine.FindPartEnd(10, scan, endOfData), 50);
  EXPECT_TRUE(endOfData);
}

TEST_F(Scanner, LoudBytesAfterSilentDataStartNoPart) {
  const Bytes loudChunk(40, 0x7F);
  ASSERT_TRUE(Open(WavBuilder().Fmt(2).Data(Samples(100, 0)).Chunk("LIST", loudChunk).Build()));
  bool endOfData = false;
  EXPECT_EQ(engine.FindPartStart(0, endOfData), 50);
  EXPECT_TRUE(endOfData);
}

TEST_F(Scanner, LoudBytesInAPartialTrailingFrameStartNoPart) {
  Bytes data = SampleBytes(Samples(4, 0));  // two silent stereo frames...
  data.push_back(0xFF);                     // ...and three bytes of a loud one
  data.push_back(0x7F);
  data.push_back(0x00);
  ASSERT_TRUE(Open(WavBuilder().Fmt(2).Chunk("data", data).Build()));
  bool endOfData = false;
  EXPECT_EQ(engine.FindPartStart(0, endOfData), 2);
  EXPECT_TRUE(endOfData);
}

TEST_F(Scanner, CancelStopsASearchAfterTheBlockInProgress) {
  ASSERT_TRUE(Open(SimpleWav(1, Samples(300000, 0))));
  host.onPump = [&] { host.cancel = true; };
  bool endOfData = false;
  EXPECT_EQ(engine.FindPartStart(0, endOfData), 65536);
  EXPECT_FALSE(endOfData);
  EXPECT_EQ(host.pumps, 1);
  EXPECT_EQ(host.progress, std::vector<int>{21});

  engine.CloseWave();
  ASSERT_TRUE(Open(SimpleWav(1, Samples(300000, 1000)), "loud.wav"));
  std::int64_t scan = 0;
  host.pumps = 0;
  EXPECT_EQ(engine.FindPartEnd(0, scan, endOfData), 65537);
  EXPECT_EQ(scan, 65537);
  EXPECT_FALSE(endOfData);
  EXPECT_EQ(host.pumps, 1);
}

TEST_F(Scanner, BlockThatCannotBeReadEndsTheSearchAndCountsForNothing) {
  dir.Put("in.wav", SimpleWav(1, WithLoudFrames(1, 300000, {100000, 200000})));
  FaultyFiles files;
  files.failReadsAfter = 4096 + 16 + 131072 + 1000;  // the header, one block, then a fault
  Engine faulty(host, files);
  faulty.NoiseFloor = 104;
  faulty.GapThreshold = 100;
  ASSERT_TRUE(faulty.OpenWave("in.wav"));
  bool endOfData = false;
  EXPECT_EQ(faulty.FindPartStart(0, endOfData), 65536);
  EXPECT_TRUE(endOfData);
}

TEST_F(Scanner, EndSearchBlockThatCannotBeReadKeepsWhatWasJudgedBefore) {
  Samples loud(300000, 1000);
  dir.Put("in.wav", SimpleWav(1, loud));
  FaultyFiles files;
  Engine faulty(host, files);
  faulty.NoiseFloor = 104;
  ASSERT_TRUE(faulty.OpenWave("in.wav"));
  files.failReadsAfter = files.read + 3 * 4096;  // a few fetches of the first block, then a fault
  faulty.GapThreshold = 10;  // many stretches per block
  bool endOfData = false;
  std::int64_t scan = 0;
  EXPECT_EQ(faulty.FindPartEnd(0, scan, endOfData), 1);
  EXPECT_EQ(scan, 1);
  EXPECT_TRUE(endOfData);
}

TEST_F(Scanner, GapLengthFollowsTheSampleRate) {
  const std::pair<std::uint32_t, std::int64_t> rates[] = {
      {44100, 22050}, {32000, 22050}, {22050, 11025}, {16000, 11025}, {11025, 5512},
      {8000, 4410},   {1, 0},         {48000, 24000}, {96000, 48000}, {0, 22050},
  };
  for (auto [rate, gap] : rates) {
    ASSERT_TRUE(Open(WavBuilder().Fmt(1, rate).Data(Samples(4, 0)).Build()));
    EXPECT_EQ(engine.GapFrames(), gap) << rate << " Hz";
    engine.CloseWave();
  }
}

TEST_F(Scanner, DataShorterThanAFrameShowsNoProgress) {
  ASSERT_TRUE(Open(WavBuilder().Fmt(2).Chunk("data", Bytes{1, 2}).Build()));
  bool endOfData = false;
  EXPECT_EQ(engine.FindPartStart(0, endOfData), 0);
  EXPECT_TRUE(endOfData);
  EXPECT_EQ(host.progress, (std::vector<int>{0, 0}));
}

}  // namespace
}  // namespace corvella::test
