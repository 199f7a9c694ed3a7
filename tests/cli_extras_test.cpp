// The command line beyond the window: dB and seconds, minimum length,
// padding, the part lists in every format against what split writes, and
// the noise-floor suggestion on recordings of known levels.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "cli/Listing.h"
#include "detect/Units.h"
#include "support/CliRun.h"

namespace corvella::test {
namespace {

namespace fs = std::filesystem;

class Extras : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::current_path(dir.path());
    // 0.3 s, 2 s and 1 s of sound, then a 5 ms click, each 2 s apart.
    for (auto [length, level] :
         {std::pair{13230, 4000}, {88200, 12000}, {44100, 700}, {220, 30000}}) {
      for (int f = 0; f < length; ++f)
        samples.insert(samples.end(),
                       {std::int16_t(f % 2 ? level : -level / 2), std::int16_t(level / 3)});
      samples.insert(samples.end(), 2 * 88200, 0);
    }
    dir.Put("rec.wav", SimpleWav(2, samples));
  }
  ShellResult Cli(const std::vector<std::string>& args) { return RunCli(args, stop); }
  QJsonArray Parts(std::vector<std::string> args) {
    args.insert(args.begin(), {"list", "-f", "json", "-o", "parts"});
    args.push_back("rec.wav");
    return QJsonDocument::fromJson(QByteArray::fromStdString(Cli(args).out))
        .array()[0]
        .toObject()["parts"]
        .toArray();
  }
  TempDir dir;
  Samples samples;
  std::atomic<int> stop{0};
};

TEST_F(Extras, ListAgreesWithSplitByteForByte) {
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{},
        {"--min-part", "0.5"},
        {"--pad-before", "0.25", "--pad-after", "3", "--gap", "0.2"},
        {"--threshold-db", "-30"}}) {
    fs::create_directory(dir / "parts");
    std::vector<std::string> split{"split", "-q", "-o", "parts", "rec.wav"};
    split.insert(split.begin() + 4, options.begin(), options.end());
    ASSERT_EQ(Cli(split).status, 0);
    const QJsonArray parts = Parts(options);
    EXPECT_EQ(static_cast<std::size_t>(parts.size()), dir.Names("parts").size());
    for (int k = 0; k < parts.size(); ++k) {
      const QJsonObject p = parts[k].toObject();
      EXPECT_EQ(p["number"].toInt(), k + 1);
      const auto start = p["start_frame"].toInteger(), end = p["end_frame"].toInteger();
      EXPECT_EQ(PartData(dir / p["output"].toString().toStdString()),
                SampleBytes(Samples(samples.begin() + 2 * start, samples.begin() + 2 * end)));
      EXPECT_NEAR(p["start"].toDouble(), start / 44100.0, 1e-6);
    }
    fs::remove_all(dir / "parts");
  }
  // Without the new options, and with the defaults spelled out, the bytes are the window's.
  ASSERT_EQ(Cli({"split", "-q", "rec.wav"}).status, 0);
  const Bytes plain = ReadFile(dir / "rec_002.wav");
  ASSERT_EQ(
      Cli({"split", "-q", "--threshold-db", "-50", "--gap", "0.5", "--min-part", "0", "rec.wav"})
          .status,
      0);
  EXPECT_EQ(ReadFile(dir / "rec_002.wav"), plain);
}

TEST_F(Extras, MinimumLengthPeaksAndTheOtherFormats) {
  const QJsonArray all = Parts({});
  ASSERT_EQ(all.size(), 4);  // the click is a part of its own
  const QJsonArray kept = Parts({"--min-part", "0.5"});
  ASSERT_EQ(kept.size(), 2);
  EXPECT_EQ(kept[0].toObject()["start_frame"], all[1].toObject()["start_frame"]);
  EXPECT_EQ(kept[1].toObject()["output"].toString(), "parts/rec_002.wav");
  EXPECT_EQ(Cli({"count", "--min-part", "0.5", "rec.wav"}).out,
            "File \"rec.wav\" contains 2 parts!\n");
  EXPECT_NEAR(all[3].toObject()["peak_dbfs"].toDouble(), detect::AmplitudeDb(30000), 0.006);

  const std::string csv = Cli({"list", "-f", "csv", "rec.wav"}).out;
  const std::string labels = Cli({"list", "-f", "labels", "rec.wav"}).out;
  const std::string cue = Cli({"list", "-f", "cue", "rec.wav"}).out;
  EXPECT_EQ(csv.substr(0, csv.find('\n')),
            "file,part,start_frame,end_frame,start,end,duration,peak_dbfs,output");
  EXPECT_EQ(cue.substr(0, cue.find('\n')), "FILE \"rec.wav\" WAVE");
  for (int k = 0; k < all.size(); ++k) {
    const QJsonObject p = all[k].toObject();
    char line[256];
    std::snprintf(line, sizeof line, "\nrec.wav,%d,%lld,%lld,%.6f,%.6f,", k + 1,
                  static_cast<long long>(p["start_frame"].toInteger()),
                  static_cast<long long>(p["end_frame"].toInteger()), p["start"].toDouble(),
                  p["end"].toDouble());
    EXPECT_NE(csv.find(line), std::string::npos) << line;
    std::snprintf(line, sizeof line, "%.6f\t%.6f\trec_%03d\n", p["start"].toDouble(),
                  p["end"].toDouble(), k + 1);
    EXPECT_NE(labels.find(line), std::string::npos) << line;
    std::snprintf(line, sizeof line,
                  "  TRACK %02d AUDIO\n    TITLE \"rec_%03d\"\n    INDEX 01 %s\n", k + 1, k + 1,
                  cli::CueTime(p["start"].toDouble()).c_str());
    EXPECT_NE(cue.find(line), std::string::npos) << line;
  }
  dir.Put("bad.wav", Bytes(10, 1));
  const ShellResult r = Cli({"list", "-f", "json", "bad.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(r.out))
                .array()[0]
                .toObject()["error"]
                .toString(),
            "Not a valid WAV file!");
}

// Five tracks of a tone whose 10 ms peaks swell from musicDb up, with rests
// inside them and gaps between them of noise peaking at noiseDb.
Samples KnownLevels(double noiseDb, double musicDb, std::mt19937& random) {
  const int noise = detect::NoiseFloorFromDb(noiseDb), music = detect::NoiseFloorFromDb(musicDb);
  std::uniform_int_distribution<int> hiss(-noise, noise);
  Samples s;
  for (int k = 0; k < 5 * 7 * 4410 + 6 * 88200; ++k) {  // rests of 0.1 s, gaps of 2 s
    const bool sound = k >= 88200 && k % 119070 < 30870 && k % 4410 < 3969;
    const int level = std::min(music << (k / 441 % 5), 30000);  // 10 ms at 1, 2, 4, 8, 16 times
    s.push_back(static_cast<std::int16_t>(sound ? (k % 2 ? level : -level) : hiss(random)));
  }
  return s;
}

TEST_F(Extras, SuggestionLandsBetweenKnownNoiseAndMusic) {
  std::mt19937 random(5);
  for (double noiseDb : {-78.0, -62.0, -56.0}) {
    for (double musicDb : {-40.0, -24.0}) {
      dir.Put("known.wav", SimpleWav(1, KnownLevels(noiseDb, musicDb, random)));
      const ShellResult r = Cli({"levels", "known.wav"});
      const auto at = r.out.rfind("suggested: --threshold-db ");
      ASSERT_NE(at, std::string::npos) << r.out;
      const double suggested = std::stod(r.out.substr(at + 26));
      EXPECT_TRUE(noiseDb < suggested && suggested < musicDb) << r.out;
      EXPECT_NE(r.out.find("giving 5 parts"), std::string::npos) << r.out;
    }
  }
  Samples tone;
  for (int f = 0; f < 441000; ++f)
    tone.push_back(static_cast<std::int16_t>(8000 * std::sin(f * 0.05)));
  dir.Put("tone.wav", SimpleWav(1, tone));
  const std::string out = Cli({"levels", "tone.wav"}).out;
  EXPECT_NE(out.find("no clear silence"), std::string::npos) << out;
  EXPECT_NE(out.find("suggested: --threshold-db -50.0\n"), std::string::npos);
}

// The number after `label` in `text`, or NaN.
double NumberAfter(const std::string& text, const std::string& label) {
  const auto at = text.find(label);
  return at == std::string::npos ? std::nan("") : std::stod(text.substr(at + label.size()));
}

// What levels says of a recording must agree with itself: the histogram
// marks the threshold it suggests, and the parts it names (the clearest, or
// else the stable ones) are those its suggested options give.
TEST_F(Extras, LevelsReportAgreesWithItself) {
  // Digital silence, then tones with hiss between them: the stable range
  // reaches down into the silence and holds one part; above the hiss the
  // tones stand clearly apart, and the suggestion parts them.
  std::mt19937 random(5);
  std::normal_distribution<double> hiss(0, 65);
  Samples marked(2400, 0);
  bool tone = true;
  for (int frames : {8000, 8000, 4000, 8000, 8000}) {
    for (int f = 0; f < frames; ++f) {
      const double v =
          tone ? 9830 * std::sin(f * 0.3456) : std::clamp(hiss(random), -32768.0, 32767.0);
      marked.push_back(static_cast<std::int16_t>(std::lround(v)));
    }
    tone = !tone;
  }
  dir.Put("marked.wav", SimpleWav(1, marked, 8000));

  // A second of samples that are not numbers is loud, as the detection rule
  // judges it, in the histogram and the peaks as everywhere.
  Bytes nan;
  auto put = [&](float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    PutLe32(nan, bits);
  };
  for (int f = 0; f < 4000; ++f) put(0);
  for (int f = 0; f < 8000; ++f) put(std::nanf(""));
  for (int f = 0; f < 5600; ++f) put(0);
  for (int f = 0; f < 2400; ++f) put(0.3F * std::sin(static_cast<float>(f) * 0.35F));
  for (int f = 0; f < 8000; ++f) put(0);
  dir.Put("nan.wav",
          WavBuilder().Chunk("fmt ", FormatBody(3, 1, 8000, 32)).Chunk("data", nan).Build());

  // Bursts of 30 ms are not clicks, however short the gap.
  Samples bursts;
  for (int k = 0; k < 40; ++k) {
    bursts.insert(bursts.end(), 4410, 0);
    for (int f = 0; f < 1323; ++f)
      bursts.push_back(static_cast<std::int16_t>(16000 * std::sin(f * 0.06)));
  }
  bursts.insert(bursts.end(), 4410, 0);
  dir.Put("bursts.wav", SimpleWav(1, bursts));

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"marked.wav"}, {"nan.wav"}, {"--gap", "0.005", "bursts.wav"}}) {
    std::vector<std::string> command{"levels"};
    command.insert(command.end(), args.begin(), args.end());
    const std::string out = Cli(command).out;
    SCOPED_TRACE(out);
    const double suggested = NumberAfter(out, "suggested threshold: ");
    const auto mark = out.find("suggested floor");
    ASSERT_NE(mark, std::string::npos);
    const double row = NumberAfter(out.substr(out.rfind('\n', mark) + 1), "");
    EXPECT_TRUE(row <= suggested && suggested < row + 6) << "marked in the row of " << row;
    // It gives the count of the clearest parting where there is one, else
    // the stable range's.
    const bool clearest = out.find("  clearest: ") != std::string::npos;
    const double count = NumberAfter(out, clearest ? "  clearest: " : "  stable: ");
    EXPECT_EQ(count, NumberAfter(out, "), giving "));
    EXPECT_EQ(out.find("--ignore-clicks"), std::string::npos);
  }
  const std::string nanOut = Cli({"levels", "nan.wav"}).out;
  EXPECT_NE(nanOut.find("   0 dB |#"), std::string::npos) << nanOut;
  EXPECT_NE(Cli({"list", "nan.wav"}).out.find("1.000s        inf  nan_001.wav"), std::string::npos);
}

}  // namespace
}  // namespace corvella::test
