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

std::uint16_t GetLe16(const Bytes& in, std::size_t at) {
  return static_cast<std::uint16_t>(in.at(at) | (in.at(at + 1) << 8));
}

std::uint32_t GetLe32(const Bytes& in, std::size_t at) {
  return static_cast<std::uint32_t>(in.at(at)) | (static_cast<std::uint32_t>(in.at(at + 1)) << 8) |
         (static_cast<std::uint32_t>(in.at(at + 2)) << 16) |
         (static_cast<std::uint32_t>(in.at(at + 3)) << 24);
}

static void PutId(Bytes& out, const std::string& id) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(i < int(id.size()) ? id[i] : ' '));
}

Bytes FormatBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                 std::uint16_t bits, std::size_t extension) {
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

Bytes SampleBytes(const std::vector<std::int16_t>& samples) {
  Bytes out;
  out.reserve(samples.size() * 2);
  for (std::int16_t s : samples) PutLe16(out, static_cast<std::uint16_t>(s));
  return out;
}

WavBuilder& WavBuilder::Chunk(const std::string& id, const Bytes& body) {
  PutId(body_, id);
  PutLe32(body_, static_cast<std::uint32_t>(body.size()));
  body_.insert(body_.end(), body.begin(), body.end());
  if (body.size() & 1) body_.push_back(0);
  return *this;
}

WavBuilder& WavBuilder::RawChunk(const std::string& id, std::uint32_t declared, const Bytes& body) {
  PutId(body_, id);
  PutLe32(body_, declared);
  body_.insert(body_.end(), body.begin(), body.end());
  return *this;
}

WavBuilder& WavBuilder::Raw(const Bytes& raw) {
  body_.insert(body_.end(), raw.begin(), raw.end());
  return *this;
}

Bytes WavBuilder::Build() const { return Build(static_cast<std::uint32_t>(body_.size() + 4)); }

Bytes WavBuilder::Build(std::uint32_t riffSize) const {
  Bytes out;
  PutId(out, "RIFF");
  PutLe32(out, riffSize);
  PutId(out, "WAVE");
  out.insert(out.end(), body_.begin(), body_.end());
  return out;
}

Bytes SimpleWav(int channels, const std::vector<std::int16_t>& samples, std::uint32_t rate) {
  return WavBuilder().Fmt(static_cast<std::uint16_t>(channels), rate).Data(samples).Build();
}

ParsedWav ParseWav(const Bytes& file) {
  ParsedWav wav;
  wav.fileLength = file.size();
  auto fail = [&](const char* why) {
    wav.problem = why;
    return wav;
  };
  if (file.size() < 12) return fail("shorter than a RIFF header");
  if (std::string(file.begin(), file.begin() + 4) != "RIFF") return fail("no RIFF");
  if (std::string(file.begin() + 8, file.begin() + 12) != "WAVE") return fail("no WAVE");
  wav.riffSize = GetLe32(file, 4);
  bool haveFmt = false, haveData = false;
  std::size_t at = 12;
  while (at + 8 <= file.size()) {
    std::string id(file.begin() + at, file.begin() + at + 4);
    std::uint32_t size = GetLe32(file, at + 4);
    std::size_t body = at + 8;
    if (body + size > file.size()) return fail("chunk runs past the end");
    if (id == "fmt ") {
      if (size < 16) return fail("short fmt");
      haveFmt = true;
      wav.fmtSize = size;
      wav.formatTag = GetLe16(file, body);
      wav.channels = GetLe16(file, body + 2);
      wav.rate = GetLe32(file, body + 4);
      wav.byteRate = GetLe32(file, body + 8);
      wav.blockAlign = GetLe16(file, body + 12);
      wav.bits = GetLe16(file, body + 14);
    } else if (id == "data") {
      haveData = true;
      wav.dataSize = size;
      wav.data.assign(file.begin() + body, file.begin() + body + size);
    }
    at = body + size + (size & 1);
  }
  if (!haveFmt || !haveData) return fail("missing fmt or data");
  wav.ok = true;
  return wav;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("short write " + path);
}

}  // namespace corvella::test
