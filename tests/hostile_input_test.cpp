// Hostile recordings: sizes that overflow, lie or run off the end. Each ends
// in its message or a correct result, in bounded time and memory.
#include "support/Fixture.h"

namespace corvella::test {
namespace {

TEST_F(SourceFixture, HostileLayoutsEndInTheirMessageOrACorrectResult) {
  const Samples loud(100, 2000);
  auto header = [](const char* id, std::uint32_t size) {
    Bytes b(id, id + 4);
    PutLe32(b, size);
    return b;
  };
  Bytes zeros = WavBuilder().Build();
  zeros.resize(zeros.size() + (8 << 20), 0);  // 8 MiB of nameless chunks of size 0
  const std::tuple<Bytes, const char*, int> cases[] = {
      {WavBuilder().RawChunk("LIST", 0xFFFFFFF8u, {}).Fmt(1).Data(loud).Build(),
       "Failed to locate fmt chunk!", 0},
      {WavBuilder().Fmt(1).RawChunk("junk", 0xFFFFFFFFu, {}).Data(loud).Build(),
       "File has no data chunk!", 0},
      {WavBuilder().Fmt(1).Data(loud).Build(0), "Failed to locate fmt chunk!", 0},
      {WavBuilder().Fmt(1).Data(loud).Build(28), "File has no data chunk!", 0},
      {WavBuilder().Fmt(1).Data(loud).Build(0xFFFFFFFFu), nullptr, 1},
      {WavBuilder().Fmt(1).Raw({'d', 'a'}).Build(), "File has no data chunk!", 0},
      {WavBuilder().Fmt(1).Raw(header("data", 0)).Build(), "Data chunk contains no data!", 0},
      {WavBuilder().Fmt(1).Raw(header("data", 4)).Build(), "Size of data chunk is wrong!", 0},
      {WavBuilder().Fmt(1).RawChunk("data", 1, {0x7F}).Build(), nullptr, 0},
      {WavBuilder().Fmt(2).RawChunk("data", 3, {0x7F, 0x7F, 0x7F}).Build(), nullptr, 0},
      {WavBuilder().RawChunk("fmt ", 0xFFFFFFFFu, FormatBody(1, 1, 44100, 16)).Data(loud).Build(),
       "Failed to read fmt chunk!", 0},
      {zeros, "Failed to locate fmt chunk!", 0},
      {WavBuilder().Fmt(1, 0).Data(loud).Build(), nullptr, 1},
      {WavBuilder().Fmt(2, 0xFFFFFFFFu).Data(loud).Build(), nullptr, 1},
  };
  std::filesystem::create_directory(dir / "out");
  int k = 0;
  for (const auto& [file, message, parts] : cases) {
    messages.clear();
    dir.Put("in.wav", file);
    EXPECT_EQ(Split("in.wav", dir / "out", true), parts) << k;
    EXPECT_EQ(messages, message ? std::vector<std::string>{message} : std::vector<std::string>{})
        << k;
    EXPECT_EQ(dir.Names("out").size(), static_cast<std::size_t>(parts)) << k++;
    std::filesystem::remove_all(dir / "out");
    std::filesystem::create_directory(dir / "out");
  }
}

}  // namespace
}  // namespace corvella::test
