// The part writer: exact bytes, the mono mix, both copy paths across block
// edges, destinations it must leave alone, and what survives a failed write.
#include "support/FaultyFiles.h"
#include "support/Fixture.h"
#include "wave/PartWriter.h"

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
  for (std::uint32_t v :
       {16u, 1u | (channels << 16), rate, rate * channels * 2, (channels * 2u) | (16u << 16)})
    PutLe32(h, v);
  h.insert(h.end(), {'d', 'a', 't', 'a'});
  PutLe32(h, dataBytes);
  return h;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class Writer : public SourceFixture {
 protected:
  // Writes frames [start, end) of `source` as `name` in the scratch folder.
  wave::Error Write(wave::WaveSource& source, std::int64_t start, std::int64_t end,
                    const std::string& name, wave::FileApi& files = wave::PlatformFiles(),
                    wave::KeptFiles* keep = nullptr) {
    wave::Error error;
    auto folder = wave::Folder::Open(files, dir.path(), error);
    if (!folder) return error;
    wave::WriteOptions options;
    options.mono = mono;
    options.keep = keep;
    return wave::WritePart(source, start, end, *folder, name, options);
  }
};

TEST_F(Writer, PartFilesHoldTheHeaderAndTheFramesExactly) {
  const Samples stereo{1, 0, -1, 0, -3, 0, 32767, 32767, -32768, -32768, 32767, -32768, 5, 6};
  auto source = Open(WavBuilder()
                         .Chunk("LIST", Bytes(9, 'i'))
                         .Chunk("fmt ", FormatBody(1, 2, 22050, 16, 4))
                         .Data(stereo)
                         .Build());
  EXPECT_FALSE(Write(*source, 1, 6, "copy.wav"));
  EXPECT_EQ(
      ReadFile(dir / "copy.wav"),
      Concat(Header(2, 22050, 20), SampleBytes(Samples(stereo.begin() + 2, stereo.begin() + 12))));
  mono = true;  // the mix truncates toward zero
  EXPECT_FALSE(Write(*source, 0, 7, "mono.wav"));
  EXPECT_EQ(ReadFile(dir / "mono.wav"),
            Concat(Header(1, 22050, 14), SampleBytes({0, 0, -1, 32767, -32768, 0, 5})));
  EXPECT_FALSE(Write(*source, 4, 4, "empty.wav"));
  EXPECT_EQ(ReadFile(dir / "empty.wav"), Header(1, 22050, 0));
}

TEST_F(Writer, EveryWayOfCreatingAndCopyingKeepsPartsWholeAcrossBlockEdges) {
  for (int way = 0; way < 4; ++way) {
    FaultyFiles files;
    files.copyUnsupported = way & 1;
    files.unnamedUnsupported = way & 2;
    files.clashes = 15;  // hidden names: the last try of each part gets one
    for (auto [channels, frames, mix] :
         {std::tuple{2, 32769, false}, {2, 100001, true}, {1, 65537, false}}) {
      const Samples samples = Ramp(static_cast<std::size_t>((frames + 5) * channels));
      auto source = Open(SimpleWav(channels, samples));
      mono = mix;
      dir.Put("part.wav", Bytes{1});  // an older file of the name is replaced
      files.clashes = 15;
      ASSERT_FALSE(Write(*source, 3, 3 + frames, "part.wav", files)) << way;
      Samples want;
      for (std::int64_t f = 3; f < 3 + frames; ++f) {
        const auto* frame = &samples[static_cast<std::size_t>(f * channels)];
        if (mix)
          want.push_back(static_cast<std::int16_t>((frame[0] + frame[1]) / 2));
        else
          want.insert(want.end(), frame, frame + channels);
      }
      EXPECT_EQ(PartData(dir / "part.wav"), SampleBytes(want)) << way << channels << frames;
      EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.wav", "part.wav"}));
    }
  }
  // Sixteen clashes in a row: the part is given up, nothing left behind.
  std::filesystem::remove(dir / "part.wav");
  FaultyFiles files;
  files.unnamedUnsupported = true;
  files.clashes = 16;
  auto source = Open(SimpleWav(1, Ramp(10)));
  EXPECT_EQ(Write(*source, 0, 10, "part.wav", files).code, wave::ErrorCode::UnableToCreate);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"in.wav"});
}

TEST_F(Writer, ProtectedLockedOrFolderDestinationsAreLeftAlone) {
  auto source = Open(SimpleWav(1, Ramp(10)));
  dir.Put("readonly.wav", Bytes{1, 2, 3});
  std::filesystem::permissions(dir / "readonly.wav", std::filesystem::perms::owner_read);
  std::filesystem::create_directory(dir / "folder.wav");
  dir.Put("kept.wav", Bytes{4, 5});
  wave::KeptFiles keep;
  keep.Add(IdOf(dir / "kept.wav"), "kept");
  for (const char* name :
       {"readonly.wav", "folder.wav", "in.wav", "kept.wav", "sub/out.wav", "..", ""}) {
    EXPECT_EQ(Write(*source, 0, 10, name, wave::PlatformFiles(), &keep).code,
              wave::ErrorCode::UnableToCreate)
        << name;
  }
  EXPECT_EQ(ReadFile(dir / "readonly.wav"), (Bytes{1, 2, 3}));
  EXPECT_EQ(ReadFile(dir / "kept.wav"), (Bytes{4, 5}));
  EXPECT_EQ(ReadFile(dir / "in.wav"), SimpleWav(1, Ramp(10)));  // the open source itself
  wave::Error error;
  EXPECT_FALSE(wave::Folder::Open(wave::PlatformFiles(), dir / "missing", error));
  EXPECT_EQ(error.code, wave::ErrorCode::UnableToCreate);
}

TEST_F(Writer, AStopRequestAbandonsALongPartBetweenBlocks) {
  for (bool byBlocks : {false, true}) {
    FaultyFiles files;
    files.copyUnsupported = byBlocks;
    auto source = Open(SimpleWav(1, Ramp(6 << 20)));  // 12 MiB of samples: more than one step
    wave::Error error;
    auto folder = wave::Folder::Open(files, dir.path(), error);
    int asked = 0;
    wave::WriteOptions options;
    options.stopRequested = [&] { return ++asked > 1; };
    EXPECT_EQ(wave::WritePart(*source, 0, 6 << 20, *folder, "part.wav", options).code,
              wave::ErrorCode::Stopped);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"in.wav"});
  }
}

TEST_F(Writer, AFailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
  auto faults = [](FaultyFiles& f, int k) {
    f.copyUnsupported = k % 2;
    f.unnamedUnsupported = k % 4 >= 2;
    switch (k / 4) {
      case 0:
      case 1:
      case 2:
        f.failWritesAfter = std::int64_t{k / 4} * 131072 + 44;
        break;
      case 3:
        f.failReadsFrom = 44 + 200000;
        break;  // the source fails mid-part
      case 4:
        f.failRename = true;
        break;
      default:
        f.failClose = true;
    }
  };
  dir.Put("in.wav", SimpleWav(2, Ramp(200000)));
  for (int k = 0; k < 24; ++k) {
    dir.Put("out.wav", Bytes{9, 9, 9});
    FaultyFiles files;
    faults(files, k);
    auto source = wave::OpenWave(files, dir / "in.wav", wave::Acceptance::Plain16).source;
    EXPECT_EQ(Write(*source, 0, 100000, "out.wav", files).code, wave::ErrorCode::UnableToWrite)
        << k;
    EXPECT_EQ(ReadFile(dir / "out.wav"), (Bytes{9, 9, 9})) << k;
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.wav", "out.wav"})) << k;
  }
}

}  // namespace
}  // namespace corvella::test
