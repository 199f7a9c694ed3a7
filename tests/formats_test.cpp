// Every WAV a recorder writes: 8-, 16-, 24- and 32-bit PCM, 32- and 64-bit
// float, plain and extensible, 1 to 8 channels, RF64 with its ds64 chunk.
// Recordings are synthesised here; the parts found are compared with the
// detection rule stated plainly, and every part is read back byte for byte.

#include <bit>
#include <cmath>
#include <fstream>
#include <limits>
#include <random>

#include "batch/PartWalk.h"
#include "detect/Units.h"
#include "support/CliRun.h"
#include "support/FaultyFiles.h"
#include "support/Fixture.h"
#include "support/Model.h"
#include "wave/PartWriter.h"

namespace corvella::test {
namespace {

namespace fs = std::filesystem;
using wave::SampleType;

struct Layout {
  const char* name;
  std::uint16_t tag;  // 1, 3 or 0xFFFE
  std::uint16_t subTag;
  int channels;
  int bits;                      // the container
  std::uint16_t formatBits = 0;  // wBitsPerSample when it differs (12 bits in 16)
  std::uint32_t mask = 0;
  bool Float() const { return tag == 3 || subTag == 3; }
  int Width() const { return bits / 8; }
};

const Layout kLayouts[] = {
    {"8-bit mono", 1, 0, 1, 8},
    {"16-bit six channels", 1, 0, 6, 16},
    {"24-bit stereo", 1, 0, 2, 24},
    {"32-bit eight channels", 1, 0, 8, 32},
    {"12 bits in 16, stereo", 1, 0, 2, 16, 12},
    {"float stereo", 3, 0, 2, 32},
    {"double mono", 3, 0, 1, 64},
    {"extensible 24-bit stereo", 0xFFFE, 1, 2, 24, 0, 0x3},
    {"extensible float 5.1", 0xFFFE, 3, 6, 32, 0, 0x3F},
    {"extensible 16-bit mono", 0xFFFE, 1, 1, 16, 0, 0x4},
};

Bytes FormatOf(const Layout& l, std::uint32_t rate) {
  Bytes body;
  const auto blockAlign = static_cast<std::uint16_t>(l.channels * l.Width());
  PutLe16(body, l.tag);
  PutLe16(body, static_cast<std::uint16_t>(l.channels));
  PutLe32(body, rate);
  PutLe32(body, rate * blockAlign);
  PutLe16(body, blockAlign);
  PutLe16(body, l.formatBits ? l.formatBits : static_cast<std::uint16_t>(l.bits));
  if (l.tag == 0xFFFE) {
    PutLe16(body, 22);
    PutLe16(body, static_cast<std::uint16_t>(l.bits));
    PutLe32(body, l.mask);
    PutLe16(body, l.subTag);
    for (std::uint8_t b :
         {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}) {
      body.push_back(b);
    }
  }
  return body;
}

// One sample as stored: an integer in the container's own range (8-bit
// ones before their offset of 128), or a float.
void PutSample(Bytes& out, const Layout& l, double value) {
  if (l.Float()) {
    if (l.bits == 32) {
      PutLe32(out, std::bit_cast<std::uint32_t>(static_cast<float>(value)));
    } else {
      const auto bits = std::bit_cast<std::uint64_t>(value);
      PutLe32(out, static_cast<std::uint32_t>(bits));
      PutLe32(out, static_cast<std::uint32_t>(bits >> 32));
    }
    return;
  }
  auto x = static_cast<std::int64_t>(value);
  if (l.bits == 8) x += 128;
  for (int i = 0; i < l.Width(); ++i)
    out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(x) >> (8 * i)));
}

// The detection rule, stated plainly: a b-bit sample x is loud when
// |x| * 2^16 > N * 2^b, a float one when |x| * 32768 > N or it is not a
// number; with a level A of full scale, when |x| > A * 2^(b-1) or |x| > A.
bool LoudSample(const Layout& l, double x, int floor, std::optional<double> db) {
  if (l.Float()) {
    const double limit = db ? std::pow(10.0, *db / 20) : floor / 32768.0;
    return std::isnan(x) || std::fabs(x) > limit;
  }
  const auto magnitude = static_cast<std::int64_t>(std::fabs(x));
  if (db && l.bits != 16)
    return static_cast<double>(magnitude) > std::pow(10.0, *db / 20) * std::ldexp(1.0, l.bits - 1);
  return magnitude * 65536 > static_cast<std::int64_t>(floor) << l.bits;
}

// Frames in runs of loud and silent ones clustered around the gap; loud
// ones just past the limit or at the extremes, quiet ones anywhere within it.
std::vector<double> RandomSamples(std::mt19937& random, const Layout& l, std::int64_t frames,
                                  int floor, std::int64_t gap) {
  const double full = std::ldexp(1.0, l.bits - 1);
  const double limit =
      l.Float() ? floor / 32768.0 : std::floor(floor * std::ldexp(1.0, l.bits - 16));
  std::uniform_int_distribution<int> coin(0, 9);
  std::uniform_real_distribution<double> quiet(-limit, limit);
  std::uniform_int_distribution<std::int64_t> near(-2, 2), any(1, 3 * gap + 3);
  std::vector<double> s;
  const auto total = static_cast<std::size_t>(frames * l.channels);
  for (bool loud = coin(random) < 5; s.size() < total; loud = !loud) {
    const std::int64_t run =
        coin(random) < 6 ? std::max<std::int64_t>(1, gap + near(random)) : any(random);
    for (std::int64_t i = 0; i < run * l.channels && s.size() < total; ++i) {
      const int pick = coin(random);
      double v = l.Float() ? quiet(random) : std::trunc(quiet(random));
      if (loud && pick < 5) {
        const double above = l.Float() ? std::nextafter(limit, 2.0) : limit + 1;
        v = pick == 0   ? (l.Float() ? (coin(random) < 5 ? std::nan("") : -INFINITY) : -full)
            : pick == 1 ? (l.Float() ? 1.0 : full - 1)
            : pick < 4  ? above
                        : -above;
      }
      // A value as it is stored, so the rule judges what the file holds.
      s.push_back(l.Float() && l.bits == 32 ? double{static_cast<float>(v)} : v);
    }
  }
  return s;
}

class Formats : public SourceFixture {
 protected:
  // A WAV of the layout; RF64 with its ds64 chunk when asked.
  Bytes File(const Layout& l, std::uint32_t rate, const Bytes& data, bool rf64 = false) {
    WavBuilder builder;
    if (rf64) {
      Bytes ds64;
      for (int i = 0; i < 28; ++i) ds64.push_back(0);
      builder.Chunk("ds64", ds64);
    }
    builder.Chunk("fmt ", FormatOf(l, rate));
    if (rf64) {
      builder.RawChunk("data", 0xFFFFFFFFu, data);
    } else {
      builder.Chunk("data", data);
    }
    Bytes file = builder.Build();
    if (rf64) {
      std::copy_n("RF64", 4, file.begin());
      for (int i = 4; i < 8; ++i) file[i] = 0xFF;
      const std::uint64_t riff = file.size() - 8, size = data.size();
      for (int i = 0; i < 8; ++i) {
        file[20 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
        file[28 + i] = static_cast<std::uint8_t>(size >> (8 * i));
      }
    }
    return file;
  }

  // Writes each part and checks its header and its frames, byte for byte.
  void CheckParts(wave::WaveSource& source, const Bytes& file, const Layout& l,
                  const std::vector<PartSpan>& parts) {
    wave::Error error;
    auto folder = wave::Folder::Open(wave::PlatformFiles(), dir.path(), error);
    const std::size_t dataAt = file.size() - source.Info().frames * l.channels * l.Width() -
                               ((source.Info().frames * l.channels * l.Width()) & 1);
    const Bytes format = FormatOf(l, static_cast<std::uint32_t>(source.Info().rate));
    for (const PartSpan& part : parts) {
      ASSERT_FALSE(wave::WritePart(source, part.start, part.end, *folder, "part.wav", {}));
      const Bytes written = ReadFile(dir / "part.wav");
      const std::size_t frameBytes = static_cast<std::size_t>(l.channels * l.Width());
      const std::size_t bytes = static_cast<std::size_t>(part.end - part.start) * frameBytes;
      Bytes want =
          WavBuilder()
              .Chunk("fmt ", format)
              .Chunk("data", Bytes(file.begin() + dataAt + part.start * frameBytes,
                                   file.begin() + dataAt + part.start * frameBytes + bytes))
              .Build();
      ASSERT_EQ(written, want) << l.name << " part " << part.start << "-" << part.end;
    }
  }
};

TEST_F(Formats, EveryLayoutFindsThePartsOfThePlainRuleAndCopiesThemExactly) {
  std::mt19937 random(11);
  for (const Layout& l : kLayouts) {
    for (int round = 0; round < 3; ++round) {
      const int floor = std::uniform_int_distribution<int>(1, 3000)(random);
      const std::int64_t gap = std::uniform_int_distribution<std::int64_t>(1, 3000)(random);
      const auto frames = std::uniform_int_distribution<std::int64_t>(1, 60000)(random);
      const std::vector<double> samples = RandomSamples(random, l, frames, floor, gap);
      Bytes data;
      for (double v : samples) PutSample(data, l, v);
      std::vector<bool> loud(static_cast<std::size_t>(frames), false);
      for (std::size_t i = 0; i < samples.size(); ++i) {
        if (LoudSample(l, samples[i], floor, {})) loud[i / l.channels] = true;
      }
      const Bytes file = File(l, 44100, data, round == 2);
      auto source = Open(file, "in.wav", wave::Acceptance::AnyWave);
      ASSERT_TRUE(source) << l.name;
      EXPECT_FALSE(source->Info().plain16);
      params.noiseFloor = floor;
      params.gapThreshold = static_cast<int>(gap);
      std::vector<PartSpan> want;
      for (const Span& span : ModelParts(loud, gap)) want.push_back({span.start, span.end});
      const std::vector<PartSpan> found = Walk(*source);
      ASSERT_EQ(found, want) << l.name << ", floor " << floor << ", gap " << gap;
      CheckParts(*source, file, l, found);
    }
  }
}

TEST_F(Formats, LevelsInDecibelsAreExactBeyondSixteenBits) {
  // At -110 dBFS a 24-bit sample is loud past 26.5: 27 is, 26 is not.
  const Layout l{"24-bit", 1, 0, 1, 24};
  Bytes data;
  for (double v : {0.0, 26.0, -26.0, 0.0, 27.0, 0.0, 0.0, 0.0, -27.0, 0.0}) PutSample(data, l, v);
  auto source = Open(File(l, 44100, data), "in.wav", wave::Acceptance::AnyWave);
  params.thresholdDb = -110;
  params.gapThreshold = 2;
  EXPECT_EQ(Walk(*source), (std::vector<PartSpan>{{4, 5}, {8, 9}}));
  // A float recording: 10^(-110/20) itself is silent, the next float up loud.
  const Layout f{"float", 3, 0, 1, 32};
  const double limit = std::pow(10.0, -110.0 / 20);
  const float at = static_cast<float>(limit) <= limit
                       ? static_cast<float>(limit)
                       : std::nextafter(static_cast<float>(limit), 0.0f);
  data.clear();
  for (double v : {0.0, double{at}, 0.0, 0.0, double{std::nextafter(at, 1.0f)}})
    PutSample(data, f, v);
  auto floats = Open(File(f, 44100, data), "f.wav", wave::Acceptance::AnyWave);
  EXPECT_EQ(Walk(*floats), (std::vector<PartSpan>{{4, 5}}));
}

TEST_F(Formats, MonoPartsHoldTheMeanOfTheChannels) {
  struct Case {
    Layout layout;
    std::vector<double> frame;  // one frame's samples
    double mean;
  };
  const Case cases[] = {
      {{"8-bit", 1, 0, 3, 8}, {-128, -1, 0}, -43},  // -129 / 3, toward zero
      {{"16-bit", 1, 0, 6, 16}, {-32768, -32768, -32768, -32768, -32768, -32767}, -32767},
      {{"24-bit", 1, 0, 2, 24}, {-3, 0}, -1},
      {{"32-bit", 1, 0, 2, 32}, {2147483647, 2147483647}, 2147483647},
      {{"float", 3, 0, 3, 32},
       {0.1, 0.2, 0.4},
       static_cast<float>((double{0.1f} + double{0.2f} + double{0.4f}) / 3)},
      {{"extensible float", 0xFFFE, 3, 2, 64, 0, 0x3}, {1.0, -0.5}, 0.25},
  };
  for (const Case& c : cases) {
    Bytes data;
    for (double v : c.frame) PutSample(data, c.layout, v);
    auto source = Open(File(c.layout, 48000, data), "in.wav", wave::Acceptance::AnyWave);
    wave::Error error;
    auto folder = wave::Folder::Open(wave::PlatformFiles(), dir.path(), error);
    wave::WriteOptions options;
    options.mono = true;
    ASSERT_FALSE(wave::WritePart(*source, 0, 1, *folder, "mono.wav", options));
    Layout one = c.layout;
    one.channels = 1;
    one.mask = c.layout.mask ? 0x4 : 0;
    Bytes want;
    PutSample(want, one, c.mean);
    EXPECT_EQ(ReadFile(dir / "mono.wav"),
              WavBuilder().Chunk("fmt ", FormatOf(one, 48000)).Chunk("data", want).Build())
        << c.layout.name;
  }
}

TEST_F(Formats, RefusalsSayWhatWasFound) {
  const Bytes data(12, 0);
  auto with = [&](std::uint16_t tag, std::uint16_t channels, std::uint16_t bits,
                  std::uint16_t blockAlign) {
    Bytes body = FormatBody(tag, channels, 44100, bits);
    body[12] = static_cast<std::uint8_t>(blockAlign);
    body[13] = static_cast<std::uint8_t>(blockAlign >> 8);
    return WavBuilder().Chunk("fmt ", body).Chunk("data", data).Build();
  };
  Bytes oddGuid = File({"", 0xFFFE, 1, 2, 16, 0, 3}, 44100, data);
  oddGuid[20 + 24 + 2] ^= 0xFF;  // the GUID's tail
  Bytes twenty = File({"", 0xFFFE, 1, 12, 24, 0, 0}, 44100, Bytes(72, 0));
  twenty[20 + 14] = 20;  // wBitsPerSample: not the 24-bit container an extensible chunk names
  const std::pair<Bytes, std::string> cases[] = {
      {with(6, 1, 8, 1), "unsupported sample format: A-law"},
      {with(2, 1, 4, 256), "unsupported sample format: Microsoft ADPCM"},
      {with(3, 2, 16, 4),
       "2 channels of 16-bit float samples in 16-bit containers are not supported"},
      {with(1, 65, 16, 130), "65 channels are not supported (1 to 64 are)"},
      {with(1, 0, 16, 0), "0 channels are not supported (1 to 64 are)"},
      {with(1, 3, 16, 4), "a block align of 4 bytes does not hold 3 channels"},
      {oddGuid, "unsupported sample format: a subformat that is not PCM or IEEE float"},
      {twenty, "12 channels of 20-bit samples in 24-bit containers are not supported"},
  };
  for (const auto& [file, message] : cases)
    EXPECT_EQ(Refusal(file, wave::Acceptance::AnyWave), message);
  // The window's own checks stay as they were.
  EXPECT_EQ(Refusal(with(1, 2, 24, 6)), "Not 16 bits per sample!");
}

TEST_F(Formats, Rf64PartsPastTheRiffLimitAndSourcesPastFourGigabytes) {
  // A part that would not fit RIFF's sizes is RF64: RF64, WAVE, ds64, fmt, data.
  const Layout l{"24-bit", 1, 0, 2, 24};
  Bytes data;
  for (int i = 0; i < 200; ++i) PutSample(data, l, i % 3 ? 5000 : -5000);
  auto source = Open(File(l, 96000, data), "in.wav", wave::Acceptance::AnyWave);
  wave::Error error;
  auto folder = wave::Folder::Open(wave::PlatformFiles(), dir.path(), error);
  wave::WriteOptions options;
  options.riffLimit = 100;
  ASSERT_FALSE(wave::WritePart(*source, 10, 90, *folder, "big.wav", options));
  const Bytes part = ReadFile(dir / "big.wav");
  Bytes want{'R', 'F', '6', '4', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A',
             'V', 'E', 'd', 's', '6',  '4',  28,   0,    0,   0};
  for (std::uint64_t v : {std::uint64_t{part.size() - 8}, std::uint64_t{480}, std::uint64_t{80}}) {
    PutLe32(want, static_cast<std::uint32_t>(v));
    PutLe32(want, static_cast<std::uint32_t>(v >> 32));
  }
  PutLe32(want, 0);
  const Bytes body =
      WavBuilder()
          .Chunk("fmt ", FormatOf(l, 96000))
          .RawChunk("data", 0xFFFFFFFFu, Bytes(data.begin() + 60, data.begin() + 540))
          .Build();
  want.insert(want.end(), body.begin() + 12, body.end());
  EXPECT_EQ(part, want);

  // A sparse RF64 source of more than 4 GiB with a part at each end. Its
  // zero bytes are full-scale 8-bit samples; at 44.1 MHz half a second of
  // silence (128) around the middle sets the three parts apart, and the
  // searches read little more than the silences.
  const std::uint64_t frames = 5ull << 30;
  const std::int64_t gap = detect::GapFrames(params.gapThreshold, 44100000);
  Bytes head = File({"8-bit", 1, 0, 1, 8}, 44100000, {}, true);
  const std::size_t dataAt = head.size();
  for (int i = 0; i < 8; ++i) head[28 + i] = static_cast<std::uint8_t>(frames >> (8 * i));
  for (int i = 0; i < 8; ++i)
    head[20 + i] = static_cast<std::uint8_t>((dataAt - 8 + frames) >> (8 * i));
  dir.Put("huge.wav", head);
  const std::int64_t last = static_cast<std::int64_t>(frames) - 1000;
  {
    const std::vector<char> silence(static_cast<std::size_t>(gap + 1000), static_cast<char>(128));
    std::fstream f(dir / "huge.wav", std::ios::in | std::ios::out | std::ios::binary);
    for (std::int64_t at : {std::int64_t{1000}, last - gap - 1000}) {
      f.seekp(static_cast<std::streamoff>(dataAt + at));
      f.write(silence.data(), static_cast<std::streamsize>(silence.size()));
    }
  }
  fs::resize_file(dir / "huge.wav", dataAt + frames);
  FaultyFiles sparse;
  sparse.readAhead = false;  // fetching ahead would fill memory with the holes' zeros
  auto huge = wave::OpenWave(sparse, dir / "huge.wav", wave::Acceptance::AnyWave).source;
  ASSERT_TRUE(huge);
  EXPECT_EQ(huge->Info().frames, static_cast<std::int64_t>(frames));
  EXPECT_EQ(Walk(*huge), (std::vector<PartSpan>{
                             {0, 1000}, {gap + 2000, last - gap - 1000}, {last, last + 1000}}));
  ASSERT_FALSE(wave::WritePart(*huge, last, last + 1000, *folder, "last.wav", {}));
  EXPECT_EQ(PartData(dir / "last.wav"), Bytes(1000, 0));
}

TEST_F(Formats, APartOfMoreThanFourGigabytesIsAValidRf64File) {
  std::error_code spaceError;
  if (fs::space(U8(dir.path()), spaceError).available < (12ull << 30) || spaceError) {
    GTEST_SKIP() << "needs 12 GiB free to write a part of more than 4 GiB";
  }
  // 8-bit silence is 128: a sparse file's zero bytes are full-scale samples,
  // so the whole recording is one loud part of 4.25 GiB.
  const std::uint64_t bytes = (17ull << 30) / 4;
  Bytes head = File({"8-bit", 1, 0, 1, 8}, 8000, {}, true);
  const std::size_t dataAt = head.size();
  for (int i = 0; i < 8; ++i) head[28 + i] = static_cast<std::uint8_t>(bytes >> (8 * i));
  for (int i = 0; i < 8; ++i)
    head[20 + i] = static_cast<std::uint8_t>((dataAt - 8 + bytes) >> (8 * i));
  dir.Put("loud.wav", head);
  fs::resize_file(dir / "loud.wav", dataAt + bytes);
  auto source =
      wave::OpenWave(wave::PlatformFiles(), dir / "loud.wav", wave::Acceptance::AnyWave).source;
  ASSERT_TRUE(source);
  ASSERT_EQ(Walk(*source), (std::vector<PartSpan>{{0, static_cast<std::int64_t>(bytes)}}));
  wave::Error error;
  auto folder = wave::Folder::Open(wave::PlatformFiles(), dir.path(), error);
  ASSERT_FALSE(
      wave::WritePart(*source, 0, static_cast<std::int64_t>(bytes), *folder, "part.wav", {}));
  source.reset();
  fs::remove(dir / "loud.wav");
  // Read back as any reader would: through its ds64 chunk.
  auto part =
      wave::OpenWave(wave::PlatformFiles(), dir / "part.wav", wave::Acceptance::AnyWave).source;
  ASSERT_TRUE(part);
  EXPECT_EQ(part->Layout(), wave::Layout::Rf64);
  EXPECT_EQ(part->Info().frames, static_cast<std::int64_t>(bytes));
  EXPECT_EQ(fs::file_size(dir / "part.wav"), part->DataOffset() + bytes);
  std::uint8_t sample = 1;
  EXPECT_EQ(part->ReadSamples(static_cast<std::int64_t>(bytes) - 1, &sample, 1), 1);
  EXPECT_EQ(sample, 0);
}

TEST_F(Formats, KeptMetadataMovesTheBroadcastTimeReference) {
  const Layout l{"24-bit", 1, 0, 1, 24};
  Bytes bext(602, 0);
  std::copy_n("a field recorder", 16, bext.begin());
  const std::uint64_t reference = 48000ull * 3600 * 10;  // ten o'clock
  for (int i = 0; i < 8; ++i) bext[338 + i] = static_cast<std::uint8_t>(reference >> (8 * i));
  const Bytes ixml{'<', 'B', 'W', 'F', 'X', 'M', 'L', '/', '>'};
  const Bytes info{'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 4, 0, 0, 0, 't', 'a', 'k', 'e'};
  const Bytes labels{'a', 'd', 't', 'l', 'l', 'a', 'b', 'l', 4, 0, 0, 0, 1, 0, 0, 0};
  Bytes data;
  for (int i = 0; i < 100; ++i) PutSample(data, l, 4000);
  const Bytes file = WavBuilder()
                         .Chunk("bext", bext)
                         .Chunk("fmt ", FormatOf(l, 48000))
                         .Chunk("iXML", ixml)
                         .Chunk("LIST", labels)
                         .Chunk("LIST", info)
                         .Chunk("data", data)
                         .Build();
  auto source = Open(file, "in.wav", wave::Acceptance::AnyWave);
  wave::Error error;
  auto folder = wave::Folder::Open(wave::PlatformFiles(), dir.path(), error);
  wave::WriteOptions options;
  options.keepMetadata = true;
  ASSERT_FALSE(wave::WritePart(*source, 40, 60, *folder, "part.wav", options));
  Bytes moved = bext;
  for (int i = 0; i < 8; ++i)
    moved[338 + i] = static_cast<std::uint8_t>((reference + 40) >> (8 * i));
  EXPECT_EQ(ReadFile(dir / "part.wav"),
            WavBuilder()
                .Chunk("fmt ", FormatOf(l, 48000))
                .Chunk("bext", moved)
                .Chunk("iXML", ixml)
                .Chunk("LIST", info)
                .Chunk("data", Bytes(data.begin() + 120, data.begin() + 180))
                .Build());
}

TEST_F(Formats, TheCommandLineReadsThemAll) {
  fs::current_path(dir.path());
  // Three tracks of a 24-bit 96 kHz stereo recording, its noise at -110 dBFS.
  const Layout l{"24-bit", 1, 0, 2, 24};
  Bytes data;
  std::mt19937 random(3);
  std::uniform_int_distribution<int> hiss(-20, 20);
  for (int track = 0; track < 3; ++track) {
    for (int f = 0; f < 96000; ++f)
      PutSample(data, l, hiss(random)), PutSample(data, l, hiss(random));
    for (int f = 0; f < 48000; ++f)
      PutSample(data, l, f % 2 ? 400000 : -400000), PutSample(data, l, 1000);
  }
  dir.Put("take.wav", File(l, 96000, data));
  dir.Put("alaw.wav",
          WavBuilder().Chunk("fmt ", FormatBody(6, 1, 8000, 8)).Chunk("data", Bytes(8, 0)).Build());
  std::atomic<int> stop{0};
  ShellResult r = RunCli({"count", "take.wav", "alaw.wav"}, stop);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "File \"take.wav\" contains 3 parts!\n");
  EXPECT_EQ(r.err, "corvella-cli: alaw.wav: unsupported sample format: A-law\n");
  // -110 dBFS lets the hiss (at most 20 of 2^23) through as silence; -130 does not.
  EXPECT_EQ(RunCli({"count", "--threshold-db", "-130", "take.wav"}, stop).out,
            "File \"take.wav\" contains 1 parts!\n");
  r = RunCli({"split", "-q", "--mono", "--threshold-db", "-110", "take.wav"}, stop);
  ASSERT_EQ(r.status, 0) << r.err;
  Bytes mono;
  for (int f = 0; f < 48000; ++f) PutSample(mono, {"", 1, 0, 1, 24}, f % 2 ? 200500 : -199500);
  EXPECT_EQ(
      ReadFile(dir / "take_002.wav"),
      WavBuilder().Chunk("fmt ", FormatOf({"", 1, 0, 1, 24}, 96000)).Chunk("data", mono).Build());
  r = RunCli({"list", "-f", "csv", "take.wav"}, stop);
  EXPECT_NE(
      r.out.find("\ntake.wav,2,240000,288000,2.500000,3.000000,0.500000,-26.4,take_002.wav\n"),
      std::string::npos)
      << r.out;
  r = RunCli({"levels", "take.wav"}, stop);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("take.wav: 96000 Hz, 2 channels, 4.5 s, 450 windows of 10 ms"),
            std::string::npos)
      << r.out;
}

}  // namespace
}  // namespace corvella::test
