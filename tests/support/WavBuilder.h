// Builds RIFF/WAVE files byte by byte, so tests can lay out chunks exactly
// as they like: odd sizes, wrong sizes, chunks in any order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvella::test {

using Bytes = std::vector<std::uint8_t>;

void PutLe16(Bytes& out, std::uint16_t v);
void PutLe32(Bytes& out, std::uint32_t v);
std::uint16_t GetLe16(const Bytes& in, std::size_t at);
std::uint32_t GetLe32(const Bytes& in, std::size_t at);

// A fmt body of 16 bytes (or more, with `extension` bytes appended).
Bytes FormatBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                 std::uint16_t bits, std::size_t extension = 0);
Bytes SampleBytes(const std::vector<std::int16_t>& samples);

class WavBuilder {
 public:
  // A chunk with its true size and a pad byte when odd.
  WavBuilder& Chunk(const std::string& id, const Bytes& body);
  // A chunk whose header declares `declared` bytes whatever the body holds;
  // no pad byte is added.
  WavBuilder& RawChunk(const std::string& id, std::uint32_t declared, const Bytes& body);
  WavBuilder& Fmt(std::uint16_t channels, std::uint32_t rate = 44100) {
    return Chunk("fmt ", FormatBody(1, channels, rate, 16));
  }
  WavBuilder& Data(const std::vector<std::int16_t>& samples) {
    return Chunk("data", SampleBytes(samples));
  }
  WavBuilder& Raw(const Bytes& raw);  // raw bytes inside the RIFF body
  // The whole file: "RIFF", the true size (or `riffSize`), "WAVE", the chunks.
  Bytes Build() const;
  Bytes Build(std::uint32_t riffSize) const;

 private:
  Bytes body_;
};

// A plain mono or stereo 44.1 kHz (or `rate`) file holding `samples`.
Bytes SimpleWav(int channels, const std::vector<std::int16_t>& samples, std::uint32_t rate = 44100);

// A file read back by a parser independent of the engine.
struct ParsedWav {
  bool ok = false;
  std::string problem;
  std::uint32_t riffSize = 0;
  std::uint16_t formatTag = 0, channels = 0, blockAlign = 0, bits = 0;
  std::uint32_t rate = 0, byteRate = 0, fmtSize = 0, dataSize = 0;
  Bytes data;
  std::size_t fileLength = 0;
};
ParsedWav ParseWav(const Bytes& file);

Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);

}  // namespace corvella::test
