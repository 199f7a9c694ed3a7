// Faults from outside: full disks, failing reads, read-only and vanishing
// folders, sources changed or locked by others. Each shows its message,
// loses nothing, leaves no partial or temporary file, and the run goes on.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/ChildLock.h"
#include "support/EngineFixture.h"
#include "support/FaultyFiles.h"
#include "support/Process.h"

namespace corvella::test {
namespace {

namespace fs = std::filesystem;
using Samples = std::vector<std::int16_t>;

// Mono passages of the given lengths, each followed by 30000 silent frames.
Samples Passages(std::initializer_list<int> lengths) {
  Samples s;
  int p = 0;
  for (int length : lengths) {
    for (int f = 0; f < length; ++f) s.push_back(static_cast<std::int16_t>(500 + (f * 7 + p) % 900));
    s.insert(s.end(), 30000, 0);
    ++p;
  }
  return s;
}

Bytes Slice(const Samples& s, std::size_t start, std::size_t length) {
  return SampleBytes(Samples(s.begin() + static_cast<std::ptrdiff_t>(start),
                             s.begin() + static_cast<std::ptrdiff_t>(start + length)));
}

class Faults : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    out = dir / "out";
    fs::create_directory(out);
    host.destFolder = out;
    samples = Passages({50000, 400000, 50000});
    dir.Put("tape.wav", SimpleWav(1, samples));
  }
  std::vector<std::string> OutNames() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(out)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string out;
  Samples samples;
};

TEST_F(Faults, FileSizeLimitFailsOnlyThePartTooLargeForIt) {
  // A real limit on the process: any file above 300 KB cannot be written.
  ChildOptions limited;
  limited.fileSizeLimit = 300000;
  const ChildResult r = RunChild({CORVELLA_CLI, "split", "-o", out, dir / "tape.wav"}, limited);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("tape_002.wav: Unable to write output file!"), std::string::npos) << r.err;
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"tape_001.wav", "tape_003.wav"}));
  EXPECT_EQ(ParseWav(ReadFile(out + "/tape_003.wav")).data, Slice(samples, 2 * 30000 + 450000, 50000));
}

TEST_F(Faults, ReadFailingPartWayEndsTheWalkWithoutACutPart) {
  FaultyFiles files;
  Engine faulty(host, files);
  faulty.NoiseFloor = 104;
  faulty.GapThreshold = 22050;
  // Reads fail from the middle of the second part on.
  files.failReadsFrom = 44 + 2 * (50000 + 30000 + 200000);
  EXPECT_EQ(faulty.ProcessParts("tape.wav", out, true), 1);
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{msg::kUnableToRead});
  EXPECT_EQ(OutNames(), std::vector<std::string>{"tape_001.wav"});
  EXPECT_EQ(ParseWav(ReadFile(out + "/tape_001.wav")).data, Slice(samples, 0, 50000));
}

TEST_F(Faults, ReadOnlyDestinationRefusesEveryPart) {
  // Folder permissions bind an ordinary user, so the run drops to one.
  fs::permissions(dir.path(), fs::perms::all, fs::perm_options::add);
  fs::permissions(dir / "tape.wav", fs::perms::all, fs::perm_options::add);
  fs::permissions(out, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                           fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  // A copy of the program that the unprivileged user can reach wherever the build lies.
  fs::copy_file(CORVELLA_CLI, dir / "corvella-cli");
  fs::permissions(dir / "corvella-cli", fs::perms::all, fs::perm_options::add);
  ChildOptions unprivileged;
  unprivileged.asNobody = true;
  const ChildResult r =
      RunChild({dir / "corvella-cli", "split", "-o", out, dir / "tape.wav"}, unprivileged);
  EXPECT_EQ(r.status, 1) << r.err;
  std::size_t refusals = 0;
  for (std::size_t at = 0; (at = r.err.find(msg::kUnableToCreate, at)) != std::string::npos; ++at) ++refusals;
  EXPECT_EQ(refusals, 3u) << r.err;
  EXPECT_TRUE(OutNames().empty());
}

TEST_F(Faults, DestinationVanishingMidRunFailsTheRestAndGoesOn) {
  host.onPump = [&] {
    if (host.written.size() == 1 && fs::exists(out)) fs::remove_all(out);
  };
  EXPECT_EQ(engine.ProcessParts("tape.wav", out, true), 3);
  EXPECT_EQ(host.MessageTexts(),
            (std::vector<std::string>{msg::kUnableToCreate, msg::kUnableToCreate}));
}

TEST_F(Faults, SourceTruncatedOrDeletedBetweenCountAndSplit) {
  EXPECT_EQ(engine.CountParts("tape.wav"), 3);
  fs::resize_file(dir / "tape.wav", 100000);
  EXPECT_EQ(engine.ProcessParts("tape.wav", out, true), 0);
  fs::remove(dir / "tape.wav");
  EXPECT_EQ(engine.ProcessParts("tape.wav", out, true), 0);
  EXPECT_EQ(host.MessageTexts(),
            (std::vector<std::string>{msg::kDataSizeWrong, msg::kUnableToOpen}));
  EXPECT_TRUE(OutNames().empty());
}

TEST_F(Faults, SourceTruncatedDuringSplitKeepsTheWholePartsOnly) {
  host.onPump = [&] {
    if (host.written.size() == 1 && fs::file_size(dir / "tape.wav") > 200000) {
      fs::resize_file(dir / "tape.wav", 200000);
    }
  };
  EXPECT_EQ(engine.ProcessParts("tape.wav", out, true), 1);
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{msg::kUnableToRead});
  EXPECT_EQ(OutNames(), std::vector<std::string>{"tape_001.wav"});
}

TEST_F(Faults, PartNameHeldByAnotherProgramIsLeftAlone) {
  dir.Put("out/tape_002.wav", Bytes{4, 5, 6});
  ChildLock lock(out + "/tape_002.wav");
  ASSERT_TRUE(lock.locked());
  EXPECT_EQ(engine.ProcessParts("tape.wav", out, true), 3);
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{msg::kUnableToCreate});
  EXPECT_EQ(ReadFile(out + "/tape_002.wav"), (Bytes{4, 5, 6}));
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"tape_001.wav", "tape_002.wav", "tape_003.wav"}));
}

TEST_F(Faults, PartNameLinkedToTheSourceNeverOverwritesIt) {
  // The destination is the source folder and a part's name is a second name
  // of the very source being read.
  fs::create_hard_link(dir / "tape.wav", dir / "tape_001.wav");
  const Bytes before = ReadFile(dir / "tape.wav");
  EXPECT_EQ(engine.ProcessParts("tape.wav", dir.path(), true), 3);
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{msg::kUnableToCreate});
  EXPECT_EQ(ReadFile(dir / "tape.wav"), before);
}

TEST_F(Faults, NamesNeverLeadOutOfTheDestination) {
  fs::create_directory(dir / "in");
  host.sourceFolder = dir / "in";
  dir.Put("in/..wav", SimpleWav(1, Passages({1000})));
  dir.Put("in/a\\..\\b.wav", SimpleWav(1, Passages({1000})));
  dir.Put("in/.wav", SimpleWav(1, Passages({1000})));
  for (const char* name : {"..wav", "a\\..\\b.wav", ".wav", "../tape.wav"}) {
    engine.ProcessParts(name, out, true);
  }
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"._001.wav", "_001.wav", "a\\..\\b_001.wav",
                                                  "tape_001.wav", "tape_002.wav", "tape_003.wav"}));
  EXPECT_TRUE(host.messages.empty());
  EXPECT_FALSE(fs::exists(dir / "tape_001.wav"));
}

}  // namespace
}  // namespace corvella::test
