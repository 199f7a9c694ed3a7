// The part writer: exact bytes, the mono mix, both copy paths across block
// edges, destinations it must leave alone, and what survives a failed write.
#include "support/EngineFixture.h"
#include "support/FaultyFiles.h"

namespace corvella::test {
namespace {

Samples Ramp(std::size_t count) {
  Samples s(count);
  for (std::size_t i = 0; i < count; ++i) s[i] = static_cast<std::int16_t>(i * 13 + 32768);
  return s;
}

Bytes Header(int channels, std::uint32_t rate, std::uint32_t dataBytes) {
  Bytes h{'R', 'I', 'F', 'F'};
  PutLe32(h, 36 + dataBytes);
  h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  for (std::uint32_t v : {16u, 1u | (channels << 16), rate, rate * channels * 2, (channels * 2u) | (16u << 16)}) PutLe32(h, v);
  h.insert(h.end(), {'d', 'a', 't', 'a'});
  PutLe32(h, dataBytes);
  return h;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(EngineFixture, PartFilesHoldTheHeaderAndTheFramesExactly) {
  const Samples stereo{1, 0, -1, 0, -3, 0, 32767, 32767, -32768, -32768, 32767, -32768, 5, 6};
  ASSERT_TRUE(Open(WavBuilder().Chunk("LIST", Bytes(9, 'i')).Chunk("fmt ", FormatBody(1, 2, 22050, 16, 4))
                       .Data(stereo).Build()));
  ASSERT_TRUE(engine.WritePart(1, 6, dir / "copy.wav"));
  EXPECT_EQ(ReadFile(dir / "copy.wav"), Concat(Header(2, 22050, 20), SampleBytes(Samples(stereo.begin() + 2, stereo.begin() + 12))));
  host.mono = true;  // the mix truncates toward zero
  ASSERT_TRUE(engine.WritePart(0, 7, dir / "mono.wav"));
  EXPECT_EQ(ReadFile(dir / "mono.wav"), Concat(Header(1, 22050, 14), SampleBytes({0, 0, -1, 32767, -32768, 0, 5})));
  ASSERT_TRUE(engine.WritePart(4, 4, dir / "empty.wav"));
  EXPECT_EQ(ReadFile(dir / "empty.wav"), Header(1, 22050, 0));
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(EngineFixture, BothCopyPathsKeepPartsWholeAcrossBlockEdges) {
  for (bool byBlocks : {false, true}) {
    FaultyFiles files;
    files.copyUnsupported = byBlocks;
    Engine e(host, files);
    for (auto [channels, frames, mono] : {std::tuple{2, 32769, false}, {2, 100001, true}, {1, 65537, false}}) {
      const Samples samples = Ramp(static_cast<std::size_t>((frames + 5) * channels));
      dir.Put("in.wav", SimpleWav(channels, samples));
      ASSERT_TRUE(e.OpenWave("in.wav"));
      host.mono = mono;
      ASSERT_TRUE(e.WritePart(3, 3 + frames, dir / "part.wav"));
      Samples want;
      for (std::int64_t f = 3; f < 3 + frames; ++f) {
        const auto* frame = &samples[static_cast<std::size_t>(f * channels)];
        if (mono) want.push_back(static_cast<std::int16_t>((frame[0] + frame[1]) / 2));
        else want.insert(want.end(), frame, frame + channels);
      }
      EXPECT_EQ(PartData(dir / "part.wav"), SampleBytes(want)) << byBlocks << channels << frames;
      e.CloseWave();
    }
  }
}

TEST_F(EngineFixture, ProtectedLockedOrFolderDestinationsAreLeftAlone) {
  ASSERT_TRUE(Open(SimpleWav(1, Ramp(10))));
  dir.Put("readonly.wav", Bytes{1, 2, 3});
  std::filesystem::permissions(dir / "readonly.wav", std::filesystem::perms::owner_read);
  std::filesystem::create_directory(dir / "folder.wav");
  for (const char* name : {"readonly.wav", "folder.wav", "in.wav", "missing/out.wav"}) {
    host.messages.clear();
    EXPECT_FALSE(engine.WritePart(0, 10, dir / name)) << name;
    EXPECT_EQ(host.messages, std::vector<std::string>{msg::kUnableToCreate}) << name;
  }
  EXPECT_EQ(ReadFile(dir / "readonly.wav"), (Bytes{1, 2, 3}));
  EXPECT_EQ(ReadFile(dir / "in.wav"), SimpleWav(1, Ramp(10)));  // the open source itself
}

TEST_F(EngineFixture, AFailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
  dir.Put("in.wav", SimpleWav(2, Ramp(200000)));
  auto faults = [](FaultyFiles& f, int k) {
    f.copyUnsupported = k % 2;
    switch (k / 2) {
      case 0: case 1: case 2: f.failWritesAfter = std::int64_t{k / 2} * 131072 + 44; break;
      case 3: f.failReadsFrom = 44 + 200000; break;  // the source fails mid-part
      case 4: f.failRename = true; break;
      default: f.failClose = true;
    }
  };
  for (int k = 0; k < 12; ++k) {
    dir.Put("out.wav", Bytes{9, 9, 9});
    FaultyFiles files;
    faults(files, k);
    Engine e(host, files);
    ASSERT_TRUE(e.OpenWave("in.wav"));
    host.messages.clear();
    EXPECT_FALSE(e.WritePart(0, 100000, dir / "out.wav")) << k;
    EXPECT_EQ(host.messages, std::vector<std::string>{msg::kUnableToWrite}) << k;
    EXPECT_EQ(ReadFile(dir / "out.wav"), (Bytes{9, 9, 9})) << k;
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.wav", "out.wav"})) << k;
  }
}

}  // namespace
}  // namespace corvella::test
