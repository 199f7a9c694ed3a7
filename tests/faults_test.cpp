// Faults from outside: full disks, failing reads, read-only and vanishing
// folders, sources changed or locked by others, names that try to leave the
// destination. Each shows its message, loses nothing, leaves no partial or
// temporary file, and the run goes on.
#include "support/FaultyFiles.h"
#include "support/Fixture.h"

namespace corvella::test {
namespace {

namespace fs = std::filesystem;

constexpr char kUnableToCreate[] = "Unable to create output file!";
constexpr char kUnableToRead[] = "Unable to read file!";

class Faults : public SourceFixture {
 protected:
  void SetUp() override {
    out = dir / "out";
    fs::create_directory(out);
    // Mono passages of 50000, 400000 and 50000 frames, 30000 silent after each.
    for (int length : {50000, 400000, 50000}) {
      for (int f = 0; f < length; ++f) samples.push_back(static_cast<std::int16_t>(500 + f % 900));
      samples.insert(samples.end(), 30000, 0);
    }
    dir.Put("tape.wav", SimpleWav(1, samples));
  }
  std::string out;
  Samples samples;
};

TEST_F(Faults, CommandLineUnderAFileSizeLimitOrInAReadOnlyFolder) {
#ifdef _WIN32
  GTEST_SKIP() << "file-size limits, file modes and other users are POSIX's";
#else
  fs::permissions(dir.path(), fs::perms::all, fs::perm_options::add);
  fs::copy_file(CORVELLA_CLI, dir / "corvella-cli");  // reachable for an ordinary user
  const std::string split = dir / "corvella-cli split -o " + out + " " + dir / "tape.wav";
  // Any file above 300 KB fails: only the second part. The limit's signal
  // is left as a user's shell leaves it.
  ShellResult r = Shell("ulimit -f 585; " + split);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("tape_002.wav: Unable to write output file!"), std::string::npos) << r.err;
  EXPECT_EQ(dir.Names("out"), (std::vector<std::string>{"tape_001.wav", "tape_003.wav"}));
  EXPECT_EQ(PartData(out + "/tape_003.wav"),
            SampleBytes(Samples(samples.begin() + 510000, samples.begin() + 560000)));

  fs::remove_all(out);
  fs::create_directory(out);
  fs::permissions(out, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  // Permissions bind an ordinary user, so a run as root drops to one.
  r = Shell((::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
            split);
  EXPECT_EQ(r.status, 1) << r.err;
  // Said once, naming the folder; no part after the first is tried.
  EXPECT_EQ(r.err, "corvella-cli: " + out + ": cannot write the parts into this folder (" +
                       wave::ReasonOf(EACCES) + ")\n");
  EXPECT_TRUE(dir.Names("out").empty());

  // In a folder anyone may write to, another user's file that this user may
  // not write is not replaced either, though the folder would allow it.
  if (::geteuid() == 0) {
    fs::permissions(out, fs::perms::all);
    WriteFile(out + "/tape_002.wav", Bytes{'O', 'L', 'D'});
    fs::permissions(out + "/tape_002.wav", fs::perms::owner_read | fs::perms::owner_write |
                                               fs::perms::group_read | fs::perms::others_read);
    r = Shell("setpriv --reuid=65534 --regid=65534 --clear-groups " + split);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("tape_002.wav: " + std::string(kUnableToCreate)), std::string::npos)
        << r.err;
    EXPECT_EQ(ReadFile(out + "/tape_002.wav"), (Bytes{'O', 'L', 'D'}));
    EXPECT_EQ(dir.Names("out"),
              (std::vector<std::string>{"tape_001.wav", "tape_002.wav", "tape_003.wav"}));
  }
#endif
}

TEST_F(Faults, ReadsFailingPartWayEndTheWalkWithoutACutPart) {
  FaultyFiles files;
  files.failReadsFrom = 44 + 2 * 280000;  // the middle of the second part
  EXPECT_EQ(Split("tape.wav", out, true, files), 1);
  EXPECT_EQ(messages, std::vector<std::string>{kUnableToRead});
  EXPECT_EQ(dir.Names("out"), std::vector<std::string>{"tape_001.wav"});

#ifdef _WIN32
  // A source is held against writers while it is read: it cannot be cut
  // short under the walk.
  return;
#endif
  // The source cut short while it is split: only whole parts stay.
  messages.clear();
  written.clear();
  progress.onPump = [&] {
    if (written.size() == 1 && fs::file_size(dir / "tape.wav") > 200000)
      fs::resize_file(dir / "tape.wav", 200000);
  };
  fs::remove_all(out + "/tape_001.wav");
  EXPECT_EQ(Split("tape.wav", out, true), 1);
  EXPECT_EQ(messages, std::vector<std::string>{kUnableToRead});
  // Then it is refused as a whole; once gone, it cannot be opened.
  EXPECT_EQ(Split("tape.wav", out, true), 0);
  fs::remove(dir / "tape.wav");
  EXPECT_EQ(Count("tape.wav"), 0);
  EXPECT_EQ(messages, (std::vector<std::string>{kUnableToRead, "Size of data chunk is wrong!",
                                                "Unable to open file!"}));
  EXPECT_EQ(dir.Names("out"), std::vector<std::string>{"tape_001.wav"});
}

TEST_F(Faults, DestinationVanishingMidRunFailsTheRestAndGoesOn) {
#ifdef _WIN32
  GTEST_SKIP() << "the destination folder is held open: it cannot vanish mid-run";
#endif
  progress.onPump = [&] {
    if (written.size() == 1 && fs::exists(out)) fs::remove_all(out);
  };
  EXPECT_EQ(Split("tape.wav", out, true), 3);
  EXPECT_EQ(messages, (std::vector<std::string>{kUnableToCreate, kUnableToCreate}));
}

TEST_F(Faults, NamesHeldByOthersOrLinkedToTheSourceAreLeftAlone) {
  dir.Put("out/tape_002.wav", Bytes{4, 5, 6});
  fs::create_hard_link(dir / "tape.wav", out + "/tape_003.wav");
  const Bytes source = ReadFile(dir / "tape.wav");
  {
    ChildLock lock(out + "/tape_002.wav");
    ASSERT_TRUE(lock.locked);
    EXPECT_EQ(Split("tape.wav", out, true), 3);
  }
  EXPECT_EQ(messages, (std::vector<std::string>{kUnableToCreate, kUnableToCreate}));
  EXPECT_EQ(ReadFile(out + "/tape_002.wav"), (Bytes{4, 5, 6}));
  EXPECT_EQ(ReadFile(dir / "tape.wav"), source);
}

TEST_F(Faults, NamesNeverLeadOutOfTheDestination) {
#ifdef _WIN32
  GTEST_SKIP() << "a backslash separates folders there: such names cannot be made";
#endif
  fs::create_directory(dir / "in");
  for (const char* name : {"in/..wav", "in/a\\..\\b.wav", "in/.wav"})
    dir.Put(name, SimpleWav(1, {900, 0}));
  for (const char* name : {"in/..wav", "in/a\\..\\b.wav", "in/.wav", "in/../tape.wav"})
    Split(name, out, true);
  EXPECT_EQ(dir.Names("out"),
            (std::vector<std::string>{"._001.wav", "_001.wav", "a\\..\\b_001.wav", "tape_001.wav",
                                      "tape_002.wav", "tape_003.wav"}));
  EXPECT_TRUE(messages.empty());
}

}  // namespace
}  // namespace corvella::test
