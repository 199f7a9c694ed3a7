// MP3 and MP2 recordings made here with lame and ffmpeg: read through
// libmpg123 with the encoder's delay and padding trimmed, and split into
// parts made of the source's own frames that decode, in other programs as
// in ours, to exactly the samples of the whole recording's decode.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <random>

#include "formats/Formats.h"
#include "support/Fixture.h"
#include "support/OneCore.h"
#include "support/WavBuilder.h"
#include "wave/FileApi.h"

namespace corvella::test {
namespace {

const std::string kCli = CORVELLA_CLI;
constexpr double kPi = 3.14159265358979323846;

// Three pieces with gaps between them: a tone from the very first sample, a
// short burst of noise (a few frames long) and a chord fading out.
Samples Recording(int rate) {
  Samples samples;
  std::mt19937 random(7);
  std::uniform_int_distribution<int> noise(-9000, 9000);
  auto add = [&](double seconds, auto value) {
    const int frames = static_cast<int>(seconds * rate);
    for (int i = 0; i < frames; ++i) {
      const double t = static_cast<double>(i) / rate;
      const double v = value(t, static_cast<double>(i) / frames);
      samples.push_back(static_cast<std::int16_t>(v));
      samples.push_back(static_cast<std::int16_t>(v * 0.8));
    }
  };
  add(1.3, [](double t, double) { return 12000 * std::sin(2 * kPi * 440 * t); });
  add(0.9, [](double, double) { return 0.0; });
  add(0.06, [&](double, double) { return static_cast<double>(noise(random)); });
  add(1.1, [](double, double) { return 0.0; });
  add(2.0, [](double t, double x) {
    return (1 - x) * 9000 * (std::sin(2 * kPi * 330 * t) + std::sin(2 * kPi * 495 * t));
  });
  add(0.7, [](double, double) { return 0.0; });
  return samples;
}

std::vector<std::int32_t> OurDecode(const std::string& path, int* channels = nullptr) {
  formats::OpenedSource opened = formats::OpenSource(wave::PlatformFiles(), path);
  EXPECT_TRUE(opened.source) << path << ": " << opened.error.detail;
  if (!opened.source) return {};
  const wave::SourceInfo& info = opened.source->Info();
  if (channels) *channels = info.channels;
  std::vector<std::int32_t> samples(static_cast<std::size_t>(info.frames * info.channels));
  EXPECT_EQ(opened.source->ReadSamples(0, samples.data(), info.extentBytes), info.extentBytes);
  for (auto& s : samples) s >>= 16;
  return samples;
}

std::vector<std::int16_t> OtherDecode(const std::string& program, const std::string& path) {
  // "ffmpeg:decoder" names one of ffmpeg's decoders.
  const std::string decoder = program.rfind("ffmpeg:", 0) == 0 ? "-c:a " + program.substr(7) + " " : "";
  const ShellResult ran =
      Shell(program.rfind("ffmpeg", 0) == 0
                ? "ffmpeg -v error " + decoder + "-i '" + path + "' -f s16le -acodec pcm_s16le -"
                : "mpg123 -q -s '" + path + "'");
  EXPECT_EQ(ran.status, 0) << ran.err;
  std::vector<std::int16_t> samples(ran.out.size() / 2);
  std::memcpy(samples.data(), ran.out.data(), samples.size() * 2);
  return samples;
}

struct Listed {
  std::string output;
  std::int64_t start, end;
};

std::vector<Listed> ListParts(const std::string& path, const std::vector<std::string>& options = {}) {
  std::vector<std::string> argv = {kCli, "list", "--format", "json"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(path);
  const Ran ran = RunProgram(argv);
  EXPECT_EQ(ran.status, 0) << ran.err;
  std::vector<Listed> parts;
  const nlohmann::json listing = nlohmann::json::parse(ran.out);
  for (const auto& part : listing[0]["parts"])
    parts.push_back({part["output"], part["start_frame"], part["end_frame"]});
  return parts;
}

class Mp3 : public ::testing::Test {
 protected:
  TempDir dir;
  std::string Encode(const std::string& name, const std::string& lameOptions, int rate = 44100) {
    dir.Put("in.wav", SimpleWav(2, Recording(rate), static_cast<std::uint32_t>(rate)));
    const ShellResult made = Shell("lame --quiet " + lameOptions + " '" + dir / "in.wav" + "' '" +
                                   dir / name + "'");
    EXPECT_EQ(made.status, 0) << made.err;
    return dir / name;
  }
};

// Each part, decoded by each program, is the same samples as that program's
// decode of the whole file gives there: at every bitrate, VBR and CBR, the
// reservoir reaching back several frames at low bitrates, a part from the
// first sample, a part of a few frames.
TEST_F(Mp3, PartsDecodeToTheSamplesOfTheWhole) {
  struct Kind {
    const char* name;
    const char* options;
    // libmpg123 (our decoder, and mpg123's) rounds its synthesis a little
    // differently after a start elsewhere than at the first frame: within
    // one step of the 16-bit scale at a few samples, at low bitrates. ffmpeg's
    // decoder gives the same bits from anywhere.
    bool bitExactInLibmpg123;
  };
  const Kind kinds[] = {
      {"cbr128", "-b 128", true},     {"cbr320", "-b 320", true},
      {"vbr2", "-V 2", true},         {"vbr7", "-V 7", false},
      {"abr96", "--abr 96", false},   {"mpeg2", "--resample 22.05 -b 32", false},
      {"mpeg25", "-m m --resample 8 -b 8", false}, {"joint9", "-m j -V 9", false},
  };
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    const std::string mp3 = Encode(std::string(kind.name) + ".mp3", kind.options);
    const std::string out = dir / (std::string(kind.name) + "-parts");
    const Ran split = RunProgram({kCli, "split", "-q", "--gap", "0.5", "-o", out, mp3});
    ASSERT_EQ(split.status, 0) << split.err;
    const std::vector<Listed> parts = ListParts(mp3, {"--gap", "0.5"});
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_LT(parts[0].start, 1152);  // in the first frames

    const std::string wavs = dir / (std::string(kind.name) + "-wav");
    ASSERT_EQ(RunProgram({kCli, "split", "-q", "--gap", "0.5", "--to", "wav", "-o", wavs, mp3}).status, 0);
    int channels = 0;
    const std::vector<std::int32_t> whole = OurDecode(mp3, &channels);
    for (const Listed& part : parts) {
      SCOPED_TRACE(part.output);
      // Decoded into a WAV part: the samples of the decode from the start,
      // wherever the decoder began.
      std::string wav = part.output;
      wav.replace(wav.size() - 4, 4, ".wav");
      const Bytes data = PartData(wavs + "/" + wav);
      ASSERT_EQ(static_cast<std::int64_t>(data.size()), (part.end - part.start) * channels * 2);
      const int tolerance = kind.bitExactInLibmpg123 ? 0 : 1;
      for (std::size_t i = 0; i < data.size() / 2; ++i) {
        const auto sample = static_cast<std::int16_t>(data[2 * i] | data[2 * i + 1] << 8);
        ASSERT_LE(std::abs(sample - whole[static_cast<std::size_t>(part.start * channels) + i]), tolerance) << i;
      }
      const std::string file = out + "/" + part.output;
      const auto ours = OurDecode(file);
      ASSERT_EQ(static_cast<std::int64_t>(ours.size()), (part.end - part.start) * channels);
      for (std::size_t i = 0; i < ours.size(); ++i) {
        ASSERT_LE(std::abs(ours[i] - whole[static_cast<std::size_t>(part.start * channels) + i]), tolerance) << i;
      }
      // ffmpeg: every bit. mpg123 plays only the four frames before the
      // first it keeps and counts only their reservoir bytes (a frame that
      // reaches back further is played as silence, a loud step in the
      // samples); at low bitrates its rounding may differ by one step at a
      // few samples.
      for (const std::string program : {"ffmpeg", "mpg123"}) {
        SCOPED_TRACE(program);
        const auto theirs = OtherDecode(program, file);
        const auto reference = OtherDecode(program, mp3);
        ASSERT_EQ(static_cast<std::int64_t>(theirs.size()), (part.end - part.start) * channels);
        std::size_t differing = 0;
        for (std::size_t i = 0; i < theirs.size(); ++i) {
          const int step = std::abs(theirs[i] - reference[static_cast<std::size_t>(part.start * channels) + i]);
          ASSERT_LE(step, program == "ffmpeg" || kind.bitExactInLibmpg123 ? 0 : 1) << i;
          differing += step != 0;
        }
        EXPECT_LE(differing, theirs.size() / 1000);
      }
    }
  }
}

// Layer II parts are the whole frames holding the part, with one or two
// frames of the gap before it to fill the synthesis filter (Layer II has no
// delay field to skip them): from the part's first sample to its last, each
// decodes as the whole file does there, by mpg123 and by ffmpeg's float
// decoder. (ffmpeg's default Layer II decoder carries its rounding error
// from each sample into the next over the whole stream, so no file that
// starts elsewhere decodes to its bits.)
TEST_F(Mp3, LayerTwoPartsDecodeToTheSamplesOfTheWhole) {
  dir.Put("in.wav", SimpleWav(2, Recording(44100)));
  struct Kind {
    const char* name;
    const char* options;
    int channels;
  };
  for (const Kind& kind : {Kind{"stereo", "-b:a 192k", 2}, Kind{"mono22", "-ar 22050 -ac 1 -b:a 64k", 1}}) {
    SCOPED_TRACE(kind.name);
    const std::string mp2 = dir / (std::string(kind.name) + ".mp2");
    const ShellResult made =
        Shell("ffmpeg -v error -i '" + dir / "in.wav" + "' " + kind.options + " -c:a mp2 '" + mp2 + "'");
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string out = dir / (std::string(kind.name) + "-parts");
    const Ran split = RunProgram({kCli, "split", "-q", "--gap", "0.5", "-o", out, mp2});
    ASSERT_EQ(split.status, 0) << split.err;
    const std::vector<Listed> parts = ListParts(mp2, {"--gap", "0.5"});
    ASSERT_EQ(parts.size(), 3u);
    const std::int64_t spf = 1152, ch = kind.channels;
    for (const std::string program : {"mpg123", "ffmpeg:mp2float"}) {
      SCOPED_TRACE(program);
      const auto whole = OtherDecode(program, mp2);
      for (const Listed& part : parts) {
        SCOPED_TRACE(part.output);
        const auto theirs = OtherDecode(program, out + "/" + part.output);
        ASSERT_EQ(theirs.size() % static_cast<std::size_t>(spf * ch), 0u);
        const std::int64_t frames = static_cast<std::int64_t>(theirs.size()) / (spf * ch);
        const std::int64_t first = (part.end - 1) / spf - frames + 1;
        const std::int64_t before = part.start / spf - first;
        EXPECT_GE(before, part.start < spf ? 0 : 1);
        EXPECT_LE(before, 2);
        ASSERT_GE(first, 0);
        const auto from = theirs.begin() + (part.start - first * spf) * ch;
        EXPECT_TRUE(std::equal(from, from + (part.end - part.start) * ch, whole.begin() + part.start * ch));
      }
    }
  }
}

// The parts found in an MP3 are those of a WAV file of its 16-bit decode.
TEST_F(Mp3, FoundAsInTheWavOfItsDecode) {
  for (const char* options : {"-V 5", "--resample 16 -b 24"}) {
    const std::string mp3 = Encode("in.mp3", options);
    int channels = 0;
    const auto decoded = OurDecode(mp3, &channels);
    Samples narrow(decoded.begin(), decoded.end());
    const std::int64_t rate = [&] {
      formats::OpenedSource opened = formats::OpenSource(wave::PlatformFiles(), mp3);
      return opened.source ? opened.source->Info().rate : 0;
    }();
    dir.Put("decoded.wav", SimpleWav(channels, narrow, static_cast<std::uint32_t>(rate)));
    const auto a = ListParts(mp3, {"--threshold-db", "-45"});
    const auto b = ListParts(dir / "decoded.wav", {"--threshold-db", "-45"});
    ASSERT_EQ(a.size(), b.size()) << options;
    for (std::size_t k = 0; k < a.size(); ++k) {
      EXPECT_EQ(a[k].start, b[k].start);
      EXPECT_EQ(a[k].end, b[k].end);
    }
  }
}

// Damage is refused with where it is, and nothing is left under a part's
// name; --salvage skips it and says so.
TEST_F(Mp3, DamageRefusedOrSkipped) {
  const std::string mp3 = Encode("in.mp3", "-b 128");
  const Bytes good = ReadFile(mp3);
  // Cut off at many places within the last frames, and a frame header
  // zeroed in the middle.
  std::vector<std::pair<std::string, Bytes>> damaged;
  for (std::size_t cut = 1; cut < 1300; cut += 97)
    damaged.push_back({"cut " + std::to_string(cut), Bytes(good.begin(), good.end() - static_cast<std::ptrdiff_t>(cut))});
  Bytes zeroed = good;
  std::size_t header = good.size() / 2;
  while (!(zeroed[header] == 0xFF && (zeroed[header + 1] & 0xE0) == 0xE0)) ++header;
  std::fill(zeroed.begin() + static_cast<std::ptrdiff_t>(header), zeroed.begin() + static_cast<std::ptrdiff_t>(header) + 256, 0);
  damaged.push_back({"zeroed", zeroed});
  for (const auto& [name, bytes] : damaged) {
    SCOPED_TRACE(name);
    dir.Put("damaged.mp3", bytes);
    const std::string out = dir / "out";
    // A file cut off on a frame's border too: its Xing header's frame count
    // says it is short.
    const Ran refused = RunProgram({kCli, "split", "-o", out, dir / "damaged.mp3"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("Unable to read file!"), std::string::npos) << refused.err;
    EXPECT_TRUE(refused.err.find("at byte ") != std::string::npos ||
                refused.err.find("the stream ends after frame ") != std::string::npos)
        << refused.err;
    EXPECT_TRUE(dir.Names("out").empty());
    const Ran salvaged = RunProgram({kCli, "split", "--salvage", "-o", out, dir / "damaged.mp3"});
    EXPECT_EQ(salvaged.status, 0) << salvaged.err;
    EXPECT_NE(salvaged.err.find("salvaged: "), std::string::npos) << salvaged.err;
    EXPECT_FALSE(dir.Names("out").empty());
    std::filesystem::remove_all(out);
  }
}

// Cut off at every byte of its last two frames, a stream is refused with
// where (an MP3 with a LAME header knows its length even when cut where a
// frame ends; a Layer II stream, which has none, is read whole there).
TEST_F(Mp3, CutAtEveryByteOfItsLastFramesIsRefusedOrReadWhole) {
  dir.Put("short.wav", SimpleWav(2, Samples(2 * 44100 / 5, 1000)));
  ASSERT_EQ(Shell("lame --quiet -b 128 '" + dir / "short.wav" + "' '" + dir / "short.mp3" + "'").status, 0);
  ASSERT_EQ(Shell("ffmpeg -v error -i '" + dir / "short.wav" + "' -c:a mp2 -b:a 128k '" + dir / "short.mp2" + "'").status, 0);
  for (const std::string name : {"short.mp3", "short.mp2"}) {
    SCOPED_TRACE(name);
    const Bytes whole = ReadFile(dir / name);
    const std::size_t frameBytes = 418;  // 128 kbit/s at 44.1 kHz
    int readWhole = 0;
    for (std::size_t cut = whole.size() - 2 * frameBytes; cut < whole.size(); ++cut) {
      dir.Put("cut", Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
      formats::OpenedSource opened = formats::OpenSource(wave::PlatformFiles(), dir / "cut");
      if (!opened.source) {
        EXPECT_TRUE(opened.error.detail.find("at byte ") != std::string::npos ||
                    opened.error.detail.find("the stream ends after frame ") != std::string::npos)
            << cut << ": " << opened.error.detail;
        continue;
      }
      ASSERT_EQ(name, "short.mp2") << cut;
      ++readWhole;
      const wave::SourceInfo& info = opened.source->Info();
      EXPECT_EQ(info.frames % 1152, 0);
      std::vector<std::uint8_t> samples(static_cast<std::size_t>(info.extentBytes));
      EXPECT_EQ(opened.source->ReadSamples(0, samples.data(), info.extentBytes), info.extentBytes);
    }
    if (name == "short.mp2") {
      EXPECT_EQ(readWhole, 2) << "cut where each of the last two frames begins";
    }
  }
}

// Parts of a few samples, from a cut list: six audio frames in all where
// the padding can hold them, so that ffmpeg knows them for MP3 (with fewer
// it took some for other formats and refused them), and exact in mpg123.
TEST_F(Mp3, TinyPartsAreToldForMp3AndExact) {
  const std::string mp3 = Encode("tiny.mp3", "-b 32");
  const std::string list = R"([{"file": "tiny.mp3", "parts": [)"
                           R"({"number": 1, "start_frame": 3000, "end_frame": 3001, "output": "a.mp3"},)"
                           R"({"number": 2, "start_frame": 5000, "end_frame": 5050, "output": "b.mp3"},)"
                           R"({"number": 3, "start_frame": 7000, "end_frame": 7700, "output": "c.mp3"}]}])";
  dir.Put("cuts.json", Bytes(list.begin(), list.end()));
  const Ran split = RunProgram({kCli, "split", "-q", "--cuts", dir / "cuts.json", "-o", dir / "out", mp3});
  ASSERT_EQ(split.status, 0) << split.err;
  const auto whole = OtherDecode("mpg123", mp3);
  for (const auto& [name, start, end] : {std::tuple{"a.mp3", 3000, 3001}, {"b.mp3", 5000, 5050}, {"c.mp3", 7000, 7700}}) {
    SCOPED_TRACE(name);
    const std::string part = dir / (std::string("out/") + name);
    const ShellResult probed = Shell("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + part + "'");
    EXPECT_EQ(probed.out, "mp3\n") << probed.err;
    // (Whether ffmpeg tells a short run of frames for MP3 depends on their
    // bytes; these are told either way, so count the frames too.)
    const ShellResult counted = Shell("ffprobe -v error -f mp3 -count_packets -show_entries stream=nb_read_packets "
                                      "-of csv=p=0 '" + part + "'");
    EXPECT_GE(std::stoi(counted.out), 6) << counted.err;
    const auto theirs = OtherDecode("mpg123", part);
    ASSERT_EQ(theirs.size(), static_cast<std::size_t>(2 * (end - start)));
    for (std::size_t i = 0; i < theirs.size(); ++i)
      EXPECT_LE(std::abs(theirs[i] - whole[static_cast<std::size_t>(2 * start) + i]), 1) << i;
  }
}

// Tags before and after the frames are no audio: ID3v2 at the start, APE
// and ID3v1 at the end; the samples are those of the bare stream.
TEST_F(Mp3, TagsAroundTheFramesAreSkipped) {
  const std::string mp3 = Encode("in.mp3", "-V 3");
  const Bytes bare = ReadFile(mp3);
  Bytes id3v2 = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};
  id3v2.resize(30, 0);
  Bytes ape = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 0x07, 0, 0, 32, 0, 0, 0};
  ape.resize(32, 0);
  Bytes id3v1 = {'T', 'A', 'G'};
  id3v1.resize(128, 'x');
  Bytes tagged(id3v2.size() + bare.size() + ape.size() + id3v1.size());
  auto at = tagged.begin();
  for (const Bytes* piece : std::initializer_list<const Bytes*>{&id3v2, &bare, &ape, &id3v1})
    at = std::copy(piece->begin(), piece->end(), at);
  dir.Put("tagged.mp3", tagged);
  EXPECT_EQ(OurDecode(dir / "tagged.mp3"), OurDecode(mp3));
}

// Parts carry their title and number as ID3v2.4 tags, and decoders take
// their length from the Xing header.
TEST_F(Mp3, TaggedAndTheirLengthKnown) {
  const std::string mp3 = Encode("show.mp3", "-V 4");
  ASSERT_EQ(RunProgram({kCli, "split", "-q", "--gap", "0.5", "-o", dir / "out", mp3}).status, 0);
  const auto parts = ListParts(mp3, {"--gap", "0.5"});
  ASSERT_EQ(parts.size(), 3u);
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const ShellResult probe = Shell(
        "ffprobe -v error -show_entries format_tags=title,track -show_entries stream=duration_ts "
        "-of default=nw=1 '" + dir / "out" + "/" + parts[k].output + "'");
    ASSERT_EQ(probe.status, 0) << probe.err;
    EXPECT_NE(probe.out.find("TAG:title=show_00" + std::to_string(k + 1)), std::string::npos) << probe.out;
    EXPECT_NE(probe.out.find("TAG:track=" + std::to_string(k + 1) + "/3"), std::string::npos) << probe.out;
  }
}

// A VBR part's length is known from its Xing header, as a player shows it
// and seeks by it: ffprobe gives each part's length within the frames its
// decoder skips (without the header it would guess from the first frame's
// bitrate).
TEST_F(Mp3, AVbrPartsLengthIsKnown) {
  const std::string mp3 = Encode("show.mp3", "-V 2");
  ASSERT_EQ(RunProgram({kCli, "split", "-q", "--gap", "0.5", "-o", dir / "out", mp3}).status, 0);
  const auto parts = ListParts(mp3, {"--gap", "0.5"});
  ASSERT_EQ(parts.size(), 3u);
  for (const Listed& part : parts) {
    const ShellResult probed = Shell("ffprobe -v error -show_entries format=duration -of csv=p=0 '" +
                                     dir / "out" + "/" + part.output + "'");
    ASSERT_EQ(probed.status, 0) << probed.err;
    const double seconds = static_cast<double>(part.end - part.start) / 44100;
    const double shown = std::stod(probed.out);
    EXPECT_GE(shown, seconds - 0.001) << part.output;
    // At most the delay field's 4095 samples skipped, and a frame's padding.
    EXPECT_LE(shown, seconds + (4095 + 2 * 1152.0) / 44100) << part.output;
  }
}

// --to mp3 and --to opus encode any source (libsndfile's LAME and Opus):
// every part decodes to exactly its length, named and numbered as FLAC
// parts are, at the quality or bitrate asked; what a format cannot hold is
// refused before anything is written.
TEST_F(Mp3, EncodedAsAskedFromAnySource) {
  dir.Put("side.wav", SimpleWav(2, Recording(44100)));
  dir.Put("side48.wav", SimpleWav(2, Recording(48000), 48000));
  const std::string list = "Artist: Les Cafés\nAlbum: Été\nUn\nDeux\nTrois\n";
  dir.Put("side.txt", Bytes(list.begin(), list.end()));
  const auto probe = [&](const std::string& path, const std::string& entries) {
    const ShellResult probed =
        Shell("ffprobe -v error " + entries + " -of default=nw=1 '" + path + "'");
    EXPECT_EQ(probed.status, 0) << probed.err;
    return probed.out;
  };
  const auto length = [&](const std::string& path) {
    return static_cast<std::int64_t>(OtherDecode("ffmpeg", path).size() / 2);
  };
  struct Case {
    std::vector<std::string> options;
    std::string source, extension;
  };
  for (const Case& c : {Case{{"--to", "mp3"}, "side.wav", ".mp3"},
                        Case{{"--to", "mp3", "--bitrate", "128"}, "side.wav", ".mp3"},
                        Case{{"--to", "mp3", "--quality", "7", "--names", dir / "side.txt"}, "side.wav", ".mp3"},
                        Case{{"--to", "opus", "--bitrate", "96"}, "side48.wav", ".opus"},
                        Case{{"--to", "opus", "--names", dir / "side.txt"}, "side48.wav", ".opus"}}) {
    SCOPED_TRACE(::testing::PrintToString(c.options));
    std::filesystem::remove_all(dir / "out");
    std::vector<std::string> argv{kCli, "split", "-q", "-o", dir / "out"};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    argv.push_back(dir / c.source);
    const Ran ran = RunProgram(argv);
    ASSERT_EQ(ran.status, 0) << ran.err;
    std::vector<std::string> listOptions;
    const bool named = std::find(c.options.begin(), c.options.end(), "--names") != c.options.end();
    if (named) listOptions = {"--names", dir / "side.txt"};
    const auto parts = ListParts(dir / c.source, listOptions);
    ASSERT_EQ(parts.size(), 3u);
    for (std::size_t k = 0; k < parts.size(); ++k) {
      std::string name = parts[k].output;
      name = name.substr(0, name.rfind('.')) + c.extension;
      const std::string path = dir / "out" + "/" + name;
      EXPECT_EQ(length(path), parts[k].end - parts[k].start) << name;
      // An MP3 part's tags are the file's, an Opus part's its stream's.
      std::string tags = probe(path, "-show_entries format_tags:stream_tags");
      const auto lower = [](std::string text) {
        for (char& letter : text) letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
        return text;
      };
      tags = lower(tags);
      const std::string title = named ? std::vector<std::string>{"Un", "Deux", "Trois"}[k]
                                      : name.substr(0, name.rfind('.'));
      EXPECT_NE(tags.find("tag:title=" + lower(title) + "\n"), std::string::npos) << tags;
      EXPECT_NE(tags.find("track=" + std::to_string(k + 1)), std::string::npos) << tags;
      if (named) {
        EXPECT_NE(tags.find("artist=les cafés"), std::string::npos) << tags;
      }
    }
    if (c.options.size() == 4 && c.options[2] == "--bitrate" && c.extension == ".mp3") {
      EXPECT_NE(probe(dir / "out" + "/side_003.mp3", "-show_entries stream=bit_rate").find("bit_rate=128000"),
                std::string::npos);
    }
  }
  // What --keep-metadata cannot carry into them is said.
  std::filesystem::remove_all(dir / "out");
  Ran kept = RunProgram({kCli, "split", "--to", "mp3", "--keep-metadata", "-o", dir / "out", dir / "side.wav"});
  EXPECT_EQ(kept.status, 0) << kept.err;
  EXPECT_NE(kept.err.find("MP3 parts carry their own title and number only"),
            std::string::npos) << kept.err;
  // Refused with the reason, and nothing written.
  std::filesystem::remove_all(dir / "out");
  Ran ran = RunProgram({kCli, "split", "--to", "opus", "-o", dir / "out", dir / "side.wav"});
  EXPECT_EQ(ran.status, 1);
  EXPECT_NE(ran.err.find("Opus parts take 8, 12, 16, 24 or 48 kHz, and this recording is 44100 Hz"),
            std::string::npos) << ran.err;
  ran = RunProgram({kCli, "split", "--to", "mp3", "--bitrate", "100", "-o", dir / "out", dir / "side.wav"});
  EXPECT_EQ(ran.status, 1);
  EXPECT_NE(ran.err.find("takes a --bitrate of 32, 40, 48"), std::string::npos) << ran.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "out/side_001.mp3"));
  EXPECT_EQ(RunProgram({kCli, "split", "--quality", "2", dir / "side.wav"}).status, 2);
  EXPECT_EQ(RunProgram({kCli, "split", "--to", "opus", "--quality", "2", dir / "side48.wav"}).status, 2);
  EXPECT_EQ(RunProgram({kCli, "split", "--to", "mp3", "--quality", "2", "--bitrate", "128", dir / "side.wav"}).status, 2);
}

// With --keep-metadata, the frames of the source's ID3v2 tag go with every
// part: its names and picture kept, its own title and number in place of
// the source's, the whole's length left out.
TEST_F(Mp3, KeptTagsCarryTheSourcesNames) {
  dir.Put("in.wav", SimpleWav(2, Recording(44100), 44100));
  Bytes picture(600, 7);  // a JPEG's first bytes, enough for lame to take it
  const std::uint8_t jpeg[] = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0};
  std::copy(std::begin(jpeg), std::end(jpeg), picture.begin());
  dir.Put("cover.jpg", picture);
  const ShellResult made = Shell("lame --quiet -V 4 --id3v2-only --tt 'The Show' --ta 'Some Artist' "
                                 "--tl 'An Album' --ty 2025 --ti '" + dir / "cover.jpg" + "' '" +
                                 dir / "in.wav" + "' '" + dir / "show.mp3" + "'");
  ASSERT_EQ(made.status, 0) << made.err;
  ASSERT_EQ(RunProgram({kCli, "split", "-q", "--gap", "0.5", "--keep-metadata", "-o", dir / "out",
                        dir / "show.mp3"}).status, 0);
  const ShellResult probe = Shell("ffprobe -v error -show_entries format_tags:stream=codec_name "
                                  "-of default=nw=1 '" + dir / "out/show_002.mp3" + "'");
  EXPECT_NE(probe.out.find("TAG:artist=Some Artist"), std::string::npos) << probe.out;
  EXPECT_NE(probe.out.find("TAG:album=An Album"), std::string::npos) << probe.out;
  EXPECT_NE(probe.out.find("TAG:date=2025"), std::string::npos) << probe.out;
  EXPECT_NE(probe.out.find("TAG:title=show_002"), std::string::npos) << probe.out;
  EXPECT_NE(probe.out.find("TAG:track=2/3"), std::string::npos) << probe.out;
  EXPECT_EQ(probe.out.find("The Show"), std::string::npos) << probe.out;
  EXPECT_EQ(probe.out.find("TLEN"), std::string::npos) << probe.out;
  EXPECT_NE(probe.out.find("codec_name=mjpeg"), std::string::npos) << probe.out;  // the picture
}

TEST_F(Mp3, ALongStreamDecodedOnEveryCoreIsTheSamplesOfOneCore) {
  // Two minutes: runs of frames decoded ahead on every core, each from a
  // run-up of its own, give exactly the samples of one decoder from the
  // first frame, read once and again from the start.
  Samples samples;
  const Samples piece = Recording(44100);
  for (int i = 0; i < 20; ++i) samples.insert(samples.end(), piece.begin(), piece.end());
  dir.Put("long.wav", SimpleWav(2, samples));
  const ShellResult made = Shell("lame --quiet -b 128 '" + dir / "long.wav" + "' '" + dir / "long.mp3" + "'");
  ASSERT_EQ(made.status, 0) << made.err;
  const std::vector<std::int32_t> many = OurDecode(dir / "long.mp3");
  ASSERT_EQ(many.size(), samples.size());
  std::vector<std::int32_t> one;
  {
    OneCore held;
    one = OurDecode(dir / "long.mp3");
  }
  EXPECT_TRUE(many == one);
  formats::OpenedSource opened = formats::OpenSource(wave::PlatformFiles(), dir / "long.mp3");
  ASSERT_TRUE(opened.source);
  std::vector<std::int32_t> twice(many.size());
  const std::int64_t bytes = opened.source->Info().extentBytes;
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_EQ(opened.source->ReadSamples(0, twice.data(), bytes), bytes);
    for (auto& s : twice) s >>= 16;
    EXPECT_TRUE(twice == many) << "pass " << pass;
  }
}

TEST_F(Mp3, EncodedAnewItsPartsKeepTheSourcesNames) {
  // The artist, album, date, genre and comment of the MP3's tag, in
  // Latin-1 and in UTF-16 as lame writes them, go into parts made FLAC,
  // Opus or MP3 again, and into parts of its own frames.
  dir.Put("in.wav", SimpleWav(2, Recording(48000), 48000));
  for (const char* encoding : {"", "--id3v2-utf16 "}) {
    const ShellResult made =
        Shell(std::string("lame --quiet -V 4 --id3v2-only ") + encoding +
              "--ta 'Zoë Ångström' --tl 'Été' --ty 1987 --tg Jazz --tc 'side A' '" + dir / "in.wav" +
              "' '" + dir / "tape.mp3" + "'");
    ASSERT_EQ(made.status, 0) << made.err;
    std::filesystem::remove_all(dir / "out");
    for (const char* to : {"flac", "opus", "mp3", ""}) {
      std::vector<std::string> argv = {kCli, "split", "-q", "--gap", "0.5", "-o", dir / "out", dir / "tape.mp3"};
      if (*to) argv.insert(argv.begin() + 2, {"--to", to});
      const Ran run = RunProgram(argv);
      ASSERT_EQ(run.status, 0) << run.err;
      if (!*to) to = "mp3";
      const std::string part = dir / ("out/tape_002." + std::string(to));
      const ShellResult probe = Shell("ffprobe -v error -show_entries format_tags:stream_tags "
                                      "-of default=nw=1 '" + part + "'");
      std::string tags = probe.out;
      for (char& c : tags) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      EXPECT_NE(probe.out.find("=Zoë Ångström"), std::string::npos) << encoding << to << probe.out;
      EXPECT_NE(probe.out.find("=Été"), std::string::npos) << encoding << to << probe.out;
      EXPECT_NE(probe.out.find("=1987"), std::string::npos) << encoding << to << probe.out;
      EXPECT_NE(tags.find("genre=jazz"), std::string::npos) << to << probe.out;
      EXPECT_NE(tags.find("comment=side a"), std::string::npos) << to << probe.out;
    }
  }
}

}  // namespace
}  // namespace corvella::test
