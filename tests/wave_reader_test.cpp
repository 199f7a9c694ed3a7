// Opening and validating source recordings: every refusal in its order, and
// the chunk layouts that must be accepted.
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "support/Fixture.h"

namespace corvella::test {
namespace {

const Samples kFew{1, -2, 3, -4, 5, -6, 7, -8};

Bytes Patched(Bytes file, std::size_t at, const char* with) {
  std::copy(with, with + 4, file.begin() + static_cast<std::ptrdiff_t>(at));
  return file;
}

TEST_F(SourceFixture, EachRefusalHasItsMessageAndHoldsNothing) {
  const Bytes good = SimpleWav(1, kFew);
  const Bytes data = SampleBytes(kFew);
  auto fmt = [](std::uint16_t tag, std::uint16_t channels, std::uint16_t bits) {
    return WavBuilder().Chunk("fmt ", FormatBody(tag, channels, 44100, bits)).Data(kFew).Build();
  };
  const std::pair<Bytes, const char*> cases[] = {
      {{}, "Not a valid WAV file!"},
      {Patched(good, 0, "RIFX"), "Not a valid WAV file!"},
      {Patched(good, 8, "AVI "), "Not a valid WAV file!"},
      {WavBuilder().Data(kFew).Build(), "Failed to locate fmt chunk!"},
      {WavBuilder().Chunk("fmt ", Bytes(14, 0)).Data(kFew).Build(), "Unknown fmt chunk!"},
      {WavBuilder().RawChunk("fmt ", 100, FormatBody(1, 1, 44100, 16)).Build(),
       "Failed to read fmt chunk!"},
      {fmt(1, 1, 8), "Not 16 bits per sample!"},
      {fmt(3, 2, 32), "Not 16 bits per sample!"},  // the width is tested before the tag
      {fmt(3, 2, 16), "Not a PCM file!"},
      {fmt(1, 6, 16), "Not a mono or stereo file!"},
      {fmt(1, 0, 16), "Not a mono or stereo file!"},
      {WavBuilder().Data(kFew).Fmt(1).Build(), "File has no data chunk!"},
      {WavBuilder().Fmt(1).Chunk("data", {}).Build(), "Data chunk contains no data!"},
      {Bytes(good.begin(), good.end() - 1), "Size of data chunk is wrong!"},
      {WavBuilder().Fmt(2).RawChunk("data", 0xFFFFFFFFu, data).Build(),
       "Size of data chunk is wrong!"},
  };
  for (const auto& [file, message] : cases) {
    EXPECT_EQ(Refusal(file), message);
    EXPECT_TRUE(FreeToTake(dir / "refused.wav")) << message;
  }
}

TEST_F(SourceFixture, WhatCannotBeOpenedSaysWhy) {
  std::filesystem::create_directory(dir / "folder.wav");
#ifndef _WIN32
  ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);  // must not block
#endif
  ChildLock lock(dir.Put("locked.wav", SimpleWav(1, kFew)));
  ASSERT_TRUE(lock.locked);
  dir.Put("plain.wav", SimpleWav(1, kFew));
  const std::pair<std::string, std::string> cases[] = {
      {"absent.wav", "no such file"},     {"folder.wav", "a folder, not a file"},
      {"pipe.wav", "not a regular file"}, {"locked.wav", "in use by another program"},
      {"plain.wav/", "not a folder"},     {"plain.wav/x.wav", "not a folder"},
  };
  for (const auto& [name, why] : cases) {
#ifdef _WIN32
    if (name == "pipe.wav") continue;  // no named pipe lives among files there
#endif
    const wave::OpenedWave opened =
        wave::OpenWave(wave::PlatformFiles(), dir / name, wave::Acceptance::Plain16);
    EXPECT_EQ(opened.error.code, wave::ErrorCode::UnableToOpen) << name;
    EXPECT_EQ(opened.error.detail, why) << name;
  }
  // An open source is held exclusively, and released when it is closed.
  auto source = Open(SimpleWav(1, kFew));
  ASSERT_TRUE(source);
  EXPECT_FALSE(FreeToTake(dir / "in.wav"));
  source.reset();
  EXPECT_TRUE(FreeToTake(dir / "in.wav"));
}

TEST_F(SourceFixture, AcceptedLayoutsGiveTheirFramesFromTheDataChunk) {
  const Bytes list(7, 'L');  // odd: a pad byte follows it
  struct Case {
    Bytes file;
    int channels;
    std::int64_t rate, frames;
  };
  const Case cases[] = {
      {WavBuilder().Chunk("fmt ", FormatBody(1, 1, 22050, 16, 2)).Data(kFew).Build(), 1, 22050, 8},
      {WavBuilder().Chunk("LIST", list).Fmt(2).Chunk("LIST", list).Data(kFew).Build(), 2, 44100, 4},
      {WavBuilder().Fmt(1).Data(kFew).Chunk("LIST", list).Build(), 1, 44100, 8},
      {WavBuilder().Fmt(2).Chunk("data", SampleBytes({9, 8, 7})).Build(), 2, 44100,
       1},                                                                  // a partial frame
      {WavBuilder().Fmt(2, 96000).Data(kFew).Build(1000000), 2, 96000, 4},  // RIFF size too large
  };
  for (const Case& c : cases) {
    auto source = Open(c.file);
    ASSERT_TRUE(source);
    const wave::SourceInfo& info = source->Info();
    EXPECT_EQ(std::tuple(info.channels, info.rate, info.frames),
              std::tuple(c.channels, c.rate, c.frames));
    Samples first(2);
    ASSERT_EQ(source->ReadSamples(0, first.data(), 4), 4);
    EXPECT_EQ(first, (c.frames == 1 ? Samples{9, 8} : Samples{1, -2}));
  }
}

TEST_F(SourceFixture, PathsLongerThanTheKernelTakesAtOnceFindTheirOwnFile) {
  // A folder chain of about 5000 bytes with a file in it, and a file of the
  // same name where a shortened path would lead. (Under wine, Windows paths
  // become Linux ones, which the kernel takes up to 4096 bytes: there the
  // chain is 2000 bytes long, still far past Windows' MAX_PATH.)
#ifdef _WIN32
  const std::size_t length = 2000;
#else
  const std::size_t length = 5000;
#endif
  std::string relative;
  while (relative.size() < length) relative += std::string(200, 'd') + "/";
  WriteDeep(dir.path(), relative + "a.wav", SimpleWav(1, Samples(1000, 3000)));  // one part
  const std::string deep = dir / relative.substr(0, relative.size() - 1);
  dir.Put("a.wav", SimpleWav(1, Samples(10, 0)));  // no part

  auto source =
      wave::OpenWave(wave::PlatformFiles(), deep + "/a.wav", wave::Acceptance::Plain16).source;
  ASSERT_TRUE(source);
  EXPECT_EQ(source->Info().frames, 1000);
  EXPECT_EQ(Walk(*source).size(), 1u);
  const auto missing =
      wave::OpenWave(wave::PlatformFiles(), deep + "/b.wav", wave::Acceptance::Plain16);
  EXPECT_EQ(missing.error.detail, "no such file");
}

}  // namespace
}  // namespace corvella::test
