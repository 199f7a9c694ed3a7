// Hostile recordings: sizes that overflow, lie or run off the end. Each ends
// in its message or a correct result, in bounded time and memory.
#include <gtest/gtest.h>

#include "support/EngineFixture.h"

namespace corvella::test {
namespace {

using Samples = std::vector<std::int16_t>;

struct Hostile {
  const char* name;
  Bytes file;
  const char* message;  // nullptr: the file is accepted
  int parts;
};

Bytes Header(const char* id, std::uint32_t size) {
  Bytes b(id, id + 4);
  PutLe32(b, size);
  return b;
}

std::vector<Hostile> Cases() {
  const Samples loud(100, 2000);
  Bytes cutHeader = WavBuilder().Fmt(1).Data(loud).Build();
  const Bytes partialId{'d', 'a'};
  Bytes fmtThenCut = WavBuilder().Fmt(1).Raw(partialId).Build();
  Bytes zeros = WavBuilder().Build();
  zeros.resize(zeros.size() + (8 << 20), 0);  // 8 MiB of zero-sized chunks with no name
  return {
      {"SkipSizeOverflowsBeforeFmt", WavBuilder().RawChunk("LIST", 0xFFFFFFF8u, {}).Fmt(1).Data(loud).Build(), msg::kNoFmtChunk, 0},
      {"SkipSizeOverflowsBeforeData", WavBuilder().Fmt(1).RawChunk("junk", 0xFFFFFFFFu, {}).Data(loud).Build(), msg::kNoDataChunk, 0},
      {"RiffSizeZero", WavBuilder().Fmt(1).Data(loud).Build(0), msg::kNoFmtChunk, 0},
      {"RiffSizeAllOnes", WavBuilder().Fmt(1).Data(loud).Build(0xFFFFFFFFu), nullptr, 1},
      {"ChunkHeaderCutAtTheEnd", fmtThenCut, msg::kNoDataChunk, 0},
      {"DataHeaderLastWithNoBody", WavBuilder().Fmt(1).Raw(Header("data", 0)).Build(), msg::kEmptyData, 0},
      {"DataHeaderLastClaimingABody", WavBuilder().Fmt(1).Raw(Header("data", 4)).Build(), msg::kDataSizeWrong, 0},
      {"MonoDataOfOneByte", WavBuilder().Fmt(1).RawChunk("data", 1, {0x7F}).Build(), nullptr, 0},
      {"StereoDataOfOneByte", WavBuilder().Fmt(2).RawChunk("data", 1, {0x7F}).Build(), nullptr, 0},
      {"StereoDataOfThreeBytes", WavBuilder().Fmt(2).RawChunk("data", 3, {0x7F, 0x7F, 0x7F}).Build(), nullptr, 0},
      {"FmtOfFourGiB", WavBuilder().RawChunk("fmt ", 0xFFFFFFFFu, FormatBody(1, 1, 44100, 16)).Data(loud).Build(), msg::kFmtUnreadable, 0},
      {"FmtLongerThanRiff", WavBuilder().RawChunk("fmt ", 200, FormatBody(1, 1, 44100, 16)).Build(), msg::kFmtUnreadable, 0},
      {"ManyNamelessChunks", zeros, msg::kNoFmtChunk, 0},
      {"RateOfZero", WavBuilder().Fmt(1, 0).Data(loud).Build(), nullptr, 1},
      {"RateOfFourBillion", WavBuilder().Fmt(2, 0xFFFFFFFFu).Data(loud).Build(), nullptr, 1},
  };
}

class HostileInput : public EngineFixture, public ::testing::WithParamInterface<Hostile> {};

TEST_P(HostileInput, EndsInItsMessageOrACorrectResult) {
  const Hostile& c = GetParam();
  dir.Put("in.wav", c.file);
  std::filesystem::create_directory(dir / "out");
  EXPECT_EQ(engine.ProcessParts("in.wav", dir / "out", true), c.parts);
  if (c.message) {
    EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{c.message});
  } else {
    EXPECT_TRUE(host.messages.empty()) << host.messages[0].text;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "out"), {}), c.parts);
  EXPECT_EQ(engine.WaveHandle, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Recordings, HostileInput, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace corvella::test
