// Opening and validating source recordings: every refusal in its order, and
// the chunk layouts that must be accepted.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/ChildLock.h"
#include "support/EngineFixture.h"

namespace corvella::test {
namespace {

const std::vector<std::int16_t> kFewSamples{1, -2, 3, -4, 5, -6, 7, -8};

struct Refusal {
  const char* name;
  Bytes file;
  const char* message;
};

std::vector<Refusal> Refusals() {
  const Bytes data = SampleBytes(kFewSamples);
  Bytes notRiff = WavBuilder().Fmt(1).Data(kFewSamples).Build();
  notRiff[0] = 'R', notRiff[1] = 'I', notRiff[2] = 'F', notRiff[3] = 'X';
  Bytes notWave = WavBuilder().Fmt(1).Data(kFewSamples).Build();
  notWave[8] = 'A', notWave[9] = 'V', notWave[10] = 'I', notWave[11] = ' ';
  Bytes fmtCut = WavBuilder().RawChunk("fmt ", 100, FormatBody(1, 1, 44100, 16)).Build();
  Bytes oneShort = WavBuilder().Fmt(1).Data(kFewSamples).Build();
  oneShort.pop_back();
  return {
      {"EmptyFile", {}, msg::kNotValidWav},
      {"RiffWithAnotherId", notRiff, msg::kNotValidWav},
      {"RiffOfAnotherForm", notWave, msg::kNotValidWav},
      {"NoFmtChunk", WavBuilder().Data(kFewSamples).Build(), msg::kNoFmtChunk},
      {"FmtOf14Bytes", WavBuilder().Chunk("fmt ", Bytes(14, 0)).Data(kFewSamples).Build(), msg::kUnknownFmt},
      {"FmtRunsPastTheFile", fmtCut, msg::kFmtUnreadable},
      {"FmtOf4GiBDeclared", WavBuilder().RawChunk("fmt ", 0xFFFFFFFFu, FormatBody(1, 1, 44100, 16)).Build(), msg::kFmtUnreadable},
      {"EightBitPcm", WavBuilder().Chunk("fmt ", FormatBody(1, 1, 44100, 8)).Data(kFewSamples).Build(), msg::kNot16Bits},
      {"FloatSamples", WavBuilder().Chunk("fmt ", FormatBody(3, 2, 44100, 32)).Data(kFewSamples).Build(), msg::kNot16Bits},
      {"SixteenBitNotPcm", WavBuilder().Chunk("fmt ", FormatBody(3, 2, 44100, 16)).Data(kFewSamples).Build(), msg::kNotPcm},
      {"SixChannels", WavBuilder().Chunk("fmt ", FormatBody(1, 6, 44100, 16)).Data(kFewSamples).Build(), msg::kNotMonoStereo},
      {"NoChannels", WavBuilder().Chunk("fmt ", FormatBody(1, 0, 44100, 16)).Data(kFewSamples).Build(), msg::kNotMonoStereo},
      {"NoDataChunk", WavBuilder().Fmt(1).Chunk("LIST", Bytes(10, 'x')).Build(), msg::kNoDataChunk},
      {"DataBeforeFmt", WavBuilder().Data(kFewSamples).Fmt(1).Build(), msg::kNoDataChunk},
      {"EmptyData", WavBuilder().Fmt(1).Chunk("data", {}).Build(), msg::kEmptyData},
      {"DataOneByteShort", oneShort, msg::kDataSizeWrong},
      {"DataOfLargestSize", WavBuilder().Fmt(2).RawChunk("data", 0xFFFFFFFFu, data).Build(), msg::kDataSizeWrong},
      {"RiffSmallerThanItsChunks", WavBuilder().Fmt(1).Data(kFewSamples).Build(28), msg::kNoDataChunk},
  };
}

class Refused : public EngineFixture, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refused, ShowsItsMessageAndHoldsNothing) {
  EXPECT_FALSE(Open(GetParam().file));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, GetParam().message);
  EXPECT_EQ(host.messages[0].caption, "Error");
  EXPECT_EQ(engine.WaveHandle, nullptr);
  EXPECT_EQ(engine.WaveFormat, nullptr);
  EXPECT_EQ(engine.WaveFileName, "in.wav");
}

INSTANTIATE_TEST_SUITE_P(SourceChecks, Refused, ::testing::ValuesIn(Refusals()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineFixture, MissingFileCannotBeOpened) {
  EXPECT_FALSE(engine.OpenWave("absent.wav"));
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{msg::kUnableToOpen});
}

TEST_F(EngineFixture, FolderNamedLikeARecordingCannotBeOpened) {
  std::filesystem::create_directory(dir / "folder.wav");
  EXPECT_FALSE(engine.OpenWave("folder.wav"));
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{msg::kUnableToOpen});
}

TEST_F(EngineFixture, PipeNamedLikeARecordingIsRefusedWithoutWaiting) {
  ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
  EXPECT_FALSE(engine.OpenWave("pipe.wav"));
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{msg::kUnableToOpen});
}

TEST_F(EngineFixture, FileLockedByAnotherProgramCannotBeOpened) {
  const std::string path = dir.Put("in.wav", SimpleWav(1, kFewSamples));
  ChildLock lock(path);
  ASSERT_TRUE(lock.locked());
  EXPECT_FALSE(engine.OpenWave("in.wav"));
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{msg::kUnableToOpen});
}

TEST_F(EngineFixture, OpenSourceIsHeldExclusively) {
  ASSERT_TRUE(Open(SimpleWav(1, kFewSamples)));
  TestHost other;
  other.sourceFolder = dir.path();
  Engine second(other);
  EXPECT_FALSE(second.OpenWave("in.wav"));
  engine.CloseWave();
  EXPECT_TRUE(second.OpenWave("in.wav"));
}

TEST_F(EngineFixture, NameIsOpenedInTheSourceFolder) {
  TempDir elsewhere;
  std::filesystem::current_path(elsewhere.path());
  EXPECT_TRUE(Open(SimpleWav(1, kFewSamples)));
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(dir.path()));
}

struct Accepted {
  const char* name;
  Bytes file;
  std::int64_t dataOffset;
  std::int64_t dataSize;
  int channels;
  std::int64_t rate;
  std::uint32_t formatSize;
};

std::vector<Accepted> AcceptedLayouts() {
  const Bytes list = Bytes(7, 'L');  // odd: a pad byte follows it
  return {
      {"Plain", SimpleWav(2, kFewSamples), 44, 16, 2, 44100, 16},
      {"FmtWithExtension", WavBuilder().Chunk("fmt ", FormatBody(1, 1, 22050, 16, 2)).Data(kFewSamples).Build(), 46, 16, 1, 22050, 18},
      {"ListBeforeFmt", WavBuilder().Chunk("LIST", list).Fmt(1).Data(kFewSamples).Build(), 60, 16, 1, 44100, 16},
      {"ListBetween", WavBuilder().Fmt(1).Chunk("LIST", list).Data(kFewSamples).Build(), 60, 16, 1, 44100, 16},
      {"ChunkAfterData", WavBuilder().Fmt(1).Data(kFewSamples).Chunk("LIST", list).Build(), 44, 16, 1, 44100, 16},
      {"PartialFrame", WavBuilder().Fmt(2).Chunk("data", Bytes(7, 1)).Build(), 44, 7, 2, 44100, 16},
      {"RiffLargerThanFile", WavBuilder().Fmt(1).Data(kFewSamples).Build(1000000), 44, 16, 1, 44100, 16},
      {"RateAbove44100", WavBuilder().Fmt(2, 96000).Data(kFewSamples).Build(), 44, 16, 2, 96000, 16},
  };
}

class Opened : public EngineFixture, public ::testing::WithParamInterface<Accepted> {};

TEST_P(Opened, RecordsWhereTheSamplesLie) {
  const Accepted& want = GetParam();
  ASSERT_TRUE(Open(want.file)) << (host.messages.empty() ? "" : host.messages[0].text);
  EXPECT_TRUE(host.messages.empty());
  EXPECT_NE(engine.WaveHandle, nullptr);
  EXPECT_NE(engine.WaveFormat, nullptr);
  EXPECT_EQ(engine.DataOffset, want.dataOffset);
  EXPECT_EQ(engine.DataSize, want.dataSize);
  EXPECT_EQ(engine.Channels, want.channels);
  EXPECT_EQ(engine.SamplesPerSec, want.rate);
  EXPECT_EQ(engine.FormatSize, want.formatSize);
}

INSTANTIATE_TEST_SUITE_P(SourceLayouts, Opened, ::testing::ValuesIn(AcceptedLayouts()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineFixture, CloseWaveIsHarmlessWhenNothingIsOpenOrTwice) {
  engine.CloseWave();
  ASSERT_TRUE(Open(SimpleWav(1, kFewSamples)));
  engine.CloseWave();
  engine.CloseWave();
  EXPECT_EQ(engine.WaveHandle, nullptr);
  EXPECT_EQ(engine.WaveFormat, nullptr);
  EXPECT_EQ(engine.WaveFileName, "in.wav");
}

TEST_F(EngineFixture, ManyTinyChunksBeforeTheDataAreSkipped) {
  WavBuilder layout;
  layout.Fmt(1);
  for (int i = 0; i < 20000; ++i) layout.Chunk("junk", {});
  ASSERT_TRUE(Open(layout.Data(kFewSamples).Build()));
  EXPECT_EQ(engine.DataOffset, 44 + 20000 * 8);
}

}  // namespace
}  // namespace corvella::test
