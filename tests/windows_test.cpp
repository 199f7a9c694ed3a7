// What is particular to Windows, run under wine: names in any script and
// paths longer than MAX_PATH, drive-letter and \\?\ paths with either slash,
// a destination held open by another program, a part replacing an older one
// in one step, output redirected to a file, the program running with
// nothing beside it, and MP3 encoded and split into its own frames by the
// libraries built for Windows. (A run stopped by Ctrl-C is tested from outside, by
// tests/windows/control_test.sh.)
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "formats/Formats.h"
#include "support/Fixture.h"

namespace corvella::test {
namespace {

namespace fs = std::filesystem;

// Two passages of a stereo recording: two parts.
Bytes TwoParts() {
  Samples samples(2 * 100000, 0);
  for (int f = 10000; f < 30000; ++f)
    samples[2 * f] = static_cast<std::int16_t>(f % 2 ? 900 : -900);
  for (int f = 60000; f < 90000; ++f) samples[2 * f + 1] = 1200;
  return SimpleWav(2, samples);
}

class Windows : public SourceFixture {
 protected:
  Ran Cli(std::vector<std::string> args) {
    args.insert(args.begin(), CORVELLA_CLI);
    TempDir outputs;
    return Finish(Start(args, outputs.path()), outputs.path());
  }
};

TEST_F(Windows, NamesInAnyScriptAndPathsPastMaxPath) {
  // "Café – Seite A" in a folder named in Greek and Japanese, 400
  // characters deep: past MAX_PATH.
  std::string folder =
      "\xCE\xB1\xCF\x81\xCF\x87\xCE\xB5\xCE\xAF\xCE\xBF/\xE9\x8C\xB2\xE9\x9F\xB3 2026";
  while (folder.size() < 400) folder += "/" + std::string(60, 'd');
  const std::string name = "Caf\xC3\xA9 \xE2\x80\x93 Seite A.wav";
  WriteDeep(dir.path(), folder + "/" + name, TwoParts());
  const std::string source = Backslashed(dir / folder + "/" + name);
  const std::string out = Backslashed(dir / folder);
  Ran r = Cli({"split", "-o", out, source});
  ASSERT_EQ(r.status, 0) << r.err;
  // Printed to a file as UTF-8, byte for byte.
  const std::string stem = "Caf\xC3\xA9 \xE2\x80\x93 Seite A";
  EXPECT_EQ(r.out, out + "\\" + stem + "_001.wav\n" + out + "\\" + stem + "_002.wav\n");
  EXPECT_EQ(ReadFile(dir / folder + "/" + stem + "_002.wav").size(), 44u + 30000 * 4);
  r = Cli({"count", source});
  EXPECT_EQ(r.out, "File \"" + source + "\" contains 2 parts!\n");
}

TEST_F(Windows, DriveLettersPrefixedPathsAndBothSlashes) {
  dir.Put("take.wav", TwoParts());
  fs::create_directory(U8(dir / "out"));
  const std::string absolute = Backslashed(dir / "take.wav");  // C:\users\...\take.wav
  ASSERT_EQ(absolute[1], ':');
  for (const std::string& path :
       {absolute, dir / "take.wav", "\\\\?\\" + absolute, Backslashed(dir.path()) + "/take.wav"}) {
    const Ran r = Cli({"count", path});
    EXPECT_EQ(r.status, 0) << path << ": " << r.err;
    EXPECT_EQ(r.out, "File \"" + path + "\" contains 2 parts!\n") << path;
  }
  const Ran r = Cli({"split", "-q", "-o", "\\\\?\\" + Backslashed(dir / "out"), absolute});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dir.Names("out"), (std::vector<std::string>{"take_001.wav", "take_002.wav"}));
}

TEST_F(Windows, ADestinationHeldOpenIsRefusedAndTheRunGoesOn) {
  dir.Put("take.wav", TwoParts());
  dir.Put("take_001.wav", Bytes{1, 2, 3});
  {
    // Another program has the old part open with no sharing.
    ChildLock held(dir / "take_001.wav");
    ASSERT_TRUE(held.locked);
    const Ran r = Cli({"split", "-q", "-o", dir.path(), dir / "take.wav"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("take_001.wav: Unable to create output file! (in use by another program)"),
              std::string::npos)
        << r.err;
  }
  EXPECT_EQ(ReadFile(dir / "take_001.wav"), (Bytes{1, 2, 3}));
  EXPECT_EQ(ReadFile(dir / "take_002.wav").size(), 44u + 30000 * 4);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"take.wav", "take_001.wav", "take_002.wav"}));
}

TEST_F(Windows, APartReplacesAnOlderOneInOneStepAndLeavesNothingElse) {
  dir.Put("take.wav", TwoParts());
  dir.Put("take_002.wav", Bytes{1, 2, 3});
  const Ran r = Cli({"split", "-q", "-o", dir.path(), dir / "take.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "take_002.wav").size(), 44u + 30000 * 4);
  // No hidden temporary beside the parts.
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"take.wav", "take_001.wav", "take_002.wav"}));
  // A source of the run is never replaced, by any spelling of its name.
  dir.Put("x.wav", TwoParts());
  dir.Put("x_001.wav", TwoParts());
  const Ran again =
      Cli({"split", "-q", "-o", dir.path(), dir / "x.wav", Backslashed(dir / "X_001.WAV")});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("x_001.wav: Unable to create output file! (a source of this run)"),
            std::string::npos)
      << again.err;
  EXPECT_EQ(ReadFile(dir / "x_001.wav"), TwoParts());
}

TEST_F(Windows, TheProgramRunsWithNothingBesideIt) {
  // One file: copied alone into an empty folder, it starts and works.
  fs::copy_file(U8(CORVELLA_CLI), U8(dir / "corvella-cli.exe"));
  dir.Put("take.wav", TwoParts());
  TempDir outputs;
  const Ran r =
      Finish(Start({dir / "corvella-cli.exe", "--version"}, outputs.path()), outputs.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "corvella-cli 1.07\n");
  const Ran count = Finish(
      Start({dir / "corvella-cli.exe", "count", dir / "take.wav"}, outputs.path()), outputs.path());
  EXPECT_EQ(count.out, "File \"" + dir / "take.wav" + "\" contains 2 parts!\n");
}

TEST_F(Windows, HostileNamesInACutListStayInTheDestination) {
  dir.Put("a.wav", TwoParts());
  fs::create_directory(U8(dir / "cut"));
  const std::string list =
      "[{\"file\": \"a.wav\", \"parts\": ["
      "{\"start_frame\": 0, \"end_frame\": 100, \"output\": \"..\\\\up.wav\"},"
      "{\"start_frame\": 100, \"end_frame\": 200, \"output\": \"C:\\\\absolute.wav\"},"
      "{\"start_frame\": 200, \"end_frame\": 300, \"output\": \"D:relative.wav\"},"
      "{\"start_frame\": 300, \"end_frame\": 400, \"output\": \"stream.wav:hidden\"}]}]";
  WriteFile(dir / "cuts.json", Bytes(list.begin(), list.end()));
  const Ran r = Cli({"split", "-q", "--cuts", dir / "cuts.json", "-o", dir / "cut", dir / "a.wav"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dir.Names("cut"),
            (std::vector<std::string>{"absolute.wav", "hidden.wav", "relative.wav", "up.wav"}));
  EXPECT_FALSE(fs::exists(U8(dir / "up.wav")));
}

}  // namespace
}  // namespace corvella::test

namespace corvella::test {
namespace {

TEST_F(Windows, ARecordingOnStdinGivesThePartsOfAPlainSplit) {
  Bytes stream = TwoParts();
  for (std::size_t at : {4u, 40u}) std::fill(&stream[at], &stream[at] + 4, 0xFF);
  dir.Put("take.wav", TwoParts());
  dir.Put("stream.wav", stream);
  fs::create_directory(U8(dir / "plain"));
  fs::create_directory(U8(dir / "live"));
  ASSERT_EQ(Cli({"split", "-q", "-o", dir / "plain", dir / "take.wav"}).status, 0);
  // (Wine's own "type" is no byte-for-byte copier: the shell gives the file.)
  const ShellResult r = Shell(Backslashed(CORVELLA_CLI) + " split - --name take -o " +
                              Backslashed(dir / "live") + " < " + Backslashed(dir / "stream.wav"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Backslashed(dir / "live") + "\\take_001.wav\n" + Backslashed(dir / "live") +
                       "\\take_002.wav\n");
  for (const char* name : {"take_001.wav", "take_002.wav"})
    EXPECT_EQ(ReadFile(dir / "live/" + name), ReadFile(dir / "plain/" + name)) << name;
}

// Every sample of a recording as 16-bit values; empty when a read failed.
std::vector<std::int32_t> Decoded(const std::string& path) {
  formats::OpenedSource opened = formats::OpenSource(wave::PlatformFiles(), path);
  if (!opened.source) return {};
  wave::Source& source = *opened.source;
  const wave::SourceInfo& info = source.Info();
  const std::int64_t bytes = info.frames * info.FrameBytes();
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(bytes));
  if (source.ReadSamples(0, raw.data(), bytes) != bytes) return {};
  std::vector<std::int32_t> samples;
  const int width = wave::BytesOf(info.sampleType);
  for (std::size_t at = 0; at < raw.size(); at += static_cast<std::size_t>(width)) {
    std::int32_t value = 0;
    if (width == 4) {
      std::memcpy(&value, &raw[at], 4);
      value >>= 16;
    } else {
      std::int16_t narrow = 0;
      std::memcpy(&narrow, &raw[at], 2);
      value = narrow;
    }
    samples.push_back(value);
  }
  return samples;
}

TEST_F(Windows, AnMp3IsSplitIntoItsOwnFramesAndEachPartDecodesAsTheWhole) {
  // A tape of three pieces, encoded to MP3 by the program itself, then split
  // without re-encoding: each part decodes to exactly its place in the
  // decode of the whole (the WAV parts of the same split).
  Samples samples;
  for (int piece = 0; piece < 3; ++piece) {
    for (int f = 0; f < 3 * 44100; ++f) {
      const double v = 8000 * std::sin(2 * 3.14159265358979 * (220 + 110 * piece) * f / 44100.0) *
                       (1 + 0.3 * std::sin(f / 3000.0));
      samples.push_back(static_cast<std::int16_t>(v));
      samples.push_back(static_cast<std::int16_t>(-v / 2));
    }
    samples.insert(samples.end(), 2 * 2 * 44100, 0);
  }
  dir.Put("tape.wav", SimpleWav(2, samples));
  ASSERT_EQ(Cli({"split", "-q", "--gap", "5", "--to", "mp3", "--bitrate", "128", "-o", dir / "whole",
                 dir / "tape.wav"}).status, 0);
  const std::string whole = dir / "whole/tape_001.mp3";
  ASSERT_EQ(Cli({"split", "-q", "-o", dir / "mp3", whole}).status, 0);
  ASSERT_EQ(Cli({"split", "-q", "--to", "wav", "-o", dir / "wav", whole}).status, 0);
  for (const char* name : {"tape_001_001", "tape_001_002", "tape_001_003"}) {
    const std::vector<std::int32_t> copied = Decoded(dir / "mp3" + "/" + name + ".mp3");
    ASSERT_FALSE(copied.empty()) << name;
    EXPECT_EQ(copied, Decoded(dir / "wav" + "/" + name + ".wav")) << name;
  }
  EXPECT_FALSE(fs::exists(U8(dir / "mp3/tape_001_004.mp3")));
}

TEST_F(Windows, FollowingAFinishedRecordingEndsOnceItHasSettled) {
  dir.Put("take.wav", TwoParts());
  fs::create_directory(U8(dir / "plain"));
  fs::create_directory(U8(dir / "live"));
  ASSERT_EQ(Cli({"split", "-q", "-o", dir / "plain", dir / "take.wav"}).status, 0);
  const Ran r = Cli({"split", "-q", "--follow", Backslashed(dir / "take.wav"), "-o", dir / "live"});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* name : {"take_001.wav", "take_002.wav"})
    EXPECT_EQ(ReadFile(dir / "live/" + name), ReadFile(dir / "plain/" + name)) << name;
}

}  // namespace
}  // namespace corvella::test
