// The boundary scanner where the plain model cannot reach: block edges, the
// floor and amplitude edges, reads past the data, Cancel, progress, the gap
// length at each rate.
#include "detect/Scanner.h"
#include "detect/Units.h"
#include "support/Fixture.h"

namespace corvella::test {
namespace {

Samples WithLoudFrames(int channels, std::int64_t frames,
                       std::initializer_list<std::int64_t> loud) {
  Samples s(static_cast<std::size_t>(frames * channels), 0);
  for (auto f : loud) s[static_cast<std::size_t>(f * channels)] = 1000;
  return s;
}

TEST_F(SourceFixture, FirstLoudFrameOnABlockEdgeIsFoundExactly) {
  for (int channels : {1, 2}) {
    const std::int64_t edge = 65536 / channels;
    for (std::int64_t loud : {std::int64_t{0}, edge - 1, edge, 2 * edge + 1}) {
      auto source = Open(SimpleWav(channels, WithLoudFrames(channels, 3 * edge, {loud})));
      detect::Scanner scanner(*source, params, progress);
      bool endOfData = false;
      EXPECT_EQ(scanner.FindPartStart(0, endOfData), loud) << channels;
      EXPECT_FALSE(endOfData);
    }
  }
}

TEST_F(SourceFixture, FloorComparisonIsStrictWithThirtyTwoBitAmplitudes) {
  struct Case {
    int floor;
    std::int16_t left, right;
    bool loud;
  };
  for (Case c :
       {Case{104, 104, -104, false}, Case{104, 105, 0, true}, Case{104, 0, -105, true},
        Case{32767, -32768, 0, true}, Case{32767, 32767, -32767, false}, Case{1, 1, -1, false}}) {
    Samples s(20, 0);
    s[10] = c.left;
    s[11] = c.right;
    auto source = Open(SimpleWav(2, s));
    params.noiseFloor = c.floor;
    detect::Scanner scanner(*source, params, progress);
    bool endOfData = false;
    EXPECT_EQ(scanner.FindPartStart(0, endOfData), c.loud ? 5 : 10) << c.floor << " " << c.left;
  }
}

TEST_F(SourceFixture, BytesAfterTheDataAreJudgedButResultsStopAtTheFrameCount) {
  const Bytes loudChunk(40, 0x7F);
  params.gapThreshold = 100;
  bool endOfData = false;
  std::int64_t scan = 0;
  // A part running into a loud chunk after the data ends at the frame count...
  auto source =
      Open(WavBuilder().Fmt(1).Data(WithLoudFrames(1, 50, {10})).Chunk("LIST", loudChunk).Build());
  detect::Scanner scanner(*source, params, progress);
  EXPECT_EQ(scanner.FindPartEnd(10, scan, endOfData), 50);
  EXPECT_TRUE(endOfData);
  // ...and one starting there is no part at all.
  endOfData = false;
  auto silent =
      Open(WavBuilder().Fmt(2).Data(Samples(100, 0)).Chunk("LIST", loudChunk).Build(), "b.wav");
  detect::Scanner second(*silent, params, progress);
  EXPECT_EQ(second.FindPartStart(0, endOfData), 50);
  EXPECT_TRUE(endOfData);
}

TEST_F(SourceFixture, ProgressAndCancelComeOncePerBlock) {
  auto source = Open(SimpleWav(1, Samples(100000, 104)));
  detect::Scanner scanner(*source, params, progress);
  bool endOfData = false;
  EXPECT_EQ(scanner.FindPartStart(0, endOfData), 100000);
  EXPECT_EQ(progress.reports, (std::vector<int>{65, 100, 100}));  // two blocks, then the empty read
  EXPECT_EQ(progress.pumps, 3);

  auto loud = Open(SimpleWav(1, Samples(300000, 1000)), "loud.wav");
  detect::Scanner second(*loud, params, progress);
  progress.onPump = [&] { progress.cancel = true; };
  progress.pumps = 0;
  endOfData = false;
  std::int64_t scan = 0;
  EXPECT_EQ(second.FindPartEnd(0, scan, endOfData), 65537);  // stops after its first block
  EXPECT_EQ(scan, 65537);
  EXPECT_EQ(progress.pumps, 1);
  EXPECT_FALSE(endOfData);
}

TEST_F(SourceFixture, ClicksAreSilenceOnlyWhenAskedAndOnlyWhenShortAndAlone) {
  // Two passages 1 s apart, a 2 ms click every 0.3 s between them, and a
  // 20 ms tap, which is no click.
  Samples s(44100 * 4, 0);
  auto loud = [&](int from, int frames, std::int16_t level) {
    for (int f = from; f < from + frames; ++f)
      s[static_cast<std::size_t>(f)] = static_cast<std::int16_t>(f % 2 ? level : -level);
  };
  loud(0, 44100, 3000);
  for (int f = 44100 + 13230; f < 2 * 44100 + 30000; f += 13230) loud(f, 88, 8000);
  loud(2 * 44100 + 44100, 44100, 3000);
  auto source = Open(SimpleWav(1, s));
  EXPECT_EQ(Walk(*source).size(), 1u);  // the clicks bridge the pause
  params.ignoreClicksMs = 5;
  const std::vector<PartSpan> declicked = Walk(*source);
  ASSERT_EQ(declicked.size(), 2u);
  EXPECT_EQ(declicked[0], (PartSpan{0, 44100}));
  EXPECT_EQ(declicked[1], (PartSpan{3 * 44100, 4 * 44100}));
  loud(44100 + 22050, 882, 8000);  // a tap of 20 ms, half a second on
  auto tapped = Open(SimpleWav(1, s), "tap.wav");
  EXPECT_EQ(Walk(*tapped),
            (std::vector<PartSpan>{{0, 44100 + 22050 + 882}, {3 * 44100, 4 * 44100}}));
  // A stray byte after the last whole frame is no read failure.
  Bytes odd = WavBuilder()
                  .Fmt(1)
                  .Chunk("data",
                         [&] {
                           Bytes data = SampleBytes(s);
                           data.push_back(1);
                           return data;
                         }())
                  .Build();
  auto source2 = Open(odd, "odd.wav", wave::Acceptance::AnyWave);
  EXPECT_EQ(Walk(*source2).size(), 2u);
}

TEST(GapFrames, FollowTheSampleRate) {
  for (auto [rate, gap] : {std::pair<std::int64_t, std::int64_t>{44100, 22050},
                           {32000, 22050},
                           {22050, 11025},
                           {11025, 5512},
                           {8000, 4410},
                           {1, 0},
                           {48000, 24000},
                           {96000, 48000},
                           {0, 22050}}) {
    EXPECT_EQ(detect::GapFrames(22050, rate), gap) << rate << " Hz";
  }
}

}  // namespace
}  // namespace corvella::test
