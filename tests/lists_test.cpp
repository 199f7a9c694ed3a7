// The lists users hand Corvella and the names it gives, run as a user runs
// the program: every name a listing writes comes back byte for byte through
// --cuts, names one file system would take for the same file are the same
// name everywhere, track lists that do not fit the recording are refused
// before anything is written, and runs named by the clock never replace
// each other's parts.
#include <filesystem>
#include <set>

#include "support/Fixture.h"

namespace corvella::test {
namespace {

namespace fs = std::filesystem;

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

class Lists : public ::testing::Test {
 protected:
  void SetUp() override {
    // Three parts of a second, three seconds apart.
    Samples s;
    for (int part = 0; part < 3; ++part) {
      for (int f = 0; f < 44100; ++f) s.insert(s.end(), {std::int16_t(f % 2 ? 8000 : -8000), 100});
      s.insert(s.end(), 2 * 2 * 44100, 0);
    }
    recording = SimpleWav(2, s);
  }
  Ran Run(std::vector<std::string> args) {
    args.insert(args.begin(), CORVELLA_CLI);
    return RunProgram(args);
  }
  std::set<std::string> NamesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
      names.insert(entry.path().filename().string());
    return names;
  }
  TempDir dir;
  Bytes recording;
};

TEST_F(Lists, EveryNameAListingWritesComesBackThroughCuts) {
  // A tab, a byte that is no UTF-8, a backslash that looks like an escape
  // (none of which a Windows name holds), and a name a spreadsheet would
  // run as a formula.
#ifdef _WIN32
  const std::vector<std::string> names{"a;b, c.wav", "=HYPERLINK(1).wav", "@sum.wav"};
#else
  const std::vector<std::string> names{"a\tb\xE9.wav", "x\\x41y.wav", "=HYPERLINK(1).wav",
                                       "@sum.wav"};
#endif
  for (const std::string& name : names) {
    dir.Put(name, recording);
    fs::remove_all(dir / "plain");
    fs::create_directory(dir / "plain");
    ASSERT_EQ(Run({"split", "-q", "-o", dir / "plain", dir / name}).status, 0) << name;
    const std::set<std::string> plain = NamesIn(dir / "plain");
    ASSERT_EQ(plain.size(), 3u) << name;
    for (const char* format : {"csv", "labels", "json", "cue"}) {
      const Ran listed = Run({"list", "-f", format, dir / name});
      ASSERT_EQ(listed.status, 0) << name << " " << format << ": " << listed.err;
      if (std::string(format) == "labels") {
        // A formula never begins a label, nor a raw control character.
        EXPECT_EQ(listed.out.find("\t="), std::string::npos) << name;
        EXPECT_EQ(listed.out.find("\t@"), std::string::npos) << name;
      }
      dir.Put("list", ToBytes(listed.out));
      fs::remove_all(dir / "cut");
      fs::create_directory(dir / "cut");
      const Ran cut = Run({"split", "-q", "--cuts", dir / "list", "-o", dir / "cut", dir / name});
      ASSERT_EQ(cut.status, 0) << name << " " << format << ": " << cut.err;
      // A cue sheet names its tracks by number; the others by name.
      if (std::string(format) != "cue") {
        EXPECT_EQ(NamesIn(dir / "cut"), plain) << name << " " << format;
      }
    }
    fs::remove(U8(dir / name));
  }
}

TEST_F(Lists, NamesThatOneSystemTakesForTheSameFileAreTheSameName) {
  dir.Put("rec.wav", recording);
  const std::pair<std::string, std::string> clashes[] = {
      {"Take", "take"}, {"caf\xC3\xA9", "cafe\xCC\x81"}, {"\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9"}};
  for (const auto& [one, other] : clashes) {
    dir.Put("labels.txt", ToBytes("0\t1\t" + one + "\n3\t4\t" + other + "\n"));
    fs::remove_all(dir / "out");
    fs::create_directory(dir / "out");
    const Ran r = Run({"split", "--cuts", dir / "labels.txt", "-o", dir / "out", dir / "rec.wav"});
    EXPECT_EQ(r.status, 1) << one;
    EXPECT_NE(r.err.find("two parts are named"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(dir / "out")) << one;
  }
  // Names that only look alike are different names.
  dir.Put("labels.txt", ToBytes("0\t1\tcafe\n3\t4\tcaf\xC3\xA9\n"));
  fs::remove_all(dir / "out");
  fs::create_directory(dir / "out");
  EXPECT_EQ(Run({"split", "-q", "--cuts", dir / "labels.txt", "-o", dir / "out", dir / "rec.wav"})
                .status,
            0);
  EXPECT_EQ(NamesIn(dir / "out").size(), 2u);
}

TEST_F(Lists, TrackListsThatDoNotFitTheRecordingAreRefusedBeforeAnythingIsWritten) {
  dir.Put("side.wav", recording);
  const std::string cue =
      "FILE \"side.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"One\"\n    INDEX 01 00:00:00\n"
      "  TRACK 02 AUDIO\n    TITLE \"Two\"\n    INDEX 01 00:03:00\n"
      "  TRACK 03 AUDIO\n    TITLE \"Three\"\n    INDEX 01 00:06:00\n";
  auto replaced = [](std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
  };
  const std::pair<std::string, std::string> refused[] = {
      {replaced(cue, "side.wav", "other.wav"),
       "the track list is for another recording (\"other.wav\")"},
      {replaced(cue, "INDEX 01 00:06:00", "INDEX 01 00:02:00"),
       "line 10: INDEX 01 comes before the previous track's"},
      {replaced(cue, "TITLE \"Two\"", "TITLE \"Two\"\n    INDEX 01 00:03:10"),
       "line 8: a second INDEX 01 in the track"},
      {R"({"file": "side.wav", "frames": 5, "rate": 44100,
          "parts": [{"title": "One"}, {"title": "Two"}, {"title": "Three"}]})",
       "the track list was made from a recording of 5 frames at 44100 Hz, and this one has "},
      {R"({"file": "side.wav", "parts": [{"title": "One"}, {"title": null}, {"title": "Three"}]})",
       "part 2: no title, where 2 other parts have one"},
      {R"({"file": "side.wav", "parts": [{"title": "One"}, {"title": "T\u0000wo"}, {"title": "3"}]})",
       "title 2 (\"T\\x00wo\") holds a NUL character, which no tag takes"},
      {"1. One\n2. \n3. Three\n", "title 2 (\"2.\"): a track number without a title"}};
  for (const auto& [list, says] : refused) {
    dir.Put("list", ToBytes(list));
    fs::remove_all(dir / "out");
    fs::create_directory(dir / "out");
    const Ran r = Run({"split", "--names", dir / "list", "-o", dir / "out", dir / "side.wav"});
    EXPECT_EQ(r.status, 1) << says;
    EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(dir / "out")) << says;
  }
  // A sheet made from the same recording in another container serves it.
  dir.Put("list", ToBytes(replaced(cue, "side.wav", "side.flac")));
  fs::remove_all(dir / "out");
  fs::create_directory(dir / "out");
  const Ran r = Run({"split", "-q", "--names", dir / "list", "-o", dir / "out", dir / "side.wav"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(NamesIn(dir / "out"),
            (std::set<std::string>{"01 One.wav", "02 Two.wav", "03 Three.wav"}));
}

#ifndef _WIN32  // a shell pipe
TEST_F(Lists, RunsNamedByTheClockNeverReplaceEachOthersParts) {
  dir.Put("take.wav", recording);
  fs::create_directory(dir / "out");
  const std::string run = "cat '" + dir / "take.wav" + "' | " + CORVELLA_CLI +
                          " split -q - --name-time -o '" + dir / "out" + "'";
  // Two runs in the same second name their parts alike but for a count.
  const ShellResult both = Shell(run + " && " + run);
  ASSERT_EQ(both.status, 0) << both.err;
  const std::set<std::string> names = NamesIn(dir / "out");
  EXPECT_EQ(names.size(), 6u);
  for (const std::string& name : names) {
    EXPECT_EQ(ReadFile(dir / "out/" + name).size(), 44 + 44100 * 4) << name;
  }
}
#endif

TEST_F(Lists, OptionsAndRefusalsSayWhatIsWrong) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"split", "--buffer", "nan", "-"},
           {"split", "--follow", "x.wav", "--idle", "nan"},
           {"split", "--follow", "-"}}) {
    const Ran r = Run(args);
    EXPECT_EQ(r.status, 2) << args[2];
    EXPECT_EQ(r.err.find("corvella-cli: "), 0u) << r.err;
  }
  // An AIFF-C whose compression no reader takes: named.
  Bytes comm{0, 1, 0, 0, 0x1F, 0x40, 0, 16, 0x40, 0x0B, 0xFA, 0, 0, 0, 0, 0, 0, 0, 'u', 'l', 'a', 'w', 0, 0};
  Bytes form{'A', 'I', 'F', 'C', 'C', 'O', 'M', 'M', 0, 0, 0, static_cast<std::uint8_t>(comm.size())};
  form.insert(form.end(), comm.begin(), comm.end());
  const Bytes ssnd{'S', 'S', 'N', 'D', 0, 0, 0x1F, 0x48};
  form.insert(form.end(), ssnd.begin(), ssnd.end());
  form.resize(form.size() + 8 + 8000, 0x7F);
  Bytes file{'F', 'O', 'R', 'M'};
  for (int shift : {24, 16, 8, 0}) file.push_back(static_cast<std::uint8_t>(form.size() >> shift));
  file.insert(file.end(), form.begin(), form.end());
  dir.Put("ulaw.aifc", file);
  const Ran r = Run({"count", dir / "ulaw.aifc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("unsupported sample format (mu-law)"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace corvella::test
