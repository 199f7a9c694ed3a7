// The command line beyond the window: dB and seconds, minimum length,
// padding, the part lists in every format against what split writes, and
// the noise-floor suggestion on recordings of known levels.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <random>
#include <sstream>

#include "cli/Cli.h"
#include "cli/Levels.h"
#include "cli/Listing.h"
#include "cli/Plan.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"

namespace corvella::test {
namespace {

using Samples = std::vector<std::int16_t>;
namespace fs = std::filesystem;

TEST(Conversions, DecibelsAndSecondsAtTheirEdges) {
  EXPECT_EQ(cli::NoiseFloorFromDb(-50.0), 104);  // the window's default
  EXPECT_EQ(cli::NoiseFloorFromDb(-40.0), 328);  // -39.99 is nearer than -40.02
  EXPECT_EQ(cli::NoiseFloorFromDb(-90.31), 1);
  EXPECT_EQ(cli::NoiseFloorFromDb(-120.0), 1);
  EXPECT_EQ(cli::NoiseFloorFromDb(0.0), 32767);
  EXPECT_EQ(cli::NoiseFloorFromDb(-6.0206), 16384);
  for (int n = 1; n <= 32767; n += 37) EXPECT_EQ(cli::NoiseFloorFromDb(cli::LevelDb(n)), n);
  EXPECT_EQ(cli::GapThresholdFromSeconds(0.5), 22050);
  EXPECT_EQ(cli::GapThresholdFromSeconds(0.1), 4410);
  EXPECT_EQ(cli::GapThresholdFromSeconds(1.0 / 88200), 1);  // half a unit rounds up
  EXPECT_EQ(cli::GapThresholdFromSeconds(0.000001), 1);
  EXPECT_EQ(cli::FramesFromSeconds(0.25, 8000), 2000);
  EXPECT_EQ(cli::FramesFromSeconds(1.0, 0), 44100);
  EXPECT_EQ(cli::CueTime(0.0), "00:00:00");
  EXPECT_EQ(cli::CueTime(61.0 + 74.9 / 75), "01:01:74");
  EXPECT_EQ(cli::CueTime(7200.5), "120:00:37");
}

TEST(Plan, ShortPartsGoAndPaddingStaysInItsHalfOfEachGap) {
  const std::vector<PartSpan> parts{{100, 200}, {250, 260}, {300, 500}, {900, 1000}};
  cli::PlanOptions options;
  options.minFrames = 50;  // drops 250..260
  options.padBefore = 150;
  options.padAfter = 1000;
  EXPECT_EQ(cli::PlanParts(parts, 1100, options),
            (std::vector<PartSpan>{{0, 250}, {250, 700}, {750, 1100}}));
  EXPECT_EQ(cli::PlanParts(parts, 1100, {}), parts);
}

TEST(Plan, PaddedPartsNeverOverlapAndAlwaysHoldTheirFrames) {
  std::mt19937 random(3);
  for (int round = 0; round < 2000; ++round) {
    std::vector<PartSpan> parts;
    std::int64_t at = static_cast<std::int64_t>(random() % 50);
    for (int k = 0; k < 1 + static_cast<int>(random() % 6); ++k) {
      const std::int64_t start = at + static_cast<std::int64_t>(random() % 40) + (k ? 1 : 0);
      const std::int64_t end = start + 1 + static_cast<std::int64_t>(random() % 60);
      parts.push_back({start, end});
      at = end;
    }
    const std::int64_t frames = at + static_cast<std::int64_t>(random() % 50);
    cli::PlanOptions options{static_cast<std::int64_t>(random() % 30),
                             static_cast<std::int64_t>(random() % 80),
                             static_cast<std::int64_t>(random() % 80)};
    const auto planned = cli::PlanParts(parts, frames, options);
    std::size_t next = 0;
    for (const PartSpan& part : parts) {
      if (part.end - part.start < options.minFrames) continue;
      const PartSpan& p = planned.at(next++);
      ASSERT_LE(p.start, part.start);
      ASSERT_GE(p.end, part.end);
      ASSERT_GE(part.start - p.start, 0);
      ASSERT_LE(part.start - p.start, options.padBefore);
      ASSERT_LE(p.end - part.end, options.padAfter);
      ASSERT_GE(p.start, 0);
      ASSERT_LE(p.end, frames);
    }
    ASSERT_EQ(next, planned.size());
    for (std::size_t k = 1; k < planned.size(); ++k) ASSERT_LE(planned[k - 1].end, planned[k].start);
  }
}

struct CliRun {
  int status;
  std::string out, err;
};

class Extras : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::current_path(dir.path());
    // Three passages and a click: 0.3 s, 2 s, 1 s of sound, then a 5 ms click.
    for (auto [length, level] : {std::pair{13230, 4000}, {88200, 12000}, {44100, 700}, {220, 30000}}) {
      for (int f = 0; f < length; ++f) {
        samples.push_back(static_cast<std::int16_t>(f % 2 ? level : -level / 2));
        samples.push_back(static_cast<std::int16_t>(level / 3));
      }
      samples.insert(samples.end(), 2 * 44100, 0);
    }
    dir.Put("rec.wav", SimpleWav(2, samples));
    fs::create_directory(dir / "parts");
  }
  CliRun Cli(std::vector<std::string> args) {
    args.insert(args.begin(), "corvella-cli");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    std::atomic<bool> interrupted{false};
    const int status = cli::Run(static_cast<int>(argv.size()), argv.data(), out, err, false, interrupted);
    fs::current_path(dir.path());
    return {status, out.str(), err.str()};
  }
  QJsonArray Json(const std::vector<std::string>& options) {
    std::vector<std::string> args{"list", "-f", "json", "-o", "parts"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back("rec.wav");
    const CliRun r = Cli(args);
    EXPECT_EQ(r.status, 0) << r.err;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << r.out;
    return doc.array();
  }
  Bytes Frames(std::int64_t start, std::int64_t end) {
    return SampleBytes(Samples(samples.begin() + 2 * start, samples.begin() + 2 * end));
  }

  TempDir dir;
  Samples samples;
};

TEST_F(Extras, ListAgreesWithSplitByteForByte) {
  const std::vector<std::vector<std::string>> optionSets{
      {}, {"--min-part", "0.5"}, {"--pad-before", "0.25", "--pad-after", "3"},
      {"--min-part", "0.01", "--pad-before", "10", "--pad-after", "10", "--gap", "0.2"},
      {"--threshold-db", "-30"}};
  for (const auto& options : optionSets) {
    fs::remove_all(dir / "parts");
    fs::create_directory(dir / "parts");
    const QJsonArray files = Json(options);
    ASSERT_EQ(files.size(), 1);
    const QJsonObject file = files[0].toObject();
    EXPECT_EQ(file["rate"].toInt(), 44100);
    EXPECT_EQ(file["channels"].toInt(), 2);
    EXPECT_EQ(file["frames"].toInteger(), static_cast<qint64>(samples.size() / 2));
    std::vector<std::string> split{"split", "-q", "-o", "parts"};
    split.insert(split.end(), options.begin(), options.end());
    split.push_back("rec.wav");
    ASSERT_EQ(Cli(split).status, 0);
    const QJsonArray parts = file["parts"].toArray();
    EXPECT_EQ(static_cast<std::size_t>(parts.size()),
              static_cast<std::size_t>(std::distance(fs::directory_iterator(dir / "parts"), {})));
    for (int k = 0; k < parts.size(); ++k) {
      const QJsonObject part = parts[k].toObject();
      EXPECT_EQ(part["number"].toInt(), k + 1);
      const std::string output = part["output"].toString().toStdString();
      const ParsedWav wav = ParseWav(ReadFile(dir / output));
      EXPECT_EQ(wav.data, Frames(part["start_frame"].toInteger(), part["end_frame"].toInteger()))
          << output;
      EXPECT_NEAR(part["start"].toDouble(), part["start_frame"].toDouble() / 44100, 1e-6);
      EXPECT_NEAR(part["end"].toDouble(), part["end_frame"].toDouble() / 44100, 1e-6);
    }
  }
}

TEST_F(Extras, MinimumLengthDropsShortPartsAndNumbersTheRestInOrder) {
  const QJsonArray all = Json({})[0].toObject()["parts"].toArray();
  ASSERT_EQ(all.size(), 4);  // the click is a part of its own
  const QJsonArray kept = Json({"--min-part", "0.5"})[0].toObject()["parts"].toArray();
  ASSERT_EQ(kept.size(), 2);
  EXPECT_EQ(kept[0].toObject()["start_frame"], all[1].toObject()["start_frame"]);
  EXPECT_EQ(kept[1].toObject()["start_frame"], all[2].toObject()["start_frame"]);
  EXPECT_EQ(kept[1].toObject()["output"].toString(), "parts/rec_002.wav");
  EXPECT_EQ(Cli({"count", "--min-part", "0.5", "rec.wav"}).out, "File \"rec.wav\" contains 2 parts!\n");
}

TEST_F(Extras, PeaksAreTheLoudestSampleOfEachPart) {
  const QJsonArray parts = Json({})[0].toObject()["parts"].toArray();
  const double levels[] = {cli::LevelDb(4000), cli::LevelDb(12000), cli::LevelDb(700), cli::LevelDb(30000)};
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(parts[k].toObject()["peak_dbfs"].toDouble(), levels[k], 0.006);
}

TEST_F(Extras, CsvLabelsAndCueCarryTheSameTimes) {
  const QJsonArray parts = Json({"--pad-before", "0.1"})[0].toObject()["parts"].toArray();
  const std::string csv = Cli({"list", "-f", "csv", "--pad-before", "0.1", "rec.wav"}).out;
  const std::string labels = Cli({"list", "-f", "labels", "--pad-before", "0.1", "rec.wav"}).out;
  const std::string cue = Cli({"list", "-f", "cue", "--pad-before", "0.1", "rec.wav"}).out;
  std::istringstream csvLines(csv), labelLines(labels);
  std::string line;
  std::getline(csvLines, line);
  EXPECT_EQ(line, "file,part,start_frame,end_frame,start,end,duration,peak_dbfs,output");
  EXPECT_NE(cue.find("FILE \"rec.wav\" WAVE\n"), std::string::npos);
  for (int k = 0; k < parts.size(); ++k) {
    const QJsonObject part = parts[k].toObject();
    std::getline(csvLines, line);
    char expected[256];
    std::snprintf(expected, sizeof expected, "rec.wav,%d,%lld,%lld,%.6f,%.6f,", k + 1,
                  static_cast<long long>(part["start_frame"].toInteger()),
                  static_cast<long long>(part["end_frame"].toInteger()), part["start"].toDouble(),
                  part["end"].toDouble());
    EXPECT_EQ(line.rfind(expected, 0), 0u) << line;
    std::getline(labelLines, line);
    std::snprintf(expected, sizeof expected, "%.6f\t%.6f\trec_%03d", part["start"].toDouble(),
                  part["end"].toDouble(), k + 1);
    EXPECT_EQ(line, expected);
    std::snprintf(expected, sizeof expected, "  TRACK %02d AUDIO\n    TITLE \"rec_%03d\"\n    INDEX 01 %s\n",
                  k + 1, k + 1, cli::CueTime(part["start"].toDouble()).c_str());
    EXPECT_NE(cue.find(expected), std::string::npos) << expected;
  }
}

TEST_F(Extras, DefaultsAndTheirSpelledOutFormsGiveTheWindowsBytes) {
  ASSERT_EQ(Cli({"split", "-q", "-o", "parts", "rec.wav"}).status, 0);
  fs::rename(dir / "parts", dir / "plain");
  for (const auto& options : std::vector<std::vector<std::string>>{
           {"--threshold-db", "-50", "--gap", "0.5"},
           {"--noise-floor", "104", "--gap-threshold", "22050", "--min-part", "0", "--pad-before", "0"}}) {
    fs::create_directory(dir / "parts");
    std::vector<std::string> args{"split", "-q", "-o", "parts"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back("rec.wav");
    ASSERT_EQ(Cli(args).status, 0);
    for (const auto& entry : fs::directory_iterator(dir / "plain")) {
      EXPECT_EQ(ReadFile(entry.path()), ReadFile(dir / "parts" / entry.path().filename()));
    }
    fs::remove_all(dir / "parts");
  }
}

TEST_F(Extras, RefusedFileCarriesItsErrorInTheJson) {
  dir.Put("bad.wav", Bytes(10, 1));
  const CliRun r = Cli({"list", "-f", "json", "bad.wav", "rec.wav"});
  EXPECT_EQ(r.status, 1);
  const QJsonArray files = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).array();
  ASSERT_EQ(files.size(), 2);
  EXPECT_EQ(files[0].toObject()["error"].toString(), "Not a valid WAV file!");
  EXPECT_FALSE(files[0].toObject().contains("parts"));
  EXPECT_EQ(files[1].toObject()["parts"].toArray().size(), 4);
}

// A recording of `tracks` tracks at music levels from musicDb up, with noise
// peaking at noiseDb in the gaps and in short rests inside the tracks.
Samples KnownLevels(double noiseDb, double musicDb, int tracks, std::mt19937& random) {
  const int noise = cli::NoiseFloorFromDb(noiseDb);
  const double quietest = 32768 * std::pow(10.0, musicDb / 20);
  std::uniform_int_distribution<int> hiss(-noise, noise);
  Samples s;
  auto silence = [&](int frames) {
    for (int f = 0; f < frames; ++f) {
      s.push_back(static_cast<std::int16_t>(hiss(random)));
      s.push_back(static_cast<std::int16_t>(hiss(random)));
    }
  };
  silence(44100);
  for (int t = 0; t < tracks; ++t) {
    for (int phrase = 0; phrase < 6; ++phrase) {
      // A phrase swelling from the quietest level up to 24 dB above it.
      const int frames = 20000 + 3000 * phrase;
      for (int f = 0; f < frames; ++f) {
        const double swell = quietest * std::pow(10.0, 1.2 * std::sin(M_PI * f / frames));
        const double v = std::min(30000.0, swell) * std::sin(f * 0.07) + hiss(random);
        s.push_back(static_cast<std::int16_t>(v));
        s.push_back(static_cast<std::int16_t>(v * 0.8));
      }
      silence(4410);  // a 0.1 s rest
    }
    silence(2 * 44100);
  }
  return s;
}

TEST_F(Extras, SuggestionLandsBetweenKnownNoiseAndMusic) {
  std::mt19937 random(5);
  for (double noiseDb : {-78.0, -70.0, -62.0, -56.0}) {
    for (double musicDb : {-40.0, -32.0, -24.0}) {
      if (musicDb - noiseDb < 16) continue;
      dir.Put("known.wav", SimpleWav(2, KnownLevels(noiseDb, musicDb, 5, random)));
      const CliRun r = Cli({"levels", "known.wav"});
      ASSERT_EQ(r.status, 0) << r.err;
      const auto at = r.out.rfind("suggested: --threshold-db ");
      ASSERT_NE(at, std::string::npos) << r.out;
      const double suggested = std::stod(r.out.substr(at + 26));
      EXPECT_GT(suggested, noiseDb) << r.out;
      EXPECT_LT(suggested, musicDb) << r.out;
      EXPECT_NE(r.out.find("giving 5 parts"), std::string::npos) << r.out;
      std::printf("noise %.0f dB, music from %.0f dB: suggested %.1f dB\n", noiseDb, musicDb, suggested);
    }
  }
}

TEST_F(Extras, NoClearSilenceKeepsTheDefault) {
  Samples loud;
  for (int f = 0; f < 441000; ++f) loud.push_back(static_cast<std::int16_t>(8000 * std::sin(f * 0.05)));
  dir.Put("loud.wav", SimpleWav(1, loud));
  const CliRun r = Cli({"levels", "loud.wav"});
  EXPECT_NE(r.out.find("no clear silence"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("suggested: --threshold-db -50.0\n"), std::string::npos);
}

}  // namespace
}  // namespace corvella::test
