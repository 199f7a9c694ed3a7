// Opening and validating source recordings: every refusal in its order, and
// the chunk layouts that must be accepted.
#include <sys/stat.h>

#include "support/EngineFixture.h"

namespace corvella::test {
namespace {

const Samples kFew{1, -2, 3, -4, 5, -6, 7, -8};

Bytes Patched(Bytes file, std::size_t at, const char* with) {
  std::copy(with, with + 4, file.begin() + static_cast<std::ptrdiff_t>(at));
  return file;
}

TEST_F(EngineFixture, EachRefusalShowsItsMessageAndHoldsNothing) {
  const Bytes good = SimpleWav(1, kFew);
  const Bytes data = SampleBytes(kFew);
  auto fmt = [](std::uint16_t tag, std::uint16_t channels, std::uint16_t bits) {
    return WavBuilder().Chunk("fmt ", FormatBody(tag, channels, 44100, bits)).Data(kFew).Build();
  };
  const std::pair<Bytes, const char*> cases[] = {
      {{}, msg::kNotValidWav},
      {Patched(good, 0, "RIFX"), msg::kNotValidWav},
      {Patched(good, 8, "AVI "), msg::kNotValidWav},
      {WavBuilder().Data(kFew).Build(), msg::kNoFmtChunk},
      {WavBuilder().Chunk("fmt ", Bytes(14, 0)).Data(kFew).Build(), msg::kUnknownFmt},
      {WavBuilder().RawChunk("fmt ", 100, FormatBody(1, 1, 44100, 16)).Build(), msg::kFmtUnreadable},
      {fmt(1, 1, 8), msg::kNot16Bits},
      {fmt(3, 2, 32), msg::kNot16Bits},  // the width is tested before the tag
      {fmt(3, 2, 16), msg::kNotPcm},
      {fmt(1, 6, 16), msg::kNotMonoStereo},
      {fmt(1, 0, 16), msg::kNotMonoStereo},
      {WavBuilder().Data(kFew).Fmt(1).Build(), msg::kNoDataChunk},
      {WavBuilder().Fmt(1).Chunk("data", {}).Build(), msg::kEmptyData},
      {Bytes(good.begin(), good.end() - 1), msg::kDataSizeWrong},
      {WavBuilder().Fmt(2).RawChunk("data", 0xFFFFFFFFu, data).Build(), msg::kDataSizeWrong},
  };
  for (const auto& [file, message] : cases) {
    host.messages.clear();
    EXPECT_FALSE(Open(file));
    EXPECT_EQ(host.messages, std::vector<std::string>{message});
    EXPECT_EQ(engine.WaveHandle, nullptr);
    EXPECT_EQ(engine.WaveFormat, nullptr);
  }
}

TEST_F(EngineFixture, WhatCannotBeOpenedIsUnableToOpen) {
  std::filesystem::create_directory(dir / "folder.wav");
  ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);  // must not block
  ChildLock lock(dir.Put("locked.wav", SimpleWav(1, kFew)));
  ASSERT_TRUE(lock.locked);
  for (const char* name : {"absent.wav", "folder.wav", "pipe.wav", "locked.wav"}) {
    host.messages.clear();
    EXPECT_FALSE(engine.OpenWave(name)) << name;
    EXPECT_EQ(host.messages, std::vector<std::string>{msg::kUnableToOpen}) << name;
  }
  // An open source is held exclusively, and released by CloseWave.
  ASSERT_TRUE(Open(SimpleWav(1, kFew)));
  Engine second(host);
  EXPECT_FALSE(second.OpenWave("in.wav"));
  engine.CloseWave();
  engine.CloseWave();
  EXPECT_TRUE(second.OpenWave("in.wav"));
}

TEST_F(EngineFixture, AcceptedLayoutsRecordWhereTheSamplesLie) {
  const Bytes list(7, 'L');  // odd: a pad byte follows it
  struct Case {
    Bytes file;
    std::int64_t dataOffset, dataSize;
    int channels;
    std::int64_t rate;
  };
  const Case cases[] = {
      {WavBuilder().Chunk("fmt ", FormatBody(1, 1, 22050, 16, 2)).Data(kFew).Build(), 46, 16, 1, 22050},
      {WavBuilder().Chunk("LIST", list).Fmt(2).Chunk("LIST", list).Data(kFew).Build(), 76, 16, 2, 44100},
      {WavBuilder().Fmt(1).Data(kFew).Chunk("LIST", list).Build(), 44, 16, 1, 44100},
      {WavBuilder().Fmt(2).Chunk("data", Bytes(7, 1)).Build(), 44, 7, 2, 44100},  // a partial frame
      {WavBuilder().Fmt(2, 96000).Data(kFew).Build(1000000), 44, 16, 2, 96000},  // RIFF size too large
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(Open(c.file)) << (host.messages.empty() ? "" : host.messages[0]);
    EXPECT_EQ(std::tuple(engine.DataOffset, engine.DataSize, engine.Channels, engine.SamplesPerSec),
              std::tuple(c.dataOffset, c.dataSize, c.channels, c.rate));
    engine.CloseWave();
  }
}

}  // namespace
}  // namespace corvella::test
