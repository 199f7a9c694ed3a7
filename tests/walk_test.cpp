// The walk over a file's parts and the names of the part files.
#include "batch/OutputName.h"
#include "support/Fixture.h"

namespace corvella::test {
namespace {

TEST(OutputName, FollowsTheNamingRule) {
  const char* cases[][4] = {
      {"/out", "Live Set.wav", "3", "/out/Live Set_003.wav"},
      {"/", "take.b.WAV", "12", "/take.b_012.WAV"},
      {"/out/", "song.wav", "1000", "/out/song_1000.wav"},
      {"", "song.wav", "1", "song_001.wav"},
      {"/out", "noextension", "2", "/out/noextension_002"},
      {"/out", ".wav", "1", "/out/_001.wav"},
      {"/out", "some/folder/name.wav", "5", "/out/name_005.wav"},
      {"/out", "dotted.dir/plain", "5", "/out/plain_005"},
  };
  for (auto& c : cases) EXPECT_EQ(batch::BuildOutputPath(c[0], c[1], std::stoi(c[2])), c[3]);
}

// Loud passages of `length` frames, each followed by `gap` silent frames.
Samples Passages(int count, std::int64_t length, std::int64_t gap) {
  Samples s;
  for (int p = 0; p < count; ++p) {
    for (std::int64_t f = 0; f < length; ++f)
      s.push_back(static_cast<std::int16_t>((f * 31 + p) % 2000 + 200));
    s.insert(s.end(), static_cast<std::size_t>(gap), 0);
  }
  return s;
}

TEST_F(SourceFixture, PassagesBecomeNumberedPartsAndCancelDropsThePartUnderWay) {
  const Samples samples = Passages(4, 100000, 30000);
  dir.Put("set.wav", SimpleWav(1, samples));
  std::filesystem::create_directory(dir / "out");
  EXPECT_EQ(Count("set.wav"), 4);
  EXPECT_TRUE(written.empty());
  int pumpsAfterSecond = 0;
  progress.onPump = [&] {
    // The walk's own pump, the start search's block, then the first block
    // of the third part's end search.
    if (written.size() == 2 && ++pumpsAfterSecond == 3) progress.cancel = true;
  };
  EXPECT_EQ(Split("set.wav", dir / "out", true), 2);
  EXPECT_EQ(dir.Names("out"), (std::vector<std::string>{"set_001.wav", "set_002.wav"}));
  EXPECT_EQ(PartData(dir / "out/set_002.wav"),
            SampleBytes(Samples(samples.begin() + 130000, samples.begin() + 230000)));
  EXPECT_EQ(progress.reports.back(), 0);
}

TEST_F(SourceFixture, MoreThan999PartsGetFourDigits) {
  params.gapThreshold = 1;  // two silent frames end a part
  Samples s;
  for (int p = 0; p < 1001; ++p) s.insert(s.end(), {500, 0, 0});
  dir.Put("many.wav", SimpleWav(1, s));
  EXPECT_EQ(Split("many.wav", dir.path(), true), 1001);
  EXPECT_EQ(PartData(dir / "many_999.wav"), SampleBytes({500}));
  EXPECT_EQ(PartData(dir / "many_1001.wav"), SampleBytes({500}));
}

}  // namespace
}  // namespace corvella::test
