#include "support/WavBuilder.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace corvella::test {

void PutLe16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutLe32(Bytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

static void PutId(Bytes& out, const std::string& id) {
  for (std::size_t i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(id[i]));
}

Bytes SampleBytes(const Samples& samples) {
  Bytes out;
  for (std::int16_t s : samples) PutLe16(out, static_cast<std::uint16_t>(s));
  return out;
}

Bytes FormatBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                 std::size_t extension) {
  Bytes body;
  PutLe16(body, tag);
  PutLe16(body, channels);
  PutLe32(body, rate);
  PutLe32(body, rate * channels * (bits / 8));
  PutLe16(body, static_cast<std::uint16_t>(channels * (bits / 8)));
  PutLe16(body, bits);
  body.resize(body.size() + extension, 0);
  return body;
}

WavBuilder& WavBuilder::Chunk(const std::string& id, const Bytes& body) {
  RawChunk(id, static_cast<std::uint32_t>(body.size()), body);
  if (body.size() & 1) body_.push_back(0);
  return *this;
}

WavBuilder& WavBuilder::RawChunk(const std::string& id, std::uint32_t declared, const Bytes& body) {
  PutId(body_, id);
  PutLe32(body_, declared);
  return Raw(body);
}

WavBuilder& WavBuilder::Raw(const Bytes& raw) {
  body_.insert(body_.end(), raw.begin(), raw.end());
  return *this;
}

Bytes WavBuilder::Build(std::uint32_t riffSize) const {
  Bytes out;
  PutId(out, "RIFF");
  PutLe32(out, riffSize);
  PutId(out, "WAVE");
  out.insert(out.end(), body_.begin(), body_.end());
  return out;
}

std::filesystem::path U8(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(U8(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(U8(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes PartData(const std::string& path) {
  const Bytes file = ReadFile(path);
  return file.size() < 44 ? Bytes{} : Bytes(file.begin() + 44, file.end());
}

int PartChannels(const std::string& path) {
  return ReadFile(path).at(22);
}

}  // namespace corvella::test
