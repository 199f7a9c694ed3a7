// FLAC through libFLAC: the kinds of stream the FLAC test vectors hold, made
// here (4 to 32 bits, 1 to 8 channels, odd rates, variable block sizes, no
// length), read back sample for sample against libFLAC's own decoding and
// split as the plain rule says; damaged, cut, mislabelled and spliced
// streams refused with where; parts encoded at every width with their
// layout, signature, seek table and a WAV source's chunks.
#include <cmath>
#include <random>

#include "batch/Analysis.h"
#include "detect/Levels.h"
#include "messages/Messages.h"
#include "detect/Units.h"
#include "formats/Formats.h"
#include "support/CliRun.h"
#include "support/Fixture.h"
#include "support/FlacMaker.h"
#include "support/OneCore.h"
#include "support/Model.h"

namespace corvella::test {
namespace {

namespace fs = std::filesystem;

// Whether a b-bit sample is loud for the noise floor N: |x| * 2^16 > N * 2^b.
bool Loud(std::int32_t x, int bits, int floor) {
  return std::abs(std::int64_t{x}) * 65536 > (std::int64_t{floor} << bits);
}

std::vector<PartSpan> ModelOf(const std::vector<std::int32_t>& samples, int channels, int bits,
                              int floor, std::int64_t gap) {
  std::vector<bool> loud(samples.size() / static_cast<std::size_t>(channels), false);
  for (std::size_t i = 0; i < samples.size(); ++i)
    if (Loud(samples[i], bits, floor)) loud[i / static_cast<std::size_t>(channels)] = true;
  std::vector<PartSpan> parts;
  for (const Span& span : ModelParts(loud, gap)) parts.push_back({span.start, span.end});
  return parts;
}

class Flac : public SourceFixture {
 protected:
  void SetUp() override { fs::current_path(dir.path()); }
  ShellResult Cli(const std::vector<std::string>& args) { return RunCli(args, stop); }

  std::unique_ptr<wave::Source> OpenAny(const std::string& name, wave::Error* error = nullptr,
                                        bool salvage = false) {
    formats::OpenedSource opened =
        formats::OpenSource(wave::PlatformFiles(), dir / name, {salvage});
    if (error) *error = opened.error;
    return std::move(opened.source);
  }
  // Every sample of a source, right-aligned; empty when a read failed.
  static std::vector<std::int32_t> ReadAll(wave::Source& source) {
    const wave::SourceInfo& info = source.Info();
    std::vector<std::int32_t> samples(static_cast<std::size_t>(info.frames * info.channels));
    const std::int64_t bytes = info.frames * info.FrameBytes();
    if (source.ReadSamples(0, samples.data(), bytes) != bytes) return {};
    for (std::int32_t& s : samples) s >>= 32 - info.bits;
    return samples;
  }

  std::atomic<int> stop{0};
};

TEST_F(Flac, EveryValidStreamReadsBackExactlyAndSplitsAsTheRuleSays) {
  struct Kind {
    int bits, channels, rate, blocksize;
  };
  const Kind kinds[] = {{4, 1, 8000, 192},    {8, 2, 22050, 1152},   {12, 2, 44100, 4096},
                        {16, 6, 48000, 4608}, {20, 2, 96000, 16384}, {24, 8, 192000, 4096},
                        {32, 2, 44100, 4096}, {16, 1, 37, 576},      {24, 3, 705600, 8192}};
  std::mt19937 random(11);
  for (const Kind& k : kinds) {
    const std::string name = std::to_string(k.bits) + "-bit, " + std::to_string(k.channels) +
                             " channels, " + std::to_string(k.rate) + " Hz";
    FlacStream stream;
    stream.bits = k.bits;
    stream.channels = k.channels;
    stream.rate = k.rate;
    stream.blocksize = k.blocksize;
    const std::int64_t frames = 40000;
    stream.samples =
        Passages(k.channels, k.bits, frames, {{1000, 9000}, {9100, 15000}, {30000, 39990}},
                 static_cast<unsigned>(random()));
    dir.Put("in.flac", EncodeFlac(stream));
    const DecodedFlac yardstick = DecodeFlac(ReadFile(dir / "in.flac"));
    ASSERT_TRUE(yardstick.clean && yardstick.md5Matched) << name;
    ASSERT_EQ(yardstick.samples, stream.samples) << name;

    wave::Error error;
    auto source = OpenAny("in.flac", &error);
    ASSERT_TRUE(source) << name << ": " << messages::MessageOf(error);
    EXPECT_EQ(source->Info().container, "FLAC");
    EXPECT_EQ(source->Info().bits, k.bits) << name;
    EXPECT_EQ(source->Info().frames, frames) << name;
    // The scanner's parts are the plain rule's, whatever the width.
    const int floor = 1 + static_cast<int>(random() % 3000);
    params.noiseFloor = floor;
    params.gapThreshold = 2000;
    const std::int64_t gap = detect::GapFrames(2000, k.rate);
    EXPECT_EQ(Walk(*source), ModelOf(stream.samples, k.channels, k.bits, floor, gap)) << name;
    EXPECT_EQ(ReadAll(*source), stream.samples) << name;
  }
}

TEST_F(Flac, VariableBlockSizesAndStreamsWithoutALengthAreReadWhole) {
  // Three runs of one recording encoded with different block sizes, their
  // frames renumbered by sample as a variable block size encoder numbers them.
  const auto samples = Passages(2, 16, 60000, {{500, 8000}, {40000, 59000}});
  Bytes joined;
  std::uint64_t first = 0;
  const std::pair<std::size_t, int> runs[] = {{0, 1152}, {20000, 4096}, {42000, 576}};
  for (std::size_t r = 0; r < 3; ++r) {
    const std::size_t from = runs[r].first;
    const std::size_t to = r + 1 < 3 ? runs[r + 1].first : 60000;
    FlacStream piece;
    piece.blocksize = runs[r].second;
    piece.samples.assign(samples.begin() + static_cast<std::ptrdiff_t>(2 * from),
                         samples.begin() + static_cast<std::ptrdiff_t>(2 * to));
    const Bytes flac = EncodeFlac(piece);
    const std::vector<FrameSpan> frames = FramesOf(flac);
    if (r == 0)
      joined.assign(flac.begin(), flac.begin() + static_cast<std::ptrdiff_t>(frames[0].start));
    std::uint64_t at = from;
    for (const FrameSpan& frame : frames) {
      const Bytes renumbered = Renumbered(flac, frame, true, at);
      joined.insert(joined.end(), renumbered.begin(), renumbered.end());
      // Frames are as long as their block size, the last shorter.
      at += std::min<std::uint64_t>(static_cast<std::uint64_t>(runs[r].second), to - at);
    }
    first = at;
  }
  ASSERT_EQ(first, 60000u);
  SetBlockSizes(joined, 576, 4096);
  SetTotal(joined, 60000);
  const std::uint8_t none[16] = {};
  SetMd5(joined, none);
  const DecodedFlac yardstick = DecodeFlac(joined);
  ASSERT_TRUE(yardstick.clean);
  ASSERT_EQ(yardstick.samples, samples);
  dir.Put("variable.flac", joined);
  auto source = OpenAny("variable.flac");
  ASSERT_TRUE(source);
  EXPECT_EQ(ReadAll(*source), samples);
  // Written as a stream: no length in STREAMINFO. Counted, then read whole.
  SetTotal(joined, 0);
  dir.Put("stream.flac", joined);
  source = OpenAny("stream.flac");
  ASSERT_TRUE(source);
  EXPECT_EQ(source->Info().frames, 60000);
  EXPECT_EQ(ReadAll(*source), samples);
  source.reset();
  // And split exactly, part 2 from its first loud frame to its last.
  ShellResult r = Cli({"split", "-q", "stream.flac"});
  ASSERT_EQ(r.status, 0) << r.err;
  const DecodedFlac part = DecodeFlac(ReadFile(dir / "stream_002.flac"));
  EXPECT_EQ(part.samples,
            std::vector<std::int32_t>(samples.begin() + 2 * 40000, samples.begin() + 2 * 59000));
}

TEST_F(Flac, AWrongLengthIsReadToTheStreamsEndAndSaidOnStderr) {
  FlacStream stream;
  stream.samples = Passages(2, 16, 109487, {{1000, 30000}, {55000, 80000}, {105000, 109400}});
  Bytes flac = EncodeFlac(stream);
  dir.Put("right.flac", flac);
  ShellResult right = Cli({"list", "-f", "csv", "right.flac"});
  ASSERT_EQ(right.status, 0) << right.err;
  for (std::uint64_t total : {std::uint64_t{39842}, std::uint64_t{200000}}) {
    SetTotal(flac, total);
    dir.Put("wrong.flac", flac);
    ShellResult r = Cli({"list", "-f", "csv", "wrong.flac"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "corvella-cli: wrong.flac: its header gives " + std::to_string(total) +
                         " frames, but the stream holds 109487: read to its end\n");
    // The same parts as the right file's, to the last one.
    std::string parts = right.out;
    for (std::size_t at; (at = parts.find("right")) != std::string::npos;)
      parts.replace(at, 5, "wrong");
    EXPECT_EQ(r.out, parts);
    r = Cli({"split", "-q", "wrong.flac"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(DecodeFlac(ReadFile(dir / "wrong_003.flac")).samples,
              std::vector<std::int32_t>(stream.samples.begin() + 2 * 105000,
                                        stream.samples.begin() + 2 * 109400));
  }
}

TEST_F(Flac, DamageStopsTheFileSayingWhereAndKeepsOnlyWholeParts) {
  FlacStream stream;
  stream.samples = Passages(2, 16, 200000, {{1000, 30000}, {60000, 90000}, {150000, 190000}});
  const Bytes flac = EncodeFlac(stream);
  const std::vector<FrameSpan> frames = FramesOf(flac);
  // Fifty damaged bytes in a frame of the third part.
  Bytes damaged = flac;
  const FrameSpan hit = frames[160000 / 4096];
  std::fill(damaged.begin() + static_cast<std::ptrdiff_t>(hit.start + 20),
            damaged.begin() + static_cast<std::ptrdiff_t>(hit.start + 70), 0);
  dir.Put("damaged.flac", damaged);
  fs::create_directory(dir / "out");
  ShellResult r = Cli({"split", "-o", "out", "damaged.flac"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("corvella-cli: damaged.flac: Unable to read file! ("), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(" at sample 159744, byte "), std::string::npos) << r.err;
  // The parts before the damage are whole and exact; nothing else is left.
  EXPECT_EQ(dir.Names("out"), (std::vector<std::string>{"damaged_001.flac", "damaged_002.flac"}));
  EXPECT_EQ(DecodeFlac(ReadFile(dir / "out/damaged_002.flac")).samples,
            std::vector<std::int32_t>(stream.samples.begin() + 2 * 60000,
                                      stream.samples.begin() + 2 * 90000));
  // count, list and levels agree: an error, exit 1, no count.
  r = Cli({"count", "damaged.flac"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Cli({"list", "damaged.flac"}).status, 1);
  EXPECT_EQ(Cli({"levels", "damaged.flac"}).status, 1);

  // A signature that does not match: damage that decodes, found at the end.
  Bytes signed_ = flac;
  const std::uint8_t wrong[16] = {1, 2, 3};
  SetMd5(signed_, wrong);
  dir.Put("md5.flac", signed_);
  for (const char* command : {"count", "list", "levels", "split"}) {
    r = Cli({command, "md5.flac"});
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_NE(r.err.find("Unable to read file! (the decoded audio does not match its MD5 "
                         "signature: the file is damaged)"),
              std::string::npos)
        << command << ": " << r.err;
  }
  EXPECT_EQ(Cli({"count", "md5.flac"}).out, "");
  // Where the damage is nobody knows: no part of it is written.
  EXPECT_FALSE(fs::exists(dir / "md5_001.flac"));

  // Cut off in a copy, in the middle of a frame: refused, or salvaged.
  dir.Put("cut.flac",
          Bytes(flac.begin(), flac.begin() + static_cast<std::ptrdiff_t>(hit.start + 100)));
  r = Cli({"count", "cut.flac"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "corvella-cli: cut.flac: Unable to read file! (the file ends in the middle of a "
            "frame, after sample 159744 of the 200000 its header gives; --salvage reads the "
            "frames before)\n");
  r = Cli({"count", "--salvage", "cut.flac"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "File \"cut.flac\" contains 3 parts!\n");
  EXPECT_NE(r.err.find("salvaged: the file ends in the middle of a frame, after sample 159744"),
            std::string::npos);
}

TEST_F(Flac, AStreamDecodedOnEveryCoreIsExactAndRefusedWhereOneCoreRefusesIt) {
  // Long enough to be cut into stretches for the cores: 40 s of loud
  // passages and quiet gaps, a few MB of frames.
  const std::int64_t length = 1800000;
  std::vector<std::pair<std::int64_t, std::int64_t>> loud;
  for (std::int64_t at = 1000; at + 150000 < length; at += 240000) loud.push_back({at, at + 150000});
  FlacStream stream;
  stream.samples = Passages(2, 16, length, loud, 7);
  const Bytes flac = EncodeFlac(stream);
  ASSERT_GT(flac.size(), 3u << 20);
  dir.Put("long.flac", flac);
  wave::Error error;
  auto source = OpenAny("long.flac");
  ASSERT_TRUE(source);
  EXPECT_EQ(ReadAll(*source), stream.samples);
  // Read a second time from the start (levels checks its reading by a count).
  EXPECT_EQ(ReadAll(*source), stream.samples);
  source.reset();
  ShellResult many = Cli({"list", "long.flac"});
  ASSERT_EQ(many.status, 0) << many.err;
  ShellResult one;
  {
    OneCore held;
    one = Cli({"list", "long.flac"});
  }
  EXPECT_EQ(many.out, one.out);
  EXPECT_NE(many.out.find(": 7 parts ("), std::string::npos) << many.out;
  ASSERT_EQ(Cli({"split", "-q", "-o", "out", "long.flac"}).status, 0);
  EXPECT_EQ(DecodeFlac(ReadFile(dir / "out/long_005.flac")).samples,
            std::vector<std::int32_t>(stream.samples.begin() + 2 * loud[4].first,
                                      stream.samples.begin() + 2 * loud[4].second));

  // Frames numbered by their first sample, of three block sizes: the
  // stretches join by sample and byte alike.
  Bytes variable;
  {
    const std::vector<FrameSpan> frames = FramesOf(flac);
    variable.assign(flac.begin(), flac.begin() + static_cast<std::ptrdiff_t>(frames[0].start));
    std::uint64_t at = 0;
    for (const FrameSpan& frame : frames) {
      const Bytes renumbered = Renumbered(flac, frame, true, at);
      variable.insert(variable.end(), renumbered.begin(), renumbered.end());
      at += std::min<std::uint64_t>(4096, static_cast<std::uint64_t>(length) - at);
    }
  }
  SetBlockSizes(variable, 1856, 4096);
  dir.Put("variable.flac", variable);
  source = OpenAny("variable.flac", &error);
  ASSERT_TRUE(source) << error.detail;
  EXPECT_EQ(ReadAll(*source), stream.samples);
  source.reset();

  // Mostly digital silence: a stretch of a few KB decodes to millions of
  // samples, and is handed on in pieces.
  FlacStream quiet;
  quiet.samples = Passages(2, 16, length, {{1000, 50000}, {1700000, 1750000}}, 3);
  dir.Put("quiet.flac", EncodeFlac(quiet));
  source = OpenAny("quiet.flac");
  ASSERT_TRUE(source);
  EXPECT_EQ(ReadAll(*source), quiet.samples);
  source.reset();
  EXPECT_EQ(Cli({"count", "quiet.flac"}).out, "File \"quiet.flac\" contains 2 parts!\n");

  // Damage in a stretch far from the start, and near the stream's end: the
  // same refusal, with the same sample and byte, as frame by frame.
  const std::vector<FrameSpan> frames = FramesOf(flac);
  // A frame of a loud passage from `from` on (a quiet one is a few bytes).
  const auto loudFrame = [&](std::size_t from, int step) {
    while (frames[from].end - frames[from].start < 1000) from += static_cast<std::size_t>(step);
    return from;
  };
  for (const std::size_t frame : {loudFrame(frames.size() / 2, 1), loudFrame(frames.size() * 3 / 4, 1),
                                  loudFrame(frames.size() - 1, -1)}) {
    Bytes damaged = flac;
    const FrameSpan hit = frames[frame];
    std::fill(damaged.begin() + static_cast<std::ptrdiff_t>(hit.start + 20),
              damaged.begin() + static_cast<std::ptrdiff_t>(hit.start + 40), 0x55);
    dir.Put("damaged.flac", damaged);
    for (const char* command : {"count", "levels"}) {
      many = Cli({command, "damaged.flac"});
      {
        OneCore held;
        one = Cli({command, "damaged.flac"});
      }
      EXPECT_EQ(many.status, 1) << command;
      EXPECT_EQ(many.err, one.err) << command;
      // Said at the damaged frame's first sample and byte.
      EXPECT_NE(many.err.find(" at sample " + std::to_string(frame * 4096) + ", byte " +
                              std::to_string(hit.start) + ")"),
                std::string::npos)
          << many.err;
    }
  }
  // A signature that does not match: summed on a thread of its own, and
  // still found.
  Bytes wrong = flac;
  const std::uint8_t other[16] = {9, 9, 9};
  SetMd5(wrong, other);
  dir.Put("md5.flac", wrong);
  many = Cli({"count", "md5.flac"});
  EXPECT_EQ(many.status, 1);
  EXPECT_NE(many.err.find("does not match its MD5 signature"), std::string::npos) << many.err;
  source = OpenAny("md5.flac");
  ASSERT_TRUE(source);
  EXPECT_TRUE(ReadAll(*source).empty());
  EXPECT_TRUE(source->WholeInDoubt());
}

TEST_F(Flac, PeaksTakenWhileAScanReadsAreThePeaksReadAgain) {
  // A decoder read once, in reads of any size with steps back over what was
  // read: the peak of any stretch from the summary and its ends is the peak
  // read again from the recording.
  FlacStream stream;
  stream.samples = Passages(2, 16, 300000, {{100, 90000}, {120000, 121000}, {200000, 299000}}, 5);
  dir.Put("peaks.flac", EncodeFlac(stream));
  auto source = OpenAny("peaks.flac");
  ASSERT_TRUE(source);
  const wave::SourceInfo info = source->Info();
  std::mt19937 random(11);
  batch::PeakTap tap(*source);
  std::vector<std::uint8_t> buffer;
  std::int64_t at = 0;
  const std::int64_t extent = info.frames * info.FrameBytes();
  while (at < extent) {
    const std::int64_t frames = std::uniform_int_distribution<std::int64_t>(1, 20000)(random);
    buffer.resize(static_cast<std::size_t>(frames * info.FrameBytes()));
    const std::int64_t got = tap.ReadSamples(at, buffer.data(), static_cast<std::int64_t>(buffer.size()));
    ASSERT_GT(got, 0);
    // Now and then a step back over part of what was read.
    const std::int64_t back = std::uniform_int_distribution<std::int64_t>(0, 3)(random) == 0 ? got / 2 : 0;
    at += got - back / info.FrameBytes() * info.FrameBytes();
  }
  ASSERT_TRUE(tap.Whole());
  std::vector<detect::PartSpan> summed, read;
  for (int i = 0; i < 300; ++i) {
    std::int64_t a = std::uniform_int_distribution<std::int64_t>(0, info.frames - 1)(random);
    std::int64_t b = std::uniform_int_distribution<std::int64_t>(0, info.frames)(random);
    if (i % 10 == 0) b = info.frames;  // parts that run to the end
    if (a > b) std::swap(a, b);
    if (a == b) ++b;
    summed.push_back({a, b});
  }
  read = summed;
  ASSERT_FALSE(batch::PeaksFromSummary(*source, tap.Peaks(), batch::PeakTap::kWindowFrames, summed));
  ASSERT_FALSE(detect::MeasurePeaks(*source, read));
  for (std::size_t i = 0; i < read.size(); ++i)
    ASSERT_EQ(summed[i].peak, read[i].peak) << read[i].start << "-" << read[i].end;

  // A read that skips ahead leaves the summary short: not to be used.
  batch::PeakTap skipped(*source);
  buffer.resize(4096);
  skipped.ReadSamples(0, buffer.data(), 4096);
  skipped.ReadSamples(8192, buffer.data(), 4096);
  EXPECT_FALSE(skipped.Whole());
}

TEST_F(Flac, AStreamWhoseShapeChangesOrWhoseHeaderLiesIsRefused) {
  FlacStream a;
  a.samples = Passages(2, 16, 20000, {{100, 19000}});
  const Bytes first = EncodeFlac(a);
  // The frames of a second stream of another rate, width or channel count,
  // numbered on from the first's.
  struct Change {
    int rate, bits, channels;
    const char* says;
  };
  const Change changes[] = {
      {48000, 16, 2, "the stream changes from 44100 to 48000 Hz at sample 20000"},
      {44100, 24, 2, "its header declares 16 bits, but a frame holds 24 at sample 20000"},
      {44100, 16, 1, "the stream changes from 2 to 1 channels at sample 20000"}};
  for (const Change& change : changes) {
    FlacStream b;
    b.rate = change.rate;
    b.bits = change.bits;
    b.channels = change.channels;
    b.samples = Passages(change.channels, change.bits, 12288, {{0, 12000}});
    const Bytes second = EncodeFlac(b);
    Bytes spliced = first;
    std::uint64_t number = (20000 + 4095) / 4096;
    for (const FrameSpan& frame : FramesOf(second)) {
      const Bytes renumbered = Renumbered(second, frame, false, number++);
      spliced.insert(spliced.end(), renumbered.begin(), renumbered.end());
    }
    SetTotal(spliced, 20000 + 12288);
    dir.Put("spliced.flac", spliced);
    ShellResult r = Cli({"count", "spliced.flac"});
    EXPECT_EQ(r.status, 1) << change.says;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(change.says), std::string::npos) << r.err;
  }
  // A header that declares a width its frames do not have.
  Bytes lies = first;
  SetBits(lies, 24);
  dir.Put("lies.flac", lies);
  ShellResult r = Cli({"count", "lies.flac"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("its header declares 24 bits, but a frame holds 16 at sample 0"),
            std::string::npos)
      << r.err;
}

// The metadata blocks of a FLAC file: type, and body.
std::vector<std::pair<int, Bytes>> Blocks(const Bytes& flac) {
  std::vector<std::pair<int, Bytes>> blocks;
  for (std::size_t at = 4; at + 4 <= flac.size();) {
    const bool last = flac[at] & 0x80;
    const std::size_t length =
        (std::size_t{flac[at + 1]} << 16) | (std::size_t{flac[at + 2]} << 8) | flac[at + 3];
    blocks.push_back(
        {flac[at] & 0x7F, Bytes(flac.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                flac.begin() + static_cast<std::ptrdiff_t>(at + 4 + length))});
    if (last) break;
    at += 4 + length;
  }
  return blocks;
}

std::vector<std::string> Comments(const Bytes& flac) {
  std::vector<std::string> comments;
  for (const auto& [type, body] : Blocks(flac)) {
    if (type != 4) continue;
    std::size_t p = 0;
    auto le32 = [&] {
      const std::uint32_t v =
          body[p] | (body[p + 1] << 8) | (body[p + 2] << 16) | (std::uint32_t{body[p + 3]} << 24);
      p += 4;
      return v;
    };
    p += le32();
    for (std::uint32_t n = le32(), k = 0; k < n; ++k) {
      const std::uint32_t size = le32();
      comments.emplace_back(body.begin() + static_cast<std::ptrdiff_t>(p),
                            body.begin() + static_cast<std::ptrdiff_t>(p + size));
      p += size;
    }
  }
  return comments;
}

// A WAV file's data chunk of b-bit samples in `width`-byte containers.
Bytes PcmBytes(const std::vector<std::int32_t>& samples, int bits, int width) {
  Bytes data;
  for (std::int32_t s : samples) {
    const auto v = static_cast<std::uint32_t>(s) << (8 * width - bits);
    for (int i = 0; i < width; ++i) data.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  return data;
}

// A WAVE_FORMAT_EXTENSIBLE fmt body: PCM in `width`-byte containers.
Bytes Extensible(int channels, int rate, int width, int validBits, std::uint32_t mask) {
  Bytes fmt;
  PutLe16(fmt, 0xFFFE);
  PutLe16(fmt, static_cast<std::uint16_t>(channels));
  PutLe32(fmt, static_cast<std::uint32_t>(rate));
  PutLe32(fmt, static_cast<std::uint32_t>(rate * channels * width));
  PutLe16(fmt, static_cast<std::uint16_t>(channels * width));
  PutLe16(fmt, static_cast<std::uint16_t>(8 * width));
  PutLe16(fmt, 22);
  PutLe16(fmt, static_cast<std::uint16_t>(validBits));
  PutLe32(fmt, mask);
  const std::uint8_t pcm[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  fmt.insert(fmt.end(), pcm, pcm + 16);
  return fmt;
}

TEST_F(Flac, PartsOfEveryWidthKeepTheirLayoutSignatureAndSeekTable) {
  struct Source {
    int bits, width, channels;
    std::uint32_t mask;
  };
  const Source sources[] = {{8, 1, 2, 0x3},  {12, 2, 1, 0x4},   {16, 2, 4, 0x33},
                            {20, 3, 2, 0x3}, {24, 3, 4, 0x107}, {32, 4, 2, 0x3}};
  for (const Source& s : sources) {
    const std::string name = std::to_string(s.bits) + "-bit";
    auto samples = Passages(s.channels, s.bits, 100000, {{1000, 20000}, {60000, 99000}});
    if (s.bits == 8) {
      for (std::int32_t& v : samples) v = std::clamp(v, -128, 127);
    }
    Bytes data = s.bits == 8 ? Bytes() : PcmBytes(samples, s.bits, s.width);
    if (s.bits == 8) {
      for (std::int32_t v : samples) data.push_back(static_cast<std::uint8_t>(v + 128));
    }
    dir.Put("in.wav", WavBuilder()
                          .Chunk("fmt ", Extensible(s.channels, 48000, s.width, s.bits, s.mask))
                          .Chunk("data", data)
                          .Build());
    ShellResult r = Cli({"split", "-q", "--to", "flac", "in.wav"});
    ASSERT_EQ(r.status, 0) << name << ": " << r.err;
    const Bytes part = ReadFile(dir / "in_002.flac");
    const DecodedFlac decoded = DecodeFlac(part);
    EXPECT_TRUE(decoded.clean && decoded.md5Matched) << name;
    // A WAV's samples are its containers: 12 bits in 16 are 16-bit values
    // whose low bits are zero, and stay so, exactly (FLAC stores the zero
    // bits in no space).
    const int container = 8 * s.width;
    EXPECT_EQ(decoded.bits, container) << name;
    std::vector<std::int32_t> want(samples.begin() + 60000 * s.channels,
                                   samples.begin() + 99000 * s.channels);
    for (std::int32_t& v : want)
      v = static_cast<std::int32_t>(static_cast<std::uint32_t>(v) << (container - s.bits));
    EXPECT_EQ(decoded.samples, want) << name;
    // A signature, a seek table with a point every ten seconds, the layout
    // where it is not FLAC's default for the channel count.
    const auto blocks = Blocks(part);
    ASSERT_GE(blocks.size(), 3u);
    EXPECT_NE(Bytes(blocks[0].second.begin() + 18, blocks[0].second.end()), Bytes(16, 0)) << name;
    EXPECT_TRUE(std::any_of(blocks.begin(), blocks.end(), [](const auto& b) {
      return b.first == 3;
    })) << name;
    const auto comments = Comments(part);
    const bool tagged = std::find(comments.begin(), comments.end(),
                                  "WAVEFORMATEXTENSIBLE_CHANNEL_MASK=0x0107") != comments.end();
    EXPECT_EQ(tagged, s.mask == 0x107) << name;
  }
  // More than eight channels: FLAC cannot hold them, unless mixed to one.
  const auto many = Passages(10, 16, 5000, {{100, 4000}});
  dir.Put("many.wav", WavBuilder()
                          .Chunk("fmt ", FormatBody(1, 10, 48000, 16))
                          .Chunk("data", PcmBytes(many, 16, 2))
                          .Build());
  ShellResult r = Cli({"split", "--to", "flac", "many.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "corvella-cli: many.wav: FLAC holds at most 8 channels, and this recording has 10; "
            "give --to wav, or --mono\n");
  EXPECT_FALSE(fs::exists(dir / "many_001.flac"));
  EXPECT_EQ(Cli({"split", "-q", "--mono", "--to", "flac", "many.wav"}).status, 0);
  EXPECT_EQ(DecodeFlac(ReadFile(dir / "many_001.flac")).channels, 1);
}

TEST_F(Flac, KeptMetadataRestoresTheWavChunksThroughFlac) {
  if (std::system("flac --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "flac is not installed";
  const auto samples = Passages(2, 16, 100000, {{1000, 20000}, {60000, 99000}});
  Bytes bext(602, 0);
  const std::string origin = "Corvella test";
  std::copy(origin.begin(), origin.end(), bext.begin() + 256);
  bext[338] = 100;  // the time reference: frame 100
  const Bytes ixml{'<', 'x', '/', '>'};
  Bytes cue{'c', 'u', 'e', 's'};
  dir.Put("tape.wav", WavBuilder()
                          .Fmt(2, 48000)
                          .Chunk("bext", bext)
                          .Chunk("iXML", ixml)
                          .Chunk("data", PcmBytes(samples, 16, 2))
                          .Chunk("note", cue)
                          .Build());
  ShellResult r = Cli({"split", "-q", "--to", "flac", "--keep-metadata", "tape.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  ShellResult back = Shell("flac -d -s -f --keep-foreign-metadata -o restored.wav tape_002.flac");
  ASSERT_EQ(back.status, 0) << back.err;
  // The chunks come back, the broadcast time reference at the part's start.
  Bytes movedBext = bext;
  movedBext[338] = static_cast<std::uint8_t>((100 + 60000) % 256);
  movedBext[339] = static_cast<std::uint8_t>((100 + 60000) / 256);
  EXPECT_EQ(ReadFile(dir / "restored.wav"),
            WavBuilder()
                .Fmt(2, 48000)
                .Chunk("bext", movedBext)
                .Chunk("iXML", ixml)
                // As the window reads it, the part runs on into the chunk
                // after the data, which is loud, to the recording's end.
                .Chunk("data", PcmBytes(std::vector<std::int32_t>(samples.begin() + 2 * 60000,
                                                                  samples.end()),
                                        16, 2))
                .Chunk("note", cue)
                .Build());
}

}  // namespace
}  // namespace corvella::test

namespace corvella::test {
namespace {

// The metadata blocks of a FLAC file put together again: the last one flagged.
Bytes WithBlocks(const Bytes& flac, const std::vector<std::pair<int, Bytes>>& blocks) {
  const auto old = Blocks(flac);
  std::size_t audio = 4;
  for (const auto& [type, body] : old) audio += 4 + body.size();
  Bytes out(flac.begin(), flac.begin() + 4);
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    const auto& [type, body] = blocks[k];
    out.push_back(static_cast<std::uint8_t>(type | (k + 1 == blocks.size() ? 0x80 : 0)));
    for (int shift : {16, 8, 0}) out.push_back(static_cast<std::uint8_t>(body.size() >> shift));
    out.insert(out.end(), body.begin(), body.end());
  }
  out.insert(out.end(), flac.begin() + static_cast<std::ptrdiff_t>(audio), flac.end());
  return out;
}

// An ID3v2.3 tag holding one title.
Bytes Id3Tag(const std::string& title) {
  Bytes frame{'T', 'I', 'T', '2'};
  for (int shift : {24, 16, 8, 0})
    frame.push_back(static_cast<std::uint8_t>((title.size() + 1) >> shift));
  frame.insert(frame.end(), {0, 0, 3});
  frame.insert(frame.end(), title.begin(), title.end());
  Bytes tag{'I', 'D', '3', 3, 0, 0};
  for (int shift : {21, 14, 7, 0}) tag.push_back(static_cast<std::uint8_t>((frame.size() >> shift) & 0x7F));
  tag.insert(tag.end(), frame.begin(), frame.end());
  return tag;
}

// The fmt chunk's body of a WAV file.
Bytes FmtOf(const Bytes& wav) {
  for (std::size_t at = 12; at + 8 <= wav.size();) {
    const std::uint32_t size = wav[at + 4] | (wav[at + 5] << 8) | (wav[at + 6] << 16) |
                               (std::uint32_t{wav[at + 7]} << 24);
    if (std::equal(wav.begin() + static_cast<std::ptrdiff_t>(at),
                   wav.begin() + static_cast<std::ptrdiff_t>(at + 4), "fmt "))
      return Bytes(wav.begin() + static_cast<std::ptrdiff_t>(at + 8),
                   wav.begin() + static_cast<std::ptrdiff_t>(at + 8 + size));
    at += 8 + size + (size & 1);
  }
  return {};
}

class FlacAsUsersRunIt : public ::testing::Test {
 protected:
  Ran Run(std::vector<std::string> args) {
    args.insert(args.begin(), CORVELLA_CLI);
    return RunProgram(args);
  }
  TempDir dir;
};

TEST_F(FlacAsUsersRunIt, MetadataThatLiesOrRepeatsIsRefusedWithWhereAndWhy) {
  FlacStream a;
  a.samples = Passages(2, 16, 150000, {{1000, 15000}, {50000, 70000}, {110000, 140000}});
  const Bytes good = EncodeFlac(a);
  auto blocks = Blocks(good);
  ASSERT_EQ(blocks.front().first, 0);
  // A second STREAMINFO saying 48000 Hz: which one tells the truth is unknown.
  Bytes other = blocks.front().second;
  const std::uint32_t rate48 = 48000;
  other[10] = static_cast<std::uint8_t>(rate48 >> 12);
  other[11] = static_cast<std::uint8_t>(rate48 >> 4);
  other[12] = static_cast<std::uint8_t>(((rate48 & 0xF) << 4) | (other[12] & 0x0F));
  auto twice = blocks;
  twice.insert(twice.begin() + 1, {0, other});
  dir.Put("twice.flac", WithBlocks(good, twice));
  Ran r = Run({"split", "-o", dir.path(), dir / "twice.flac"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Unable to read file! (it has 2 STREAMINFO blocks"), std::string::npos)
      << r.err;
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"twice.flac"}));

  // Metadata and nothing after it, or bytes that are no frame: the reason
  // and the byte, never a WAV file's words.
  std::size_t audio = 4;
  for (const auto& block : blocks) audio += 4 + block.second.size();
  Bytes header(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(audio));
  dir.Put("header.flac", header);
  Bytes noise = header;
  std::mt19937 random(5);
  for (int i = 0; i < 3000; ++i) noise.push_back(static_cast<std::uint8_t>(random()));
  dir.Put("noise.flac", noise);
  r = Run({"count", dir / "header.flac", dir / "noise.flac"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("header.flac: Unable to read file! (no frame follows the metadata at "
                       "sample 0, byte " +
                       std::to_string(audio) + "; its header gives 150000 samples)"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("noise.flac: Unable to read file! ("), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Data chunk"), std::string::npos) << r.err;

  // Two ID3v2 tags before the stream, as some taggers leave: read past.
  Bytes tagged = Id3Tag("one");
  const Bytes second = Id3Tag("two");
  tagged.insert(tagged.end(), second.begin(), second.end());
  tagged.insert(tagged.end(), good.begin(), good.end());
  dir.Put("tagged.flac", tagged);
  r = Run({"count", dir / "tagged.flac"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "File \"" + dir / "tagged.flac" + "\" contains 3 parts!\n");
}

TEST_F(FlacAsUsersRunIt, SpeakerLayoutsAndValidBitsSurviveEveryConversion) {
  // WAV to FLAC: a layout is tagged wherever it is not FLAC's default for
  // the channel count (5.0 and 5.1 default to side speakers).
  const std::pair<int, std::uint32_t> layouts[] = {
      {5, 0x37}, {6, 0x3F}, {5, 0x607}, {6, 0x60F}, {1, 0x1}, {2, 0x3}};
  for (const auto& [channels, mask] : layouts) {
    const auto samples = Passages(channels, 16, 20000, {{100, 19000}});
    dir.Put("layout.wav", WavBuilder()
                              .Chunk("fmt ", Extensible(channels, 48000, 2, 16, mask))
                              .Chunk("data", PcmBytes(samples, 16, 2))
                              .Build());
    Ran r = Run({"split", "-q", "--to", "flac", "-o", dir.path(), dir / "layout.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto comments = Comments(ReadFile(dir / "layout_001.flac"));
    char tag[64];
    std::snprintf(tag, sizeof tag, "WAVEFORMATEXTENSIBLE_CHANNEL_MASK=0x%04X", mask);
    const bool defaultLayout = mask == 0x607 || mask == 0x60F || mask == 0x3;
    EXPECT_EQ(std::find(comments.begin(), comments.end(), tag) != comments.end(), !defaultLayout)
        << channels << " channels, mask " << mask;
  }

  // FLAC to WAV, as the reference decoder writes it: 20 bits left-justified
  // in 24 with their valid bits given, and a tagged layout kept.
  FlacStream deep;
  deep.bits = 20;
  deep.samples = Passages(2, 20, 100000, {{1000, 20000}, {60000, 99000}});
  dir.Put("deep.flac", EncodeFlac(deep));
  Ran r = Run({"split", "-q", "--to", "wav", "-o", dir.path(), dir / "deep.flac"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Bytes part = ReadFile(dir / "deep_002.wav");
  EXPECT_EQ(FmtOf(part), Extensible(2, 44100, 3, 20, 0x3));
  std::vector<std::int32_t> want(deep.samples.begin() + 60000 * 2, deep.samples.begin() + 99000 * 2);
  const Bytes data = PcmBytes(want, 20, 3);
  ASSERT_GE(part.size(), data.size());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), part.end() - static_cast<std::ptrdiff_t>(data.size())));

  const auto six = Passages(6, 16, 20000, {{100, 19000}});
  dir.Put("six.wav", WavBuilder()
                         .Chunk("fmt ", Extensible(6, 48000, 2, 16, 0x3F))
                         .Chunk("data", PcmBytes(six, 16, 2))
                         .Build());
  ASSERT_EQ(Run({"split", "-q", "--to", "flac", "-o", dir.path(), dir / "six.wav"}).status, 0);
  fs::rename(dir / "six_001.flac", dir / "six.flac");
  r = Run({"split", "-q", "--to", "wav", "-o", dir.path(), dir / "six.flac"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FmtOf(ReadFile(dir / "six_001.wav")), Extensible(6, 48000, 2, 16, 0x3F));
}

}  // namespace
}  // namespace corvella::test

namespace corvella::test {
namespace {

// A LIST-INFO body: each field's text ends in a zero byte, odd sizes padded.
Bytes Info(const std::vector<std::pair<std::string, std::string>>& fields) {
  Bytes body{'I', 'N', 'F', 'O'};
  for (const auto& [id, text] : fields) {
    body.insert(body.end(), id.begin(), id.end());
    PutLe32(body, static_cast<std::uint32_t>(text.size() + 1));
    body.insert(body.end(), text.begin(), text.end());
    body.push_back(0);
    if ((text.size() + 1) & 1) body.push_back(0);
  }
  return body;
}

// The body of the first chunk named `id` in a RIFF file or in the riff
// blocks of a FLAC (each block a chunk).
Bytes ChunkIn(const Bytes& riff, const std::string& id) {
  for (std::size_t at = 12; at + 8 <= riff.size();) {
    const std::uint32_t size = riff[at + 4] | (riff[at + 5] << 8) | (riff[at + 6] << 16) |
                               (std::uint32_t{riff[at + 7]} << 24);
    if (std::equal(id.begin(), id.end(), riff.begin() + static_cast<std::ptrdiff_t>(at)))
      return Bytes(riff.begin() + static_cast<std::ptrdiff_t>(at + 8),
                   riff.begin() + static_cast<std::ptrdiff_t>(at + 8 + size));
    at += 8 + size + (size & 1);
  }
  return {};
}
Bytes RiffChunkInFlac(const Bytes& flac, const std::string& id) {
  for (const auto& [type, body] : Blocks(flac)) {
    if (type != 2 || body.size() < 12 || !std::equal(body.begin(), body.begin() + 4, "riff"))
      continue;
    if (std::equal(id.begin(), id.end(), body.begin() + 4))
      return Bytes(body.begin() + 12, body.end());
  }
  return {};
}

TEST_F(FlacAsUsersRunIt, KeptMetadataFollowsThePartsCuesTitlesAndTimeReference) {
  const auto samples = Passages(2, 16, 100000, {{1000, 20000}, {60000, 99000}});
  // Cues at frames 500 (before the second part), 61000 and 70000 (in it).
  Bytes cue;
  PutLe32(cue, 3);
  for (std::uint32_t at : {500u, 61000u, 70000u}) {
    PutLe32(cue, at);  // its id
    PutLe32(cue, at);
    cue.insert(cue.end(), {'d', 'a', 't', 'a'});
    PutLe32(cue, 0);
    PutLe32(cue, 0);
    PutLe32(cue, at);
  }
  const Bytes info = Info({{"INAM", "Old Title"}, {"IART", "Band"}, {"ICMT", "side A"}});
  Bytes bext(602, 0);
  dir.Put("tape.wav", WavBuilder()
                          .Fmt(2, 48000)
                          .Chunk("bext", bext)
                          .Chunk("LIST", info)
                          .Chunk("cue ", cue)
                          .Chunk("data", PcmBytes(samples, 16, 2))
                          .Build());
  dir.Put("titles.txt", Bytes{'O', 'n', 'e', '\n', 'T', 'w', 'o', '\n'});
  // The new title wins, the source's other fields stay, in WAV and in FLAC.
  const Bytes merged = Info({{"INAM", "Two"}, {"IPRT", "2/2"}, {"IART", "Band"}, {"ICMT", "side A"}});
  Ran r = Run({"split", "-q", "--keep-metadata", "--names", dir / "titles.txt", "-o", dir.path(),
               dir / "tape.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ChunkIn(ReadFile(dir / "02 Two.wav"), "LIST"), merged);
  r = Run({"split", "-q", "--keep-metadata", "--names", dir / "titles.txt", "--to", "flac", "-o",
           dir.path(), dir / "tape.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Bytes flac = ReadFile(dir / "02 Two.flac");
  EXPECT_EQ(RiffChunkInFlac(flac, "LIST"), merged);
  // The cues inside the part, moved by its start; the one before it gone.
  Bytes moved;
  PutLe32(moved, 2);
  for (std::uint32_t at : {61000u, 70000u}) {
    PutLe32(moved, at);
    PutLe32(moved, at - 60000);
    moved.insert(moved.end(), {'d', 'a', 't', 'a'});
    PutLe32(moved, 0);
    PutLe32(moved, 0);
    PutLe32(moved, at - 60000);
  }
  EXPECT_EQ(RiffChunkInFlac(flac, "cue "), moved);
  // A time reference that would pass the largest there is: refused, saying so.
  for (int i = 0; i < 8; ++i) bext[338 + static_cast<std::size_t>(i)] = 0xFF;
  bext[338] = 0xF0;
  dir.Put("late.wav", WavBuilder().Fmt(2, 48000).Chunk("bext", bext).Chunk("data", PcmBytes(samples, 16, 2)).Build());
  r = Run({"split", "-q", "--keep-metadata", "-o", dir.path(), dir / "late.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("late_002.wav: Unable to write output file! (its broadcast time reference"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(dir / "late_002.wav"));
}

}  // namespace
}  // namespace corvella::test
