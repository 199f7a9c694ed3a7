// Recordings built byte by byte, so tests can lay out chunks as they like:
// odd sizes, wrong sizes, chunks in any order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace corvella::test {

using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::int16_t>;

void PutLe16(Bytes& out, std::uint16_t v);
void PutLe32(Bytes& out, std::uint32_t v);
Bytes SampleBytes(const Samples& samples);
// A fmt body of 16 bytes, and `extension` zero bytes more.
Bytes FormatBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                 std::size_t extension = 0);

class WavBuilder {
 public:
  // A chunk with its true size and a pad byte when odd.
  WavBuilder& Chunk(const std::string& id, const Bytes& body);
  // A chunk header declaring `declared` bytes whatever follows; no pad byte.
  WavBuilder& RawChunk(const std::string& id, std::uint32_t declared, const Bytes& body);
  WavBuilder& Raw(const Bytes& raw);
  WavBuilder& Fmt(std::uint16_t channels, std::uint32_t rate = 44100) {
    return Chunk("fmt ", FormatBody(1, channels, rate, 16));
  }
  WavBuilder& Data(const Samples& samples) { return Chunk("data", SampleBytes(samples)); }
  // "RIFF", the true size (or `riffSize`), "WAVE", the chunks.
  Bytes Build() const { return Build(static_cast<std::uint32_t>(body_.size() + 4)); }
  Bytes Build(std::uint32_t riffSize) const;

 private:
  Bytes body_;
};

inline Bytes SimpleWav(int channels, const Samples& samples, std::uint32_t rate = 44100) {
  return WavBuilder().Fmt(static_cast<std::uint16_t>(channels), rate).Data(samples).Build();
}

// A path in UTF-8, as the system's file functions take it (on Windows they
// would read a narrow string in the ANSI code page), and back.
std::filesystem::path U8(const std::string& path);
std::string Utf8(const std::filesystem::path& path);

Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);
// The samples of a part file: what follows its 44-byte header.
Bytes PartData(const std::string& path);
// The channel count its header gives.
int PartChannels(const std::string& path);

}  // namespace corvella::test
