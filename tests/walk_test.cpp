// The walk over a file's parts and the names of the part files.
#include <gtest/gtest.h>

#include "batch/OutputName.h"
#include "support/EngineFixture.h"

namespace corvella::test {
namespace {

using Samples = std::vector<std::int16_t>;

TEST(OutputName, FollowsTheNamingRule) {
  struct Case {
    const char* folder;
    const char* source;
    int part;
    const char* path;
  };
  const Case cases[] = {
      {"/out", "Live Set.wav", 3, "/out/Live Set_003.wav"},
      {"/", "take.b.WAV", 12, "/take.b_012.WAV"},
      {"/out/", "song.wav", 1000, "/out/song_1000.wav"},
      {"/out", "song.wav", 999, "/out/song_999.wav"},
      {"/out", "song.wav", 42, "/out/song_042.wav"},
      {"", "song.wav", 1, "song_001.wav"},
      {"/out", "noextension", 2, "/out/noextension_002"},
      {"/out", ".wav", 1, "/out/_001.wav"},
      {"/out", "trailingdot.", 1, "/out/trailingdot_001."},
      {"/out", "some/folder/name.wav", 5, "/out/name_005.wav"},
      {"/out", "dotted.dir/plain", 5, "/out/plain_005"},
      {"/out", "tr\xC3\xA4" "ck.wav", 7, "/out/tr\xC3\xA4" "ck_007.wav"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BuildOutputPath(c.folder, c.source, c.part), c.path) << c.folder << " + " << c.source;
  }
}

// Loud passages of `length` frames, each followed by `gap` silent frames.
Samples Passages(int channels, int count, std::int64_t length, std::int64_t gap) {
  Samples s;
  for (int p = 0; p < count; ++p) {
    for (std::int64_t f = 0; f < length; ++f) {
      for (int c = 0; c < channels; ++c) {
        s.push_back(static_cast<std::int16_t>(((f * 31 + p * 7 + c) % 2000) + 200));
      }
    }
    s.insert(s.end(), static_cast<std::size_t>(gap * channels), 0);
  }
  return s;
}

Bytes PartBytes(const Samples& all, int channels, std::int64_t start, std::int64_t end) {
  return SampleBytes(Samples(all.begin() + start * channels, all.begin() + end * channels));
}

class Walk : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    out = dir / "out";
    std::filesystem::create_directory(out);
    host.destFolder = out;
  }
  std::string out;
};

TEST_F(Walk, RefusedFileGivesNoPartsAndLeavesProgressAlone) {
  dir.Put("bad.wav", Bytes(100, 0));
  EXPECT_EQ(engine.ProcessParts("bad.wav", out, true), 0);
  EXPECT_TRUE(host.progress.empty());
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{msg::kNotValidWav});
}

TEST_F(Walk, SilentFileHasNoPartsAndIsClosedAfterwards) {
  dir.Put("quiet.wav", SimpleWav(2, Samples(200000, 50)));
  EXPECT_EQ(engine.ProcessParts("quiet.wav", out, true), 0);
  EXPECT_EQ(host.progress.back(), 0);
  EXPECT_EQ(engine.WaveHandle, nullptr);
  EXPECT_TRUE(std::filesystem::is_empty(out));
}

TEST_F(Walk, LoudFileIsOnePartFromStartToEnd) {
  const Samples samples = Passages(1, 1, 100000, 0);
  dir.Put("loud.wav", SimpleWav(1, samples));
  EXPECT_EQ(engine.ProcessParts("loud.wav", out, true), 1);
  EXPECT_EQ(ParseWav(ReadFile(out + "/loud_001.wav")).data, SampleBytes(samples));
}

TEST_F(Walk, PassagesBecomeNumberedPartsWithExactSamples) {
  const std::int64_t length = 70000, gap = 22051;
  const Samples samples = Passages(2, 3, length, gap);
  dir.Put("set.wav", SimpleWav(2, samples));
  EXPECT_EQ(engine.CountParts("set.wav"), 3);
  EXPECT_EQ(engine.ProcessParts("set.wav", out, true), 3);
  for (int p = 0; p < 3; ++p) {
    const std::int64_t start = p * (length + gap);
    const Bytes file = ReadFile(out + "/set_00" + std::to_string(p + 1) + ".wav");
    EXPECT_EQ(ParseWav(file).data, PartBytes(samples, 2, start, start + length)) << p;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), {}), 3);
}

TEST_F(Walk, CountWritesNothing) {
  dir.Put("set.wav", SimpleWav(1, Passages(1, 2, 1000, 30000)));
  EXPECT_EQ(engine.CountParts("set.wav"), 2);
  EXPECT_TRUE(host.written.empty());
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"out", "set.wav"}));
}

TEST_F(Walk, CancelDuringThirdEndSearchKeepsTwoParts) {
  dir.Put("set.wav", SimpleWav(1, Passages(1, 4, 100000, 30000)));
  int pumpsAfterSecond = 0;
  host.onPump = [&] {
    // After the second part: the walk's own pump, the start search's block,
    // then the first block of the third part's end search.
    if (host.written.size() == 2 && ++pumpsAfterSecond == 3) host.cancel = true;
  };
  EXPECT_EQ(engine.ProcessParts("set.wav", out, true), 2);
  EXPECT_EQ(host.written.size(), 2u);
  EXPECT_FALSE(std::filesystem::exists(out + "/set_003.wav"));
  EXPECT_EQ(host.progress.back(), 0);
  EXPECT_EQ(engine.WaveHandle, nullptr);
}

TEST_F(Walk, MoreThan999PartsGetFourDigits) {
  engine.GapThreshold = 1;  // G = 1 frame: two silent frames end a part
  Samples s;
  for (int p = 0; p < 1001; ++p) s.insert(s.end(), {500, 0, 0});
  dir.Put("many.wav", SimpleWav(1, s));
  EXPECT_EQ(engine.ProcessParts("many.wav", out, true), 1001);
  EXPECT_TRUE(std::filesystem::exists(out + "/many_999.wav"));
  EXPECT_EQ(ParseWav(ReadFile(out + "/many_1000.wav")).data, SampleBytes({500}));
  EXPECT_EQ(ParseWav(ReadFile(out + "/many_1001.wav")).data, SampleBytes({500}));
}

TEST_F(Walk, MonoTickedBetweenPartsChangesTheLaterParts) {
  const Samples samples = Passages(2, 2, 1000, 30000);
  dir.Put("pair.wav", SimpleWav(2, samples));
  host.onPump = [&] {
    if (host.written.size() == 1) host.mono = true;
  };
  EXPECT_EQ(engine.ProcessParts("pair.wav", out, true), 2);
  EXPECT_EQ(ParseWav(ReadFile(out + "/pair_001.wav")).channels, 2);
  EXPECT_EQ(ParseWav(ReadFile(out + "/pair_002.wav")).channels, 1);
}

TEST_F(Walk, PartThatCannotBeCreatedStillCountsAndTheWalkGoesOn) {
  dir.Put("set.wav", SimpleWav(1, Passages(1, 3, 1000, 30000)));
  std::filesystem::create_directory(out + "/set_002.wav");  // blocks part 2
  EXPECT_EQ(engine.ProcessParts("set.wav", out, true), 3);
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{msg::kUnableToCreate});
  EXPECT_TRUE(std::filesystem::exists(out + "/set_003.wav"));
}

}  // namespace
}  // namespace corvella::test
