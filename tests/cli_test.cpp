// The command line run in-process: outputs, exit status, paths and errors.
#include "support/CliRun.h"

namespace corvella::test {
namespace {

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::current_path(dir.path());
    Samples two(2 * 100000, 0);
    for (int f = 1000; f < 20000; ++f) two[2 * f] = 5000;
    for (int f = 60000; f < 70000; ++f) two[2 * f + 1] = -5000;
    std::filesystem::create_directories(dir / "in/parts");
    dir.Put("in/two.wav", SimpleWav(2, two));
    dir.Put("quiet.wav", SimpleWav(1, Samples(1000, 3)));
    dir.Put("bad.wav", Bytes(64, 0));
  }
  ShellResult Run(const std::vector<std::string>& args) { return RunCli(args, interrupted); }
  TempDir dir;
  std::atomic<bool> interrupted{false};
};

TEST_F(Cli, CountPrintsTheResultTextsAndReportsRefusals) {
  ShellResult r = Run({"count", "in/two.wav", "bad.wav", "quiet.wav", "missing.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "File \"in/two.wav\" contains 2 parts!\nNo parts in file \"bad.wav\" found!\n"
                   "No parts in file \"quiet.wav\" found!\nNo parts in file \"missing.wav\" found!\n");
  EXPECT_EQ(r.err, "corvella-cli: bad.wav: Not a valid WAV file!\n"
                   "corvella-cli: missing.wav: Unable to open file! (no such file)\n");
  EXPECT_EQ(Run({"count", "--gap-threshold", "44100", "in/two.wav"}).out, "File \"in/two.wav\" contains 1 parts!\n");
}

TEST_F(Cli, SplitResolvesRelativePathsFromWhereItStarted) {
  // The engine moves the current folder: the second name must still resolve.
  ShellResult r = Run({"split", "--mono", "-o", "in/parts", "in/two.wav", "in/two.wav"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "in/parts/two_001.wav\nin/parts/two_002.wav\nin/parts/two_001.wav\nin/parts/two_002.wav\n");
  EXPECT_EQ(PartChannels(dir / "in/parts/two_002.wav"), 1);
  EXPECT_EQ(PartData(dir / "in/parts/two_002.wav"), SampleBytes(Samples(10000, -2500)));
  EXPECT_EQ(Run({"split", "-o", "nowhere", "in/two.wav"}).status, 1);
}

TEST_F(Cli, UsageErrorsExitWithTwoAndHelpShowsExamples) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {}, {"count"}, {"divide", "x.wav"}, {"count", "--noise-floor", "0", "x.wav"},
           {"split", "--bogus", "x.wav"}, {"count", "-n", "5", "--threshold-db", "-40", "x.wav"}}) {
    ShellResult r = Run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(r.err.empty());
  }
  EXPECT_NE(Run({"--help"}).out.find("Examples:"), std::string::npos);
  interrupted = true;
  EXPECT_EQ(Run({"split", "in/two.wav"}).status, 130);
  EXPECT_FALSE(std::filesystem::exists(dir / "two_001.wav"));
}

}  // namespace
}  // namespace corvella::test
