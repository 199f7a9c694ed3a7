// split --cuts: every format list writes taken back, at several rates, to
// the same bytes split writes; lists edited by hand; every refusal leaving
// the destination empty; hostile names; a cue sheet past 100 minutes.

#include <cmath>
#include <cstring>
#include <random>
#include <set>

#include "support/CliRun.h"
#include "wave/ByteOrder.h"

namespace corvella::test {
namespace {

namespace fs = std::filesystem;

// Sound at `level` with a little noise under it, so every frame differs.
void Sound(Samples& samples, int channels, std::int64_t frames, int level, std::mt19937& random) {
  std::uniform_int_distribution<int> wobble(-level / 4, level / 4);
  for (std::int64_t f = 0; f < frames; ++f) {
    for (int c = 0; c < channels; ++c)
      samples.push_back(static_cast<std::int16_t>((f % 2 ? level : -level) + wobble(random)));
  }
}

// A recording of a few parts of odd lengths at odd places, at `rate`.
Samples Session(int channels, std::int64_t rate, std::mt19937& random) {
  Samples samples;
  std::uniform_int_distribution<std::int64_t> length(rate / 7, rate * 2), gap(rate, rate * 3 / 2);
  samples.resize(static_cast<std::size_t>(gap(random) * channels), 0);
  for (int part = 0; part < 4; ++part) {
    Sound(samples, channels, length(random), 6000 + 4000 * part, random);
    samples.resize(samples.size() + static_cast<std::size_t>(gap(random) * channels), 0);
  }
  return samples;
}

// The file names in a folder and their bytes.
std::map<std::string, Bytes> Contents(const std::string& folder) {
  std::map<std::string, Bytes> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] = ReadFile(entry.path().string());
  }
  return files;
}

class Cuts : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::current_path(dir.path());
    fs::create_directory("found");
    fs::create_directory("cut");
  }
  ShellResult Cli(std::vector<std::string> args) { return RunCli(std::move(args), stop); }
  // split --cuts with the list in a file; the parts go to cut/.
  ShellResult SplitBy(const std::string& list, std::vector<std::string> files,
                      std::vector<std::string> options = {}) {
    dir.Put("cuts.txt", Bytes(list.begin(), list.end()));
    std::vector<std::string> args{"split", "-q", "--cuts", "cuts.txt", "-o", "cut"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), files.begin(), files.end());
    return Cli(args);
  }
  TempDir dir;
  std::atomic<int> stop{0};
};

TEST_F(Cuts, EveryFormatListWritesGivesSplitsBytesAtEveryRate) {
  std::mt19937 random(11);
  for (const std::int64_t rate : {8000, 22050, 44100, 48000, 96000, 192000, 384000}) {
    SCOPED_TRACE(rate);
    const int channels = rate == 48000 ? 1 : 2;
    const Samples samples = Session(channels, rate, random);
    dir.Put("take.wav", SimpleWav(channels, samples, static_cast<std::uint32_t>(rate)));
    // Padding makes the edges fall anywhere, not only on loud frames.
    const std::vector<std::string> plan{"--pad-before", "0.1234567", "--pad-after", "0.3"};
    std::vector<std::string> split{"split", "-q", "-o", "found", "take.wav"};
    split.insert(split.begin() + 1, plan.begin(), plan.end());
    ASSERT_EQ(Cli(split).status, 0);
    const auto expected = Contents("found");
    ASSERT_EQ(expected.size(), 4u);
    for (const char* format : {"json", "csv", "labels"}) {
      SCOPED_TRACE(format);
      std::vector<std::string> list{"list", "-f", format, "-o", "elsewhere", "take.wav"};
      list.insert(list.begin() + 1, plan.begin(), plan.end());
      const ShellResult listed = Cli(list);
      ASSERT_EQ(listed.status, 0);
      const ShellResult cut = SplitBy(listed.out, {"take.wav"});
      ASSERT_EQ(cut.status, 0) << cut.err;
      EXPECT_EQ(Contents("cut"), expected);
      fs::remove_all("cut");
      fs::create_directory("cut");
    }
    fs::remove_all("found");
    fs::create_directory("found");
  }
}

TEST_F(Cuts, FromStdinThroughAPipeAsAUserTypesIt) {
#ifdef _WIN32
  GTEST_SKIP() << "a POSIX shell's pipes; see windows_test";
#endif
  std::mt19937 random(5);
  dir.Put("side a.wav", SimpleWav(2, Session(2, 44100, random)));
  ASSERT_EQ(Cli({"split", "-q", "-o", "found", "side a.wav"}).status, 0);
  for (const char* format : {"json", "csv", "labels"}) {
    const ShellResult r =
        Shell(std::string(CORVELLA_CLI) + " list -f " + format + " 'side a.wav' | " + CORVELLA_CLI +
              " split --cuts - -o cut 'side a.wav'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "cut/side a_001.wav\ncut/side a_002.wav\ncut/side a_003.wav\ncut/side a_004.wav\n");
    EXPECT_EQ(Contents("cut"), Contents("found"));
    fs::remove_all("cut");
    fs::create_directory("cut");
  }
}

TEST_F(Cuts, OtherSourcesAndOptionsGoThroughTheSameWriters) {
  std::mt19937 random(7);
  const Samples samples = Session(2, 48000, random);
  WriteFlac16(dir / "tape.flac", 2, 48000, samples);
  dir.Put("tape.wav", SimpleWav(2, samples, 48000));
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{}, {"--mono"}, {"--to", "flac"}, {"--to", "wav"}}) {
    for (const char* file : {"tape.flac", "tape.wav"}) {
      SCOPED_TRACE(::testing::PrintToString(options) + file);
      if (options.size() == 2 && options[1] == "wav" && std::string(file) == "tape.wav") continue;
      std::vector<std::string> split{"split", "-q", "-o", "found", file};
      split.insert(split.begin() + 1, options.begin(), options.end());
      ASSERT_EQ(Cli(split).status, 0);
      const ShellResult listed = Cli({"list", "-f", "json", file});
      const ShellResult cut = SplitBy(listed.out, {file}, options);
      ASSERT_EQ(cut.status, 0) << cut.err;
      const auto expected = Contents("found");
      EXPECT_EQ(expected.size(), 4u);
      EXPECT_EQ(Contents("cut"), expected);
      for (const char* folder : {"found", "cut"}) {
        fs::remove_all(folder);
        fs::create_directory(folder);
      }
    }
  }
}

TEST_F(Cuts, AHandEditedLabelTrack) {
  // Parts 1 to 4 at known places; the user moves the end of part 1, deletes
  // part 3, and merges part 4 with a new label after it.
  std::mt19937 random(3);
  Samples samples(2 * 44100, 0);
  for (int part = 0; part < 5; ++part) {
    Sound(samples, 1, 44100, 9000, random);
    samples.resize(samples.size() + 44100, 0);
  }
  dir.Put("rec.wav", SimpleWav(1, samples));
  const ShellResult listed = Cli({"list", "-f", "labels", "rec.wav"});
  ASSERT_EQ(
      listed.out,
      "2.000000\t3.000000\trec_001\n4.000000\t5.000000\trec_002\n6.000000\t7.000000\trec_003\n"
      "8.000000\t9.000000\trec_004\n10.000000\t11.000000\trec_005\n");
  const std::string edited =
      "2.000000\t3.5\tfirst take\n"
      "\\\t100.0\t2000.0\n"  // an editor's frequency line
      "4\t5\trec_002\r\n"
      "8.000000\t11.000000\tlast two\n";
  const ShellResult cut = SplitBy(edited, {"rec.wav"});
  ASSERT_EQ(cut.status, 0) << cut.err;
  EXPECT_EQ(dir.Names("cut"),
            (std::vector<std::string>{"first take.wav", "last two.wav", "rec_002.wav"}));
  auto slice = [&](std::int64_t start, std::int64_t end) {
    return SampleBytes(Samples(samples.begin() + start, samples.begin() + end));
  };
  EXPECT_EQ(PartData(dir / "cut/first take.wav"), slice(88200, 154350));
  EXPECT_EQ(PartData(dir / "cut/rec_002.wav"), slice(176400, 220500));
  EXPECT_EQ(PartData(dir / "cut/last two.wav"), slice(352800, 485100));
  // Labels without names are numbered in the order of their starts.
  fs::remove_all("cut");
  fs::create_directory("cut");
  ASSERT_EQ(SplitBy("6\t7\n2\t3\t\n", {"rec.wav"}).status, 0);
  EXPECT_EQ(PartData(dir / "cut/rec_001.wav"), slice(88200, 132300));
  EXPECT_EQ(PartData(dir / "cut/rec_002.wav"), slice(264600, 308700));
}

TEST_F(Cuts, EveryRefusalWritesNothing) {
  std::mt19937 random(9);
  dir.Put("a.wav", SimpleWav(2, Session(2, 44100, random)));
  dir.Put("b.wav", SimpleWav(2, Session(2, 44100, random)));
  const std::string json = Cli({"list", "-f", "json", "a.wav", "b.wav"}).out;
  const std::string bJson = Cli({"list", "-f", "json", "b.wav"}).out;
  const std::string text = Cli({"list", "a.wav"}).out;
  auto replaced = [](std::string s, const std::string& from, const std::string& to) {
    s.replace(s.find(from), from.size(), to);
    return s;
  };
  struct Case {
    std::string list;
    std::vector<std::string> files;
    std::string message;
  };
  const std::vector<Case> cases{
      {"1\t2\ta\n3\t900\tb\n", {"a.wav"}, "line 2: the cut runs past the end of the recording"},
      {"1\t2\ta\n3\t2.5\tb\n", {"a.wav"}, "line 2: the cut ends before it starts"},
      {"1\t1\ta\n", {"a.wav"}, "line 1: the cut holds no frame"},
      {"1\t3\ta\n2.5\t4\tb\n", {"a.wav"}, "line 1 and line 2: the cuts overlap"},
      {"1\t2\ta\nthree\t4\tb\n", {"a.wav"}, "line 2: not a label"},
      {"1\t2\ta\n3\t4\ta.wav\n", {"a.wav"}, "two parts are named \"a.wav\""},
      {"1\t2\n", {"a.wav", "b.wav"}, "the cut list names no recording"},
      {bJson, {"a.wav"}, "the cut list is for another recording (\"b.wav\")"},
      {json, {"a.wav", "c.wav"}, "Unable to open file!"},
      {replaced(json, "\"frames\": ", "\"frames\": 1"),
       {"a.wav"},
       "the cut list was made from a recording of 1"},
      {replaced(json, "\"start_frame\": ", "\"start_frame\": 1"),
       {"a.wav"},
       "disagree: edit one and clear the other"},
      {replaced(json, "\"parts\": [", "\"parts\": [,"), {"a.wav"}, "line 4: not valid JSON"},
      {"file,start,end\nx.wav,1,2,3\nx.wav,\"4,5\n",
       {"a.wav"},
       "line 3: a quoted field is never closed"},
      {"start,end\n1,two\n", {"a.wav"}, "line 2: end is not a number of seconds"},
      {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:01:75\n",
       {"a.wav"},
       "line 3: not a cue sheet time"},
      {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n",
       {"a.wav"},
       "line 2: the track has no INDEX 01"},
      {text, {"a.wav"}, "text table cannot be read back"},
      {"\n \n", {"a.wav"}, "the cut list is empty"},
      {"hello\n", {"a.wav"}, "line 1: not a cut list"},
      {"1\t2\t..\n", {"a.wav"}, "line 1: \"..\" is not a file name"},
      {"1\t2\tdir/\n", {"a.wav"}, "line 1: \"dir/\" is not a file name"},
      {"1\t2\t" + std::string(300, 'x') + "\n", {"a.wav"}, "is too long for a file name"},
      // Found in review: each of these once wrote some parts, or none with status 0.
      {std::string(5000, '[') + std::string(5000, ']'), {"a.wav"}, "line 1: nested too deeply"},
      {"0\t1\tfirst\n2\t3\tb\n", {"a.wav", "b.wav"}, "the cut list names no recording"},
      {"file,start,end\n", {"a.wav"}, "the cut list has no parts for this recording"},
      {"[{\"file\": \"a.wav\", \"parts\": []}]", {"a.wav"}, "has no parts for this recording"},
      {"file,start_frame,end_frame,output\na.wav,0,1000,a,b.wav\n",
       {"a.wav"},
       "line 2: 5 fields where the header has 4"},
      {"start,end,output\n1,2,\"ab.wav\"x\n", {"a.wav"}, "line 2: text after the closing quote"},
      {"start,start,end\n1,1,2\n", {"a.wav"}, "the column \"start\" stands twice"},
      {"start,end,duration\n1,2,5\n", {"a.wav"}, "line 2: duration (5.000000 s) disagrees"},
      {"0\t1\ta\tb\tc\n", {"a.wav"}, "line 1: more than three fields"},
      {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 99999:00:00\n",
       {"a.wav"},
       "line 2: the cut starts past the end of the recording"},
      {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:01:00\n    INDEX 01 00:02:00\n",
       {"a.wav"},
       "line 4: a second INDEX 01"},
      {"FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 -0:01:00\n",
       {"a.wav"},
       "line 3: not a cue sheet time"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list.substr(0, 200));
    const ShellResult r = SplitBy(c.list, c.files);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_TRUE(dir.Names("cut").empty());
  }
  // Parts that would replace the recording or the cut list, with the
  // destination their folder: refused before the first part is written.
  for (const auto& [list, message] : std::vector<std::pair<std::string, std::string>>{
           {"1\t2\tfirst\n3\t4\ta\n", "part \"a.wav\" would replace a source of this run"},
           {"[{\"parts\": [{\"start\": 1, \"end\": 2, \"output\": \"first.wav\"},"
            "{\"start\": 3, \"end\": 4, \"output\": \"list.wav\"}]}]",
            "part \"list.wav\" would replace the cut list of this run"}}) {
    dir.Put("list.wav", Bytes(list.begin(), list.end()));
    const ShellResult r = Cli({"split", "-q", "--cuts", "list.wav", "a.wav"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "first.wav"));
    EXPECT_EQ(ReadFile(dir / "list.wav"), Bytes(list.begin(), list.end()));
  }
  // Detection options make no sense with a cut list, nor does a list without a name.
  EXPECT_EQ(SplitBy("1\t2\n", {"a.wav"}, {"--min-part", "1"}).status, 2);
  EXPECT_EQ(Cli({"split", "--cuts", "", "-o", "cut", "a.wav"}).status, 2);
  EXPECT_TRUE(dir.Names("cut").empty());
  // A label track holds one recording's labels: list refuses more.
  const ShellResult labels = Cli({"list", "-f", "labels", "a.wav", "b.wav"});
  EXPECT_EQ(labels.status, 1);
  EXPECT_EQ(labels.out, "");
  EXPECT_NE(labels.err.find("a label track holds the labels of one recording"), std::string::npos);
  // A folder, a missing file.
  EXPECT_EQ(Cli({"split", "--cuts", "cut", "a.wav"}).err,
            "corvella-cli: cut: a folder, not a file\n");
  EXPECT_EQ(Cli({"split", "--cuts", "nothing.txt", "a.wav"}).err,
            "corvella-cli: nothing.txt: no such file\n");
}

TEST_F(Cuts, HostileNamesStayInTheDestination) {
#ifdef _WIN32
  GTEST_SKIP() << "names of raw bytes and line breaks cannot be made there; see windows_test";
#endif
  std::mt19937 random(13);
  dir.Put("a.wav", SimpleWav(1, Session(1, 44100, random)));
  const std::string list =
      "[{\"file\": \"a.wav\", \"parts\": ["
      "{\"start_frame\": 0, \"end_frame\": 100, \"output\": \"../up.wav\"},"
      "{\"start_frame\": 100, \"end_frame\": 200, \"output\": \"/tmp/absolute.wav\"},"
      "{\"start_frame\": 200, \"end_frame\": 300, \"output\": \"\"},"
      "{\"start_frame\": 300, \"end_frame\": 400, \"output\": \"line\\nbreak.wav\"},"
      "{\"start_frame\": 400, \"end_frame\": 500, \"output\": \"x\", \"output_bytes\": \"caf"
      "e9.wav\"},"
      "{\"start_frame\": 500, \"end_frame\": 600}]}]";
  const ShellResult r = SplitBy(list, {"a.wav"});
  ASSERT_EQ(r.status, 1);  // the hexadecimal bytes are no bytes
  EXPECT_NE(r.err.find("output_bytes is not a string of hexadecimal bytes"), std::string::npos);
  std::string fixed = list;
  fixed.replace(fixed.find("caf"
                           "e9.wav"),
                9, "636166e92e776176");
  const ShellResult ok = SplitBy(fixed, {"a.wav"});
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(dir.Names("cut"),
            (std::vector<std::string>{"a_003.wav", "a_006.wav", "absolute.wav", "caf\xe9.wav",
                                      "line\nbreak.wav", "up.wav"}));
  EXPECT_FALSE(fs::exists(dir / "up.wav"));
  EXPECT_FALSE(fs::exists("/tmp/absolute.wav"));
  // A NUL inside a name, and the cut list itself as a part: refused.
  fs::remove_all("cut");
  fs::create_directory("cut");
  EXPECT_NE(
      SplitBy("[{\"parts\": [{\"start\": 0, \"end\": 1, \"output\": \"a\\u0000b\"}]}]", {"a.wav"})
          .err.find("is not a file name"),
      std::string::npos);
  // A name from the list keeps its extension where it is the part's, and
  // gets it added otherwise.
  const std::string own = "[{\"parts\": [{\"start\": 0, \"end\": 1, \"output\": \"cuts.txt\"}]}]";
  dir.Put("cuts.txt", Bytes(own.begin(), own.end()));
  const ShellResult self = Cli({"split", "-q", "--cuts", "cuts.txt", "a.wav"});
  EXPECT_EQ(self.status, 0) << self.err;
  EXPECT_EQ(ReadFile(dir / "cuts.txt"), Bytes(own.begin(), own.end()));
  EXPECT_TRUE(fs::exists(dir / "cuts.txt.wav"));
}

TEST_F(Cuts, LineEndingsExtensionsAndManyRecordings) {
#ifdef _WIN32
  GTEST_SKIP() << "a POSIX shell's pipes and limits";
#endif
  std::mt19937 random(17);
  dir.Put("a.wav", SimpleWav(2, Session(2, 44100, random)));
  ASSERT_EQ(Cli({"split", "-q", "-o", "found", "a.wav"}).status, 0);
  // Lists whose lines end in CR alone (an old Mac editor), or CR LF.
  for (const char* format : {"csv", "labels", "json"}) {
    for (const char* ending : {"\r", "\r\n"}) {
      std::string listed = Cli({"list", "-f", format, "a.wav"}).out;
      for (auto at = listed.find('\n'); at != std::string::npos; at = listed.find('\n', at + 2)) {
        listed.replace(at, 1, ending);
      }
      const ShellResult cut = SplitBy(listed, {"a.wav"});
      EXPECT_EQ(cut.status, 0) << format << cut.err;
      EXPECT_EQ(Contents("cut"), Contents("found")) << format;
      fs::remove_all("cut");
      fs::create_directory("cut");
    }
  }
  // A part's extension is its format's: an audio one that is not gives way,
  // anything else is kept and the part's added.
  ASSERT_EQ(
      SplitBy("start,end,output\n1,2,one.flac\n3,4,Take 1.5\n5,6,three.WAV\n", {"a.wav"}).status,
      0);
  EXPECT_EQ(dir.Names("cut"), (std::vector<std::string>{"Take 1.5.wav", "one.wav", "three.WAV"}));
  fs::remove_all("cut");
  fs::create_directory("cut");
  ASSERT_EQ(SplitBy("1\t2\tone.wav\n3\t4\ttwo\n", {"a.wav"}, {"--to", "flac"}).status, 0);
  EXPECT_EQ(dir.Names("cut"), (std::vector<std::string>{"one.flac", "two.flac"}));
  // More recordings than the process may hold open at once: each is
  // opened to be checked, then again to be split.
  std::string names;
  for (int i = 0; i < 40; ++i) {
    std::string name = std::to_string(i);
    name.insert(0, 1, 'f');
    name += ".wav";
    dir.Put(name, SimpleWav(1, Samples{0, 900, -900, 0}));
    names += ' ';
    names += name;
  }
  const std::string cli = CORVELLA_CLI;
  std::string here = "cd '";
  here += dir.path();
  here += "' && ";
  const ShellResult many =
      Shell(here + cli + " list -f json" + names + " > many.json && (ulimit -n 24; " + cli +
            " split -q --cuts many.json -o cut" + names + ")");
  EXPECT_EQ(many.status, 0) << many.err;
  EXPECT_EQ(dir.Names("cut").size(), 42u);
  // A list read from stdin is kept like a named one.
  const std::string own = "[{\"parts\": [{\"start\": 0, \"end\": 1, \"output\": \"piped.wav\"}]}]";
  dir.Put("piped.wav", Bytes(own.begin(), own.end()));
  const ShellResult piped = Shell(here + cli + " split --cuts - a.wav < piped.wav");
  EXPECT_EQ(piped.status, 1);
  EXPECT_NE(piped.err.find("would replace the cut list of this run"), std::string::npos)
      << piped.err;
  EXPECT_EQ(ReadFile(dir / "piped.wav"), Bytes(own.begin(), own.end()));
}

TEST_F(Cuts, ACueSheetPastOneHundredMinutes) {
  // 101 minutes of 16-bit mono at 1000 Hz, parts at 0:10, 50:00 and 100:30.
  constexpr std::int64_t kRate = 1000;
  Samples samples(101 * 60 * kRate, 0);
  std::mt19937 random(1);
  for (const std::int64_t at : {10 * kRate, 3000 * kRate, 6030 * kRate}) {
    for (std::int64_t f = 0; f < 5 * kRate; ++f)
      samples[at + f] = static_cast<std::int16_t>(f % 2 ? 8000 : -8000);
  }
  dir.Put("long.wav", SimpleWav(1, samples, kRate));
  const ShellResult cue = Cli({"list", "-f", "cue", "long.wav"});
  ASSERT_EQ(cue.status, 0);
  EXPECT_NE(cue.out.find("INDEX 01 100:30:00"), std::string::npos) << cue.out;
  dir.Put("long.cue", Bytes(cue.out.begin(), cue.out.end()));
  const ShellResult r = Cli({"split", "--cuts", "long.cue", "-o", "cut", "long.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("1/75 s"), std::string::npos);  // says what a cue sheet holds
  auto slice = [&](std::int64_t start, std::int64_t end) {
    return SampleBytes(Samples(samples.begin() + start, samples.begin() + end));
  };
  // Each track runs to the next one's start, the last to the end.
  EXPECT_EQ(PartData(dir / "cut/long_001.wav"), slice(10 * kRate, 3000 * kRate));
  EXPECT_EQ(PartData(dir / "cut/long_002.wav"), slice(3000 * kRate, 6030 * kRate));
  EXPECT_EQ(PartData(dir / "cut/long_003.wav"), slice(6030 * kRate, 101 * 60 * kRate));
}

}  // namespace
}  // namespace corvella::test
