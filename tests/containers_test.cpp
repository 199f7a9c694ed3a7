// FLAC, AIFF and AIFC, Wave64 and CAF through libsndfile: sources made here
// with libsndfile itself, their parts found by the plain rule on the decoded
// samples, every part decoded again and compared sample for sample, tags
// read back, FLAC and WAV both ways, the refusals, a write failing part-way.
#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <random>

#include "messages/Messages.h"
#include "formats/Formats.h"
#include "support/CliRun.h"
#include "support/FaultyFiles.h"
#include "support/Fixture.h"
#include "support/Model.h"

namespace corvella::test {
namespace {

namespace fs = std::filesystem;

struct Kind {
  const char* name;
  int format;
  int bits;  // 0 for float
};

const Kind kKinds[] = {
    {"FLAC 16-bit", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 16},
    {"FLAC 24-bit", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 24},
    {"FLAC 8-bit", SF_FORMAT_FLAC | SF_FORMAT_PCM_S8, 8},
    {"AIFF 16-bit", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 16},
    {"AIFC float", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 0},
    {"Wave64 24-bit", SF_FORMAT_W64 | SF_FORMAT_PCM_24, 24},
    {"CAF 16-bit", SF_FORMAT_CAF | SF_FORMAT_PCM_16, 16},
    {"CAF ALAC 24-bit", SF_FORMAT_CAF | SF_FORMAT_ALAC_24, 24},
    {"CAF double", SF_FORMAT_CAF | SF_FORMAT_DOUBLE, 0},
};

// A recording as samples: b-bit integers, or floats.
struct Recording {
  int channels;
  std::vector<double> samples;
};

void Write(const std::string& path, const Kind& kind, int rate, const Recording& r,
           const std::vector<std::pair<int, std::string>>& tags = {}) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = r.channels;
  info.format = kind.format;
  SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_TRUE(sf) << kind.name << ": " << sf_strerror(nullptr);
  for (const auto& [type, text] : tags) sf_set_string(sf, type, text.c_str());
  const auto frames = static_cast<sf_count_t>(r.samples.size() / r.channels);
  if (kind.bits > 0) {
    std::vector<int> ints;
    for (double v : r.samples)
      ints.push_back(static_cast<int>(static_cast<std::int64_t>(v) << (32 - kind.bits)));
    ASSERT_EQ(sf_writef_int(sf, ints.data(), frames), frames);
  } else {
    ASSERT_EQ(sf_writef_double(sf, r.samples.data(), frames), frames);
  }
  sf_close(sf);
}

// Every sample of a file, decoded: b-bit integers (`bits` > 0) or doubles.
std::vector<double> Decode(const std::string& path, int bits, SF_INFO* about = nullptr) {
  SF_INFO info{};
  SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
  if (!sf) return {};
  std::vector<double> samples(static_cast<std::size_t>(info.frames * info.channels));
  if (bits > 0) {
    std::vector<int> ints(samples.size());
    sf_readf_int(sf, ints.data(), info.frames);
    for (std::size_t i = 0; i < ints.size(); ++i) samples[i] = ints[i] >> (32 - bits);
  } else {
    sf_readf_double(sf, samples.data(), info.frames);
  }
  if (about) *about = info;
  sf_close(sf);
  return samples;
}

// Runs of loud and silent frames around the gap; loud samples just past the
// floor or, unless `gentle`, at full scale.
Recording Random(std::mt19937& random, int channels, int bits, std::int64_t frames, int floor,
                 std::int64_t gap, bool gentle = false) {
  const double limit = bits > 0 ? std::floor(floor * std::ldexp(1.0, bits - 16)) : floor / 32768.0;
  const double full = bits > 0 ? std::ldexp(1.0, bits - 1) : 1.0;
  std::uniform_int_distribution<int> coin(0, 9);
  std::uniform_real_distribution<double> quiet(-limit, limit);
  std::uniform_int_distribution<std::int64_t> near(-2, 2), any(1, 3 * gap + 3);
  Recording r{channels, {}};
  const auto total = static_cast<std::size_t>(frames * channels);
  for (bool loud = coin(random) < 5; r.samples.size() < total; loud = !loud) {
    const std::int64_t run =
        coin(random) < 6 ? std::max<std::int64_t>(1, gap + near(random)) : any(random);
    for (std::int64_t i = 0; i < run * channels && r.samples.size() < total; ++i) {
      const int pick = coin(random);
      double v = bits > 0 ? std::trunc(quiet(random)) : quiet(random);
      if (loud && pick < 4 && !(gentle && pick < 2)) {
        const double above = bits > 0 ? limit + 1 : std::nextafter(static_cast<float>(limit), 2.0f);
        v = pick == 0   ? -full
            : pick == 1 ? (bits > 0 ? full - 1 : 0.5)
            : pick == 2 ? above
                        : -above;
      }
      r.samples.push_back(bits > 0 ? v : double{static_cast<float>(v)});
    }
  }
  return r;
}

bool Loud(double x, int bits, int floor) {
  if (bits == 0) return std::isnan(x) || std::fabs(x) * 32768 > floor;
  return static_cast<std::int64_t>(std::fabs(x)) * 65536 > static_cast<std::int64_t>(floor) << bits;
}

class Containers : public SourceFixture {
 protected:
  std::unique_ptr<wave::Source> OpenAny(const std::string& name,
                                        wave::FileApi& files = wave::PlatformFiles()) {
    formats::OpenedSource opened = formats::OpenSource(files, dir / name);
    if (!opened.source) ADD_FAILURE() << name << ": " << messages::MessageOf(opened.error);
    return std::move(opened.source);
  }
  // Writes frames [start, end) of `source` as `name`, in the source's own format.
  wave::Error WriteAsSource(wave::Source& source, std::int64_t start, std::int64_t end,
                            const std::string& name, bool mono,
                            wave::FileApi& files = wave::PlatformFiles()) {
    formats::PartPlan plan;
    std::vector<std::string> notes;
    formats::PartSettings settings;
    settings.mono = mono;
    if (wave::Error refusal = formats::PartPlan::Make(source, settings, plan, notes))
      return refusal;
    wave::Error error;
    auto folder = wave::Folder::Open(files, dir.path(), error);
    if (!folder) return error;
    return plan.Write(source, {start, end, name, 1, 1, std::nullopt}, *folder, nullptr, {});
  }
};

TEST_F(Containers, EveryContainerGivesThePartsOfThePlainRuleAndDecodesBackExactly) {
  std::mt19937 random(17);
  for (const Kind& kind : kKinds) {
    // ALAC's encoder in libsndfile mangles frames of loud noise that do not
    // compress: its recordings stay quieter.
    const bool alac = (kind.format & SF_FORMAT_SUBMASK) == SF_FORMAT_ALAC_24;
    const int floor = std::uniform_int_distribution<int>(1, alac ? 40 : 2000)(random);
    const std::int64_t gap = std::uniform_int_distribution<std::int64_t>(1, 2000)(random);
    const int channels = 1 + static_cast<int>(random() % 3);
    const Recording r = Random(random, channels, kind.bits, 30000, floor, gap, alac);
    Write(dir / "in.x", kind, 44100, r);
    ASSERT_EQ(Decode(dir / "in.x", kind.bits), r.samples) << kind.name << " as libsndfile wrote it";
    // Detected by content: the name says nothing.
    auto source = OpenAny("in.x");
    ASSERT_TRUE(source) << kind.name;
    ASSERT_EQ(source->Info().frames, 30000) << kind.name;
    std::vector<bool> loud(30000, false);
    for (std::size_t i = 0; i < r.samples.size(); ++i) {
      if (Loud(r.samples[i], kind.bits, floor)) loud[i / channels] = true;
    }
    params.noiseFloor = floor;
    params.gapThreshold = static_cast<int>(gap);
    std::vector<PartSpan> want;
    for (const Span& span : ModelParts(loud, gap)) want.push_back({span.start, span.end});
    const std::vector<PartSpan> found = Walk(*source);
    ASSERT_EQ(found, want) << kind.name;

    for (bool mono : {false, true}) {
      for (const PartSpan& part : found) {
        ASSERT_FALSE(WriteAsSource(*source, part.start, part.end, "part.x", mono)) << kind.name;
        SF_INFO info{};
        const std::vector<double> back = Decode(dir / "part.x", kind.bits, &info);
        EXPECT_EQ(info.format, kind.format) << kind.name;
        std::vector<double> frames;
        for (std::int64_t f = part.start; f < part.end; ++f) {
          const double* frame = &r.samples[static_cast<std::size_t>(f * channels)];
          if (!mono || channels == 1) {
            frames.insert(frames.end(), frame, frame + channels);
          } else if (kind.bits > 0) {
            std::int64_t sum = 0;
            for (int c = 0; c < channels; ++c) sum += static_cast<std::int64_t>(frame[c]);
            frames.push_back(static_cast<double>(sum / channels));
          } else {
            double sum = 0;
            for (int c = 0; c < channels; ++c) sum += frame[c];
            frames.push_back((kind.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT
                                 ? double{static_cast<float>(sum / channels)}
                                 : sum / channels);
          }
        }
        ASSERT_EQ(back, frames) << kind.name << (mono ? " mono" : "") << " part " << part.start;
      }
    }
  }
}

// The Vorbis comments of a FLAC file, read from its metadata blocks.
std::vector<std::string> FlacComments(const std::string& path) {
  const Bytes file = ReadFile(path);
  std::vector<std::string> comments;
  for (std::size_t at = 4; at + 4 <= file.size();) {
    const bool last = file[at] & 0x80;
    const std::size_t length =
        (std::size_t{file[at + 1]} << 16) | (std::size_t{file[at + 2]} << 8) | file[at + 3];
    if ((file[at] & 0x7F) == 4) {
      std::size_t p = at + 4;
      auto le32 = [&] {
        const std::uint32_t v =
            file[p] | (file[p + 1] << 8) | (file[p + 2] << 16) | (std::uint32_t{file[p + 3]} << 24);
        p += 4;
        return v;
      };
      p += le32();
      for (std::uint32_t n = le32(), k = 0; k < n; ++k) {
        const std::uint32_t size = le32();
        comments.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(p),
                              file.begin() + static_cast<std::ptrdiff_t>(p + size));
        p += size;
      }
    }
    if (last) break;
    at += 4 + length;
  }
  return comments;
}

class ContainersCli : public Containers {
 protected:
  void SetUp() override {
    fs::current_path(dir.path());
    // Three tracks, 16-bit stereo.
    for (int track = 0; track < 3; ++track) {
      tape.samples.insert(tape.samples.end(), 2 * 30000, 0.0);
      for (int f = 0; f < 20000; ++f)
        tape.samples.insert(tape.samples.end(), {f % 2 ? 3000.0 : -3000.0, 100.0 * track});
    }
    tape.samples.insert(tape.samples.end(), 2 * 30000, 0.0);
  }
  ShellResult Cli(const std::vector<std::string>& args) { return RunCli(args, stop); }
  Recording tape{2, {}};
  std::atomic<int> stop{0};
};

TEST_F(ContainersCli, FlacStaysFlacTaggedAndBothWaysConvert) {
  Write(dir / "tape.flac", kKinds[0], 44100, tape,
        {{SF_STR_ARTIST, "The Band"}, {SF_STR_ALBUM, "Live"}});
  ShellResult r = Cli({"split", "-o", ".", "tape.flac"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "." + kJoin + "tape_001.flac\n." + kJoin + "tape_002.flac\n." + kJoin +
                       "tape_003.flac\n");
  EXPECT_EQ(FlacComments(dir / "tape_002.flac"),
            (std::vector<std::string>{"TITLE=tape_002", "TRACKNUMBER=2", "TRACKTOTAL=3",
                                      "ARTIST=The Band", "ALBUM=Live"}));
  const std::vector<double> second(tape.samples.begin() + 2 * 80000,
                                   tape.samples.begin() + 2 * 100000);
  EXPECT_EQ(Decode(dir / "tape_002.flac", 16), second);

  // FLAC to WAV for an editor: plain 16-bit WAV parts.
  r = Cli({"split", "-q", "--to", "wav", "tape.flac"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto wav =
      wave::OpenWave(wave::PlatformFiles(), dir / "tape_002.wav", wave::Acceptance::Plain16)
          .source;
  ASSERT_TRUE(wav);
  Samples want;
  for (double v : second) want.push_back(static_cast<std::int16_t>(v));
  EXPECT_EQ(PartData(dir / "tape_002.wav"), SampleBytes(want));

  // A WAV tape straight to FLAC tracks.
  Samples pcm;
  for (double v : tape.samples) pcm.push_back(static_cast<std::int16_t>(v));
  dir.Put("side.wav", SimpleWav(2, pcm));
  r = Cli({"split", "-q", "--mono", "--to", "flac", "side.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<double> mono;
  for (std::size_t i = 2 * 80000; i < 2 * 100000; i += 2)
    mono.push_back(std::trunc((tape.samples[i] + tape.samples[i + 1]) / 2));
  EXPECT_EQ(Decode(dir / "side_002.flac", 16), mono);
  EXPECT_EQ(FlacComments(dir / "side_003.flac")[2], "TRACKTOTAL=3");

  // A WAV tape's LIST-INFO tags become the tracks' tags, Latin-1 text as
  // UTF-8; sub-chunks of odd size keep their pad byte.
  Bytes info{'I', 'N', 'F', 'O'};
  auto put = [&](const char* id, const std::string& text) {
    info.insert(info.end(), id, id + 4);
    PutLe32(info, static_cast<std::uint32_t>(text.size() + 1));
    info.insert(info.end(), text.begin(), text.end());
    info.push_back(0);
    if (text.size() % 2 == 0) info.push_back(0);
  };
  put("IART", "Caf\xE9 Band");
  put("ISFT", "Recorder 2");
  put("IPRD", "Tapes");
  put("ICRD", "1979");
  put("IGNR", "Folk");
  put("ICMT", "side A");
  dir.Put("tagged.wav", WavBuilder().Fmt(2).Chunk("LIST", info).Data(pcm).Build());
  r = Cli({"split", "-q", "--to", "flac", "tagged.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FlacComments(dir / "tagged_001.flac"),
            (std::vector<std::string>{"TITLE=tagged_001", "TRACKNUMBER=1", "TRACKTOTAL=3",
                                      "ARTIST=Caf\xC3\xA9 Band", "ALBUM=Tapes", "DATE=1979",
                                      "GENRE=Folk", "COMMENT=side A"}));
}

TEST_F(ContainersCli, ListsLevelsAndCountsWorkOnEveryContainer) {
  Write(dir / "tape.aif", kKinds[3], 48000, tape);
  Write(dir / "tape.w64", {"Wave64 16-bit", SF_FORMAT_W64 | SF_FORMAT_PCM_16, 16}, 48000, tape);
  ShellResult r = Cli({"count", "tape.aif", "tape.w64"});
  EXPECT_EQ(r.out, "File \"tape.aif\" contains 3 parts!\nFile \"tape.w64\" contains 3 parts!\n");
  r = Cli({"list", "-f", "csv", "--pad-before", "0.1", "tape.aif"});
  EXPECT_NE(r.out.find("\ntape.aif,2,75200,100000,"), std::string::npos) << r.out;
  r = Cli({"levels", "tape.w64"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("tape.w64: 48000 Hz, 2 channels"), std::string::npos) << r.out;

  // A FLAC written as a stream, its length left out of STREAMINFO (36 bits
  // from the low half of byte 21 on): counted, and split exactly.
  Write(dir / "stream.flac", kKinds[0], 44100, tape);
  Bytes flac = ReadFile(dir / "stream.flac");
  flac[21] &= 0xF0;
  std::fill(flac.begin() + 22, flac.begin() + 26, 0);
  dir.Put("stream.flac", flac);
  r = Cli({"split", "-q", "stream.flac"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      Decode(dir / "stream_003.flac", 16),
      std::vector<double>(tape.samples.begin() + 2 * 130000, tape.samples.begin() + 2 * 150000));
}

TEST_F(ContainersCli, RefusalsSayWhyAndLossySourcesNeedATarget) {
  Recording floats{1, {0, 0, 0.5, 0.5, 0, 0}};
  Write(dir / "float.aif", kKinds[4], 44100, floats);
  ShellResult r = Cli({"split", "--to", "flac", "float.aif"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(
      r.err,
      "corvella-cli: float.aif: a float recording cannot become FLAC, which holds integer samples "
      "only; give --to wav\n");
  // Ogg Vorbis: counted, listed, split only into another format.
  Recording music{1, {}};
  for (int i = 0; i < 44100 * 6; ++i)
    music.samples.push_back(i % 88200 < 44100 ? 0.4 * std::sin(i * 0.05) : 0.0);
  Write(dir / "take.ogg", {"Vorbis", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 0}, 44100, music);
  r = Cli({"count", "take.ogg"});
  EXPECT_EQ(r.out, "File \"take.ogg\" contains 3 parts!\n") << r.err;
  r = Cli({"split", "take.ogg"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("a lossy Ogg Vorbis recording is not split into Ogg Vorbis again"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("--to flac"), std::string::npos);
  r = Cli({"split", "-q", "--to", "wav", "take.ogg"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "take_003.wav"));
  // AIFF and Wave64 files cut off in a copy are refused as a cut-off WAV
  // file is.
  Write(dir / "cut.aif", kKinds[3], 48000, tape);
  Write(dir / "cut.w64", {"Wave64 16-bit", SF_FORMAT_W64 | SF_FORMAT_PCM_16, 16}, 48000, tape);
  for (const char* name : {"cut.aif", "cut.w64"}) {
    fs::resize_file(dir / name, fs::file_size(dir / name) - 1000);
    r = Cli({"split", "-q", name});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(std::string("corvella-cli: ") + name +
                         ": Size of data chunk is wrong! (the file ends before its header says: "),
              std::string::npos)
        << r.err;
  }
  EXPECT_FALSE(fs::exists(dir / "cut_001.aif"));
  EXPECT_FALSE(fs::exists(dir / "cut_001.w64"));
  dir.Put("noise.bin", Bytes(1000, 7));
  r = Cli({"count", "noise.bin"});
  EXPECT_EQ(
      r.err,
      "corvella-cli: noise.bin: not a recording Corvella reads (WAV, FLAC, AIFF, Wave64, CAF, Ogg, "
      "Opus or MP3)\n");
}

TEST_F(ContainersCli, Wave64AsPipesAndPaddingLeaveItIsReadWhole) {
  Write(dir / "tape.w64", {"Wave64 16-bit", SF_FORMAT_W64 | SF_FORMAT_PCM_16, 16}, 48000, tape);
  const Bytes whole = ReadFile(dir / "tape.w64");
  // The data chunk's GUID, and its 64-bit size after it.
  const std::uint8_t data[4] = {'d', 'a', 't', 'a'};
  const auto at = static_cast<std::size_t>(
      std::search(whole.begin() + 40, whole.end(), data, data + 4) - whole.begin());
  ASSERT_LT(at + 24, whole.size());
  // Written to a pipe, the sizes are left at the largest signed value.
  Bytes piped = whole;
  for (std::size_t size : {std::size_t{16}, at + 16})
    for (int i = 0; i < 8; ++i) piped[size + static_cast<std::size_t>(i)] = i == 7 ? 0x7F : 0xFF;
  dir.Put("piped.w64", piped);
  // Zeros after the data, as some copies leave them.
  Bytes padded = whole;
  padded.insert(padded.end(), 48, 0);
  dir.Put("padded.w64", padded);
  const std::string cli = CORVELLA_CLI;
  Ran r = RunProgram({cli, "count", dir / "tape.w64", dir / "piped.w64", dir / "padded.w64"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "File \"" + dir / "tape.w64" + "\" contains 3 parts!\nFile \"" +
                       dir / "piped.w64" + "\" contains 3 parts!\nFile \"" + dir / "padded.w64" +
                       "\" contains 3 parts!\n");
  // Split as it comes in from a pipe: RIFF WAV parts holding the frames a
  // split of the file writes.
  fs::create_directories(dir / "file");
  fs::create_directories(dir / "pipe");
  ASSERT_EQ(RunProgram({cli, "split", "-q", "--to", "wav", "-o", dir / "file", dir / "tape.w64"})
                .status,
            0);
#ifdef _WIN32
  // (Wine's own "type" is no byte-for-byte copier: the shell gives the file.)
  ShellResult s = Shell(Backslashed(cli) + " split -q -o " + Backslashed(dir / "pipe") + " - < " +
                        Backslashed(dir / "piped.w64"));
#else
  ShellResult s = Shell("cat '" + dir / "piped.w64" + "' | " + cli + " split -q -o '" +
                        dir / "pipe" + "' -");
#endif
  ASSERT_EQ(s.status, 0) << s.err;
  for (const char* part : {"001", "002", "003"}) {
    EXPECT_EQ(ReadFile(dir / ("pipe/stream_" + std::string(part) + ".wav")),
              ReadFile(dir / ("file/tape_" + std::string(part) + ".wav")))
        << part;
  }
}

TEST_F(Containers, AWriteFailingPartWayKeepsTheOldFile) {
  Recording r{2, {}};
  std::mt19937 random(5);
  for (int i = 0; i < 2 * 100000; ++i)
    r.samples.push_back(static_cast<double>(random() % 40000) - 20000);
  Write(dir / "in.flac", kKinds[0], 44100, r);
  auto source = OpenAny("in.flac");
  for (std::int64_t after : {std::int64_t{10}, std::int64_t{5000}, std::int64_t{60000}}) {
    dir.Put("part.flac", Bytes{1, 2, 3});
    FaultyFiles files;
    files.failWritesAfter = after;
    const wave::Error error = WriteAsSource(*source, 0, 100000, "part.flac", false, files);
    EXPECT_EQ(error.code, wave::ErrorCode::UnableToWrite) << after;
    EXPECT_EQ(error.detail, "no space left on the device") << after;
    EXPECT_EQ(ReadFile(dir / "part.flac"), (Bytes{1, 2, 3}));
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.flac", "part.flac"}));
  }
}

}  // namespace
}  // namespace corvella::test
