// Files from other programs read whole and right, or refused: Wave64 read
// like RIFF (as ffmpeg writes it, float in an extensible fmt, sizes left
// "unknown"), AIFF judged against its file's length, RF64 with a ds64
// table, sizes written to a pipe, cut-off files refused or salvaged; and
// the smaller faults of the command line: hostile cut lists, cells a
// spreadsheet would run, large metadata, float widths, the reason of a write
// stopped by the file-size limit.
#include <sndfile.h>

#include <cmath>
#include <cstring>

#include "formats/Formats.h"
#include "support/CliRun.h"
#include "support/Fixture.h"
#include "wave/ByteOrder.h"
#include "wave/WaveSource.h"

namespace corvella::test {
namespace {

namespace fs = std::filesystem;

void PutLe64(Bytes& out, std::uint64_t v) {
  PutLe32(out, static_cast<std::uint32_t>(v));
  PutLe32(out, static_cast<std::uint32_t>(v >> 32));
}

// A Wave64 chunk: its GUID, its size with the header, the body, padding.
void W64Chunk(Bytes& out, const char (&id)[5], const Bytes& body, bool unknownSize = false) {
  out.insert(out.end(), id, id + 4);
  out.insert(out.end(), wave::kW64Tail, wave::kW64Tail + 12);
  PutLe64(out, unknownSize ? ~std::uint64_t{0} : body.size() + 24);
  out.insert(out.end(), body.begin(), body.end());
  // The last chunk needs no padding after it.
  if (std::string(id) != "data")
    while (out.size() % 8) out.push_back(0);
}

Bytes W64File(const Bytes& fmt, const Bytes& data, bool unknownSize = false) {
  Bytes chunks;
  W64Chunk(chunks, "fmt ", fmt);
  W64Chunk(chunks, "data", data, unknownSize);
  Bytes file(wave::kW64Riff, wave::kW64Riff + 16);
  PutLe64(file, unknownSize ? ~std::uint64_t{0} : chunks.size() + 40);
  file.insert(file.end(), {'w', 'a', 'v', 'e'});
  file.insert(file.end(), wave::kW64Tail, wave::kW64Tail + 12);
  file.insert(file.end(), chunks.begin(), chunks.end());
  return file;
}

// An extensible fmt body of float samples, as ffmpeg writes Wave64.
Bytes FloatExtensible(int channels, int rate) {
  Bytes fmt;
  PutLe16(fmt, 0xFFFE);
  PutLe16(fmt, static_cast<std::uint16_t>(channels));
  PutLe32(fmt, static_cast<std::uint32_t>(rate));
  PutLe32(fmt, static_cast<std::uint32_t>(rate * channels * 4));
  PutLe16(fmt, static_cast<std::uint16_t>(channels * 4));
  PutLe16(fmt, 32);
  PutLe16(fmt, 22);
  PutLe16(fmt, 32);
  PutLe32(fmt, 0x3);
  const std::uint8_t ieee[16] = {3, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  fmt.insert(fmt.end(), ieee, ieee + 16);
  return fmt;
}

Bytes Floats(const std::vector<float>& samples) {
  Bytes data(samples.size() * 4);
  std::memcpy(data.data(), samples.data(), data.size());
  return data;
}

// Two stereo float passages with silence around them.
std::vector<float> FloatPassages() {
  std::vector<float> samples(2 * 100000, 0.0f);
  for (int f = 10000; f < 30000; ++f)
    samples[2 * f] = samples[2 * f + 1] =
        0.25f * std::sin(f * 0.01f) + (f == 10000 || f == 29999 ? 0.5f : 0.0f);
  for (int f = 60000; f < 90000; ++f) samples[2 * f + 1] = f % 2 ? 0.5f : -0.5f;
  return samples;
}

class Files : public SourceFixture {
 protected:
  void SetUp() override { fs::current_path(dir.path()); }
  ShellResult Cli(const std::vector<std::string>& args) { return RunCli(args, stop); }
  std::atomic<int> stop{0};
};

TEST_F(Files, Wave64IsReadLikeRiffAndItsPartsCopiedLikeWavParts) {
  const std::vector<float> samples = FloatPassages();
  const Bytes fmt = FloatExtensible(2, 48000);
  dir.Put("take.w64", W64File(fmt, Floats(samples)));
  ShellResult r = Cli({"list", "-f", "csv", "take.w64"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("take.w64,1,10000,30000,"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("take.w64,2,60000,90000,"), std::string::npos) << r.out;
  // Parts are Wave64 files with the fmt chunk repeated and the samples as they were.
  r = Cli({"split", "-q", "take.w64"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "take_002.w64"),
            W64File(fmt, Floats(std::vector<float>(samples.begin() + 2 * 60000,
                                                   samples.begin() + 2 * 90000))));
  // Other readers take them: libsndfile sees a Wave64 file of the part's
  // length (it takes an extensible float fmt for 32-bit integers).
  SF_INFO info{};
  SNDFILE* sf = sf_open((dir / "take_002.w64").c_str(), SFM_READ, &info);
  ASSERT_TRUE(sf);
  sf_close(sf);
  EXPECT_EQ(info.frames, 30000);
  EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_W64);
  // As WAV: RIFF parts of the same float width.
  r = Cli({"split", "-q", "--to", "wav", "take.w64"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "take_001.wav"),
            WavBuilder()
                .Chunk("fmt ", fmt)
                .Chunk("data", Floats(std::vector<float>(samples.begin() + 2 * 10000,
                                                         samples.begin() + 2 * 30000)))
                .Build());
}

TEST_F(Files, SizesLeftUnknownReadToTheEndInWholeFrames) {
  const std::vector<float> samples = FloatPassages();
  Bytes data = Floats(samples);
  data.insert(data.end(), {1, 2, 3});  // a frame begun, not finished
  dir.Put("pipe.w64", W64File(FloatExtensible(2, 48000), data, true));
  // A WAV from a program writing to a pipe: all ones for both sizes.
  Samples pcm(2 * 80000, 0);
  for (int f = 20000; f < 50000; ++f) pcm[2 * f] = static_cast<std::int16_t>(f % 2 ? 3000 : -3000);
  Bytes wav = WavBuilder().Fmt(2).RawChunk("data", 0xFFFFFFFF, SampleBytes(pcm)).Build(0xFFFFFFFF);
  wav.push_back(7);
  dir.Put("pipe.wav", wav);
  ShellResult r = Cli({"count", "pipe.w64", "pipe.wav"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "File \"pipe.w64\" contains 2 parts!\nFile \"pipe.wav\" contains 1 parts!\n");
  auto source = formats::OpenSource(wave::PlatformFiles(), dir / "pipe.wav").source;
  ASSERT_TRUE(source);
  EXPECT_EQ(source->Info().frames, 80000);
  // The window does not take such a file, as before.
  EXPECT_EQ(Refusal(wav), "Size of data chunk is wrong!");
}

TEST_F(Files, CutOffFilesAreRefusedOrSalvagedToTheirLastWholeFrame) {
  Samples pcm(2 * 80000, 0);
  for (int f = 20000; f < 79000; ++f)
    pcm[2 * f + 1] = static_cast<std::int16_t>(f % 2 ? 3000 : -3000);
  Bytes wav = SimpleWav(2, pcm);
  wav.resize(wav.size() - 4 * 30000 - 1);  // 30000 frames and a byte short
  dir.Put("cut.wav", wav);
  const std::vector<float> samples = FloatPassages();
  Bytes w64 = W64File(FloatExtensible(2, 48000), Floats(samples));
  w64.resize(w64.size() - 8 * 20000 - 3);
  dir.Put("cut.w64", w64);
  for (const char* name : {"cut.wav", "cut.w64"}) {
    ShellResult r = Cli({"split", "-q", name});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_NE(r.err.find(": Size of data chunk is wrong! (the file ends before its header says: "),
              std::string::npos)
        << r.err;
  }
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"cut.w64", "cut.wav"}));
  ShellResult r = Cli({"split", "-q", "--salvage", "cut.wav", "cut.w64"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "corvella-cli: cut.wav: salvaged: the header promises 80000 frames, the file holds "
            "49999\n"
            "corvella-cli: cut.w64: salvaged: the header promises 100000 frames, the file holds "
            "79999\n");
  // The part of the salvaged WAV runs to its last whole frame.
  EXPECT_EQ(PartData(dir / "cut_001.wav"),
            SampleBytes(Samples(pcm.begin() + 2 * 20000, pcm.begin() + 2 * 49999)));
}

// An AIFF file's bytes: FORM, COMM, SSND with 16-bit big-endian samples.
Bytes Aiff(int channels, const std::vector<std::int16_t>& samples, std::int64_t formExtra = 0) {
  Bytes comm;
  auto be16 = [](Bytes& b, int v) {
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v));
  };
  auto be32 = [](Bytes& b, std::uint32_t v) {
    for (int s : {24, 16, 8, 0}) b.push_back(static_cast<std::uint8_t>(v >> s));
  };
  be16(comm, channels);
  be32(comm, static_cast<std::uint32_t>(samples.size() / channels));
  be16(comm, 16);
  const std::uint8_t rate44100[10] = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
  comm.insert(comm.end(), rate44100, rate44100 + 10);
  Bytes ssnd(8, 0);
  for (std::int16_t s : samples) be16(ssnd, s);
  Bytes body{'A', 'I', 'F', 'F', 'C', 'O', 'M', 'M'};
  be32(body, static_cast<std::uint32_t>(comm.size()));
  body.insert(body.end(), comm.begin(), comm.end());
  body.insert(body.end(), {'S', 'S', 'N', 'D'});
  be32(body, static_cast<std::uint32_t>(ssnd.size()));
  body.insert(body.end(), ssnd.begin(), ssnd.end());
  Bytes file{'F', 'O', 'R', 'M'};
  be32(file, static_cast<std::uint32_t>(body.size() + static_cast<std::size_t>(formExtra)));
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

TEST_F(Files, AiffIsJudgedByItsSoundDataAgainstTheFile) {
  Samples pcm(2 * 60000, 0);
  for (int f = 10000; f < 50000; ++f) pcm[2 * f] = static_cast<std::int16_t>(f % 2 ? 3000 : -3000);
  // Intact, though its FORM size claims more than the file holds: read.
  dir.Put("long-form.aif", Aiff(2, pcm, 1000));
  ShellResult r = Cli({"count", "long-form.aif"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "File \"long-form.aif\" contains 1 parts!\n");
  // One byte short: its last frame is not there, and it says so.
  Bytes cut = Aiff(2, pcm);
  cut.pop_back();
  dir.Put("cut.aif", cut);
  r = Cli({"count", "cut.aif"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "corvella-cli: cut.aif: Size of data chunk is wrong! (the file ends before its header "
            "says: 59999 of 60000 frames are there; --salvage reads them)\n");
  EXPECT_EQ(r.out, "");
  // 8-bit mono parts of an odd number of frames keep exactly their frames.
  SF_INFO info{};
  info.samplerate = 8000;
  info.channels = 1;
  info.format = SF_FORMAT_AIFF | SF_FORMAT_PCM_S8;
  SNDFILE* sf = sf_open((dir / "eight.aif").c_str(), SFM_WRITE, &info);
  std::vector<int> eight(20001, 0);
  for (int f = 5000; f < 10001; ++f) eight[static_cast<std::size_t>(f)] = (f % 2 ? 40 : -40) << 24;
  sf_writef_int(sf, eight.data(), static_cast<sf_count_t>(eight.size()));
  sf_close(sf);
  r = Cli({"split", "-q", "--gap", "0.1", "eight.aif"});
  ASSERT_EQ(r.status, 0) << r.err;
  SF_INFO back{};
  sf = sf_open((dir / "eight_001.aif").c_str(), SFM_READ, &back);
  ASSERT_TRUE(sf);
  EXPECT_EQ(back.frames, 5001);
  sf_close(sf);
}

TEST_F(Files, Rf64WithADs64TableIsReadPastItWhole) {
  Samples pcm(2 * 40000, 0);
  for (int f = 10000; f < 30000; ++f) pcm[2 * f] = static_cast<std::int16_t>(f % 2 ? 3000 : -3000);
  const Bytes data = SampleBytes(pcm);
  Bytes ds64;
  PutLe64(ds64, 0);  // the RIFF size, set below
  PutLe64(ds64, data.size());
  PutLe64(ds64, 40000);
  PutLe32(ds64, 1);  // one table entry: a chunk id and its 64-bit size
  ds64.insert(ds64.end(), {'j', 'u', 'n', 'k'});
  PutLe64(ds64, 0);
  Bytes file =
      WavBuilder().Chunk("ds64", ds64).Fmt(2).RawChunk("data", 0xFFFFFFFF, data).Build(0xFFFFFFFF);
  std::memcpy(file.data(), "RF64", 4);
  const std::uint64_t riff = file.size() - 8;
  for (int i = 0; i < 8; ++i)
    file[20 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(riff >> (8 * i));
  dir.Put("table.wav", file);
  ShellResult r = Cli({"count", "table.wav"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "File \"table.wav\" contains 1 parts!\n");
}

TEST_F(Files, FloatWidthsStayAndEncodingsAreNamed) {
  // A 32-bit float CAF to WAV: 32-bit float WAV parts, not 64-bit.
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 1;
  info.format = SF_FORMAT_CAF | SF_FORMAT_FLOAT;
  SNDFILE* sf = sf_open((dir / "take.caf").c_str(), SFM_WRITE, &info);
  std::vector<float> samples(40000, 0.0f);
  for (int f = 10000; f < 20000; ++f) samples[static_cast<std::size_t>(f)] = 0.5f;
  sf_writef_float(sf, samples.data(), static_cast<sf_count_t>(samples.size()));
  sf_close(sf);
  ShellResult r = Cli({"split", "-q", "--to", "wav", "take.caf"});
  ASSERT_EQ(r.status, 0) << r.err;
  SF_INFO back{};
  sf = sf_open((dir / "take_001.wav").c_str(), SFM_READ, &back);
  ASSERT_TRUE(sf);
  sf_close(sf);
  EXPECT_EQ(back.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  // A CAF whose encoding libsndfile cannot read says which it is.
  Bytes caf{'c', 'a', 'f', 'f', 0, 1, 0, 0};
  caf.insert(caf.end(), {'d', 'e', 's', 'c', 0, 0, 0, 0, 0, 0, 0, 32});
  const std::uint8_t rate[8] = {0x40, 0xE5, 0x88, 0x80, 0, 0, 0, 0};  // 44100.0
  caf.insert(caf.end(), rate, rate + 8);
  caf.insert(caf.end(),
             {'a', 'l', 'a', 'c', 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 16, 0, 0, 0, 0, 1, 0, 0, 0, 0});
  caf.insert(caf.end(), {'d', 'a', 't', 'a', 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 1, 2, 3, 4});
  dir.Put("apple.caf", caf);
  r = Cli({"count", "apple.caf"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("corvella-cli: apple.caf: libsndfile cannot read this CAF (ALAC) file"),
            std::string::npos)
      << r.err;
}

TEST_F(Files, AWriteStoppedByTheFileSizeLimitSaysSo) {
#ifdef _WIN32
  GTEST_SKIP() << "file-size limits are POSIX's";
#endif
  Samples pcm(2 * 200000, 0);
  for (int f = 1000; f < 199000; ++f) pcm[2 * f] = static_cast<std::int16_t>(f % 2 ? 3000 : -3000);
  dir.Put("big.wav", SimpleWav(2, pcm));
  // As a user's shell runs it under a limit: no trap, no signal set aside.
  const ShellResult r =
      Shell("cd " + dir.path() + " && ulimit -f 100 && " + CORVELLA_CLI + " split -q -o . big.wav");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "corvella-cli: ./big_001.wav: Unable to write output file! (file too large)\n");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"big.wav"});
}

TEST_F(Files, KeptMetadataOfAnySizeAndCountIsCarriedOrNamed) {
  Samples pcm(2 * 40000, 0);
  for (int f = 10000; f < 30000; ++f) pcm[2 * f] = static_cast<std::int16_t>(f % 2 ? 3000 : -3000);
  Bytes ixml(3 << 20, 'x');  // 3 MiB of iXML
  WavBuilder builder;
  builder.Fmt(2).Chunk("iXML", ixml);
  Bytes info{'I', 'N', 'F', 'O', 'I', 'C', 'M', 'T', 2, 0, 0, 0, 'a', 0};
  for (int i = 0; i < 70; ++i) builder.Chunk("LIST", info);
  dir.Put("rich.wav", builder.Data(pcm).Build());
  ShellResult r = Cli({"split", "-q", "--keep-metadata", "rich.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  WavBuilder want;
  want.Fmt(2).Chunk("iXML", ixml);
  for (int i = 0; i < 70; ++i) want.Chunk("LIST", info);
  EXPECT_EQ(ReadFile(dir / "rich_001.wav"),
            want.Data(Samples(pcm.begin() + 2 * 10000, pcm.begin() + 2 * 30000)).Build());
  // Past the most kept, the rest are named, never dropped without a word.
  WavBuilder crowded;
  crowded.Fmt(2);
  for (int i = 0; i < 5000; ++i) crowded.Chunk("LIST", info);
  dir.Put("crowded.wav", crowded.Data(pcm).Build());
  r = Cli({"split", "-q", "--keep-metadata", "crowded.wav"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "corvella-cli: crowded.wav: the chunks after the 4096th are not carried into parts\n");
}

TEST_F(Files, CutListsWithHugeNumbersOrKeysGivenTwiceAreRefused) {
  Samples pcm(2 * 40000, 0);
  for (int f = 10000; f < 30000; ++f) pcm[2 * f] = 3000;
  dir.Put("a.wav", SimpleWav(2, pcm));
  for (const auto& [list, says] : std::vector<std::pair<std::string, std::string>>{
           {R"({"parts": [{"start_frame": 1e400, "end_frame": 5}]})",
            "not valid JSON: a number too large to read"},
           {R"({"parts": [{"start_frame": 1, "start_frame": 2, "end_frame": 5}]})",
            "not valid JSON: the key \"start_frame\" is given twice"}}) {
    WriteFile(dir / "cuts.json", Bytes(list.begin(), list.end()));
    ShellResult r = Cli({"split", "--cuts", "cuts.json", "a.wav"});
    EXPECT_EQ(r.status, 1) << list;
    EXPECT_EQ(r.err, "corvella-cli: cuts.json: " + says + "\n");
  }
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"a.wav", "cuts.json"}));
}

TEST_F(Files, CsvCellsNeverRunAsFormulasAndComeBackExactly) {
  Samples pcm(2 * 60000, 0);
  for (int f = 10000; f < 20000; ++f) pcm[2 * f] = 3000;
  for (int f = 50000; f < 55000; ++f) pcm[2 * f] = 3000;
  const std::string name = "=HYPERLINK(x,y)+1.wav";
  dir.Put(name, SimpleWav(2, pcm));
  ShellResult r = Cli({"list", "-f", "csv", name});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\n\"'=HYPERLINK(x,y)+1.wav\",1,10000,20000,"), std::string::npos) << r.out;
  WriteFile(dir / "cuts.csv", Bytes(r.out.begin(), r.out.end()));
  r = Cli({"split", "-q", "--cuts", "cuts.csv", name});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(U8(dir / "=HYPERLINK(x,y)+1_002.wav")));
}

}  // namespace
}  // namespace corvella::test
