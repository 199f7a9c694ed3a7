// The part writer: exact bytes of the files it writes, the mono mix, block
// sizes, and what survives when writing fails.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/EngineFixture.h"
#include "support/FaultyFiles.h"

namespace corvella::test {
namespace {

using Samples = std::vector<std::int16_t>;

Samples Ramp(std::size_t count, int step = 7) {
  Samples s(count);
  for (std::size_t i = 0; i < count; ++i) s[i] = static_cast<std::int16_t>((i * step) % 65536 - 32768);
  return s;
}

// The header the writer must produce, built field by field.
Bytes ExpectedHeader(int channels, std::uint32_t rate, std::uint32_t dataBytes) {
  Bytes h;
  for (char c : std::string("RIFF")) h.push_back(static_cast<std::uint8_t>(c));
  PutLe32(h, 36 + dataBytes + (dataBytes & 1));
  for (char c : std::string("WAVEfmt ")) h.push_back(static_cast<std::uint8_t>(c));
  PutLe32(h, 16);
  PutLe16(h, 1);
  PutLe16(h, static_cast<std::uint16_t>(channels));
  PutLe32(h, rate);
  PutLe32(h, rate * channels * 2);
  PutLe16(h, static_cast<std::uint16_t>(channels * 2));
  PutLe16(h, 16);
  for (char c : std::string("data")) h.push_back(static_cast<std::uint8_t>(c));
  PutLe32(h, dataBytes);
  return h;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class Writer : public EngineFixture {};

TEST_F(Writer, StereoPartIsCopiedByteForByte) {
  const Samples samples = Ramp(2 * 3000);
  ASSERT_TRUE(Open(SimpleWav(2, samples, 48000)));
  ASSERT_TRUE(engine.WritePart(1000, 2000, dir / "out.wav"));
  const Samples part(samples.begin() + 2000, samples.begin() + 4000);
  EXPECT_EQ(ReadFile(dir / "out.wav"), Concat(ExpectedHeader(2, 48000, 4000), SampleBytes(part)));
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(Writer, MonoMixTruncatesTowardZero) {
  const Samples stereo{1, 0, -1, 0, -3, 0, 32767, 32767, -32768, -32768, 32767, -32768, -32768, 32767, 5, 6};
  const Samples mixed{0, 0, -1, 32767, -32768, 0, 0, 5};
  ASSERT_TRUE(Open(SimpleWav(2, stereo, 22050)));
  host.mono = true;
  ASSERT_TRUE(engine.WritePart(0, 8, dir / "mono.wav"));
  EXPECT_EQ(ReadFile(dir / "mono.wav"), Concat(ExpectedHeader(1, 22050, 16), SampleBytes(mixed)));
}

TEST_F(Writer, MonoSourceIsTheSameWhetherMonoIsTickedOrNot) {
  ASSERT_TRUE(Open(SimpleWav(1, Ramp(5000))));
  ASSERT_TRUE(engine.WritePart(10, 4000, dir / "a.wav"));
  host.mono = true;
  ASSERT_TRUE(engine.WritePart(10, 4000, dir / "b.wav"));
  EXPECT_EQ(ReadFile(dir / "a.wav"), ReadFile(dir / "b.wav"));
}

// Both copy paths: the kernel copy where the platform offers it, and the
// copy block by block through the sample buffer.
class WriterPaths : public EngineFixture, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    files.copyUnsupported = GetParam();
  }
  FaultyFiles files;
  Engine engine{host, files};
};

INSTANTIATE_TEST_SUITE_P(Copy, WriterPaths, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ByBlocks" : "InKernel"; });

TEST_P(WriterPaths, PartsAcrossBlockEdgesAreWhole) {
  struct Case {
    int channels;
    std::int64_t frames;
    bool mono;
  };
  for (Case c : {Case{2, 32768, false}, Case{2, 32769, false}, Case{2, 32769, true},
                 Case{1, 65536, false}, Case{1, 65537, false}, Case{2, 100001, true}}) {
    const Samples samples = Ramp(static_cast<std::size_t>((c.frames + 5) * c.channels), 13);
    dir.Put("in.wav", SimpleWav(c.channels, samples));
    ASSERT_TRUE(engine.OpenWave("in.wav"));
    host.mono = c.mono;
    ASSERT_TRUE(engine.WritePart(3, 3 + c.frames, dir / "part.wav"));
    Samples want;
    for (std::int64_t f = 3; f < 3 + c.frames; ++f) {
      const std::size_t i = static_cast<std::size_t>(f * c.channels);
      if (c.channels == 2 && c.mono) {
        want.push_back(static_cast<std::int16_t>((samples[i] + samples[i + 1]) / 2));
      } else {
        want.insert(want.end(), samples.begin() + static_cast<std::ptrdiff_t>(i),
                    samples.begin() + static_cast<std::ptrdiff_t>(i) + c.channels);
      }
    }
    const int outChannels = c.mono ? 1 : c.channels;
    EXPECT_EQ(ReadFile(dir / "part.wav"),
              Concat(ExpectedHeader(outChannels, 44100, static_cast<std::uint32_t>(want.size() * 2)),
                     SampleBytes(want)))
        << c.channels << " channels, " << c.frames << " frames";
    engine.CloseWave();
  }
}

TEST_F(Writer, EmptyRangeGivesAHeaderWithNoData) {
  ASSERT_TRUE(Open(SimpleWav(2, Ramp(100))));
  ASSERT_TRUE(engine.WritePart(20, 20, dir / "empty.wav"));
  EXPECT_EQ(ReadFile(dir / "empty.wav"), ExpectedHeader(2, 44100, 0));
  ASSERT_TRUE(engine.WritePart(30, 20, dir / "reversed.wav"));
  EXPECT_EQ(ReadFile(dir / "reversed.wav"), ExpectedHeader(2, 44100, 0));
}

TEST_F(Writer, ExtensionAndOtherChunksOfTheSourceAreDropped) {
  ASSERT_TRUE(Open(WavBuilder()
                       .Chunk("LIST", Bytes(9, 'i'))
                       .Chunk("fmt ", FormatBody(1, 1, 8000, 16, 4))
                       .Data(Ramp(10))
                       .Chunk("cue ", Bytes(4, 0))
                       .Build()));
  ASSERT_TRUE(engine.WritePart(0, 10, dir / "out.wav"));
  EXPECT_EQ(ReadFile(dir / "out.wav"), Concat(ExpectedHeader(1, 8000, 20), SampleBytes(Ramp(10))));
}

TEST_F(Writer, ExistingFileIsReplaced) {
  dir.Put("out.wav", Bytes(100000, 0xAB));
  ASSERT_TRUE(Open(SimpleWav(1, Ramp(10))));
  ASSERT_TRUE(engine.WritePart(0, 10, dir / "out.wav"));
  EXPECT_EQ(ReadFile(dir / "out.wav").size(), 44u + 20u);
}

TEST_F(Writer, ProtectedOrLockedOrFolderDestinationIsNotCreated) {
  ASSERT_TRUE(Open(SimpleWav(1, Ramp(10))));
  dir.Put("readonly.wav", Bytes{1, 2, 3});
  std::filesystem::permissions(dir / "readonly.wav", std::filesystem::perms::owner_read |
                                                       std::filesystem::perms::group_read);
  std::filesystem::create_directory(dir / "folder.wav");
  for (const char* name : {"readonly.wav", "folder.wav", "in.wav", "missing/out.wav"}) {
    host.messages.clear();
    EXPECT_FALSE(engine.WritePart(0, 10, dir / name)) << name;
    EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{msg::kUnableToCreate}) << name;
  }
  EXPECT_EQ(ReadFile(dir / "readonly.wav"), (Bytes{1, 2, 3}));
  EXPECT_EQ(ReadFile(dir / "in.wav"), SimpleWav(1, Ramp(10)));  // the open source itself
}

class FailingWriter : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    dir.Put("out.wav", Bytes{9, 9, 9});
  }
  // Writes a 100000-frame stereo part through `files` over the existing out.wav.
  bool WriteThrough(FaultyFiles& files) {
    Engine faulty(host, files);
    faulty.NoiseFloor = engine.NoiseFloor;
    dir.Put("in.wav", SimpleWav(2, Ramp(200000)));
    if (!faulty.OpenWave("in.wav")) return false;
    return faulty.WritePart(0, 100000, dir / "out.wav");
  }
  void ExpectNothingLost() {
    EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{msg::kUnableToWrite});
    EXPECT_EQ(ReadFile(dir / "out.wav"), (Bytes{9, 9, 9}));
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.wav", "out.wav"}));
  }
};

TEST_F(FailingWriter, DiskFullPartWayKeepsTheOldFileAndLeavesNoTemporary) {
  for (bool byBlocks : {false, true}) {
    for (std::int64_t after : {0, 5, 44, 131072 + 44, 399999}) {
      FaultyFiles files;
      files.failWritesAfter = after;
      files.copyUnsupported = byBlocks;
      host.messages.clear();
      EXPECT_FALSE(WriteThrough(files)) << after;
      ExpectNothingLost();
    }
  }
}

TEST_F(FailingWriter, SourceReadErrorWhileCopyingKeepsTheOldFile) {
  for (bool byBlocks : {false, true}) {
    FaultyFiles files;
    files.failReadsAfter = 4096 + 200000;  // the header search, then part of the samples
    files.copyUnsupported = byBlocks;
    host.messages.clear();
    EXPECT_FALSE(WriteThrough(files));
    ExpectNothingLost();
  }
}

TEST_F(FailingWriter, FailedRenameOrCloseKeepsTheOldFile) {
  for (int fault = 0; fault < 2; ++fault) {
    FaultyFiles files;
    files.failRename = fault == 0;
    files.failClose = fault == 1;
    host.messages.clear();
    EXPECT_FALSE(WriteThrough(files));
    ExpectNothingLost();
  }
}

}  // namespace
}  // namespace corvella::test
