// The command line run in-process: outputs, exit status, paths and errors.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/Cli.h"
#include "engine/Engine.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"

namespace corvella::test {
namespace {

using Samples = std::vector<std::int16_t>;

struct Result {
  int status;
  std::string out;
  std::string err;
};

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::current_path(dir.path());
    Samples twoParts(2 * 100000, 0);
    for (int f = 1000; f < 20000; ++f) twoParts[2 * f] = 5000;
    for (int f = 60000; f < 70000; ++f) twoParts[2 * f + 1] = -5000;
    dir.Put("two.wav", SimpleWav(2, twoParts));
    dir.Put("quiet.wav", SimpleWav(1, Samples(1000, 3)));
    dir.Put("bad.wav", Bytes(64, 0));
  }

  Result Run(std::vector<std::string> args) {
    args.insert(args.begin(), "corvella-cli");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    int status = cli::Run(static_cast<int>(argv.size()), argv.data(), out, err, false, interrupted);
    std::filesystem::current_path(dir.path());
    return {status, out.str(), err.str()};
  }

  TempDir dir;
  std::atomic<bool> interrupted{false};
};

TEST_F(Cli, CountPrintsTheResultTextPerFileInOrder) {
  Result r = Run({"count", "two.wav", "quiet.wav"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "File \"two.wav\" contains 2 parts!\nNo parts in file \"quiet.wav\" found!\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(Cli, ParametersChangeTheResult) {
  EXPECT_EQ(Run({"count", "--noise-floor", "5000", "two.wav"}).out,
            "No parts in file \"two.wav\" found!\n");
  EXPECT_EQ(Run({"count", "--gap-threshold", "44100", "two.wav"}).out,
            "File \"two.wav\" contains 1 parts!\n");
}

TEST_F(Cli, RefusedFileIsReportedOnStderrAndFailsTheRun) {
  Result r = Run({"count", "bad.wav", "two.wav", "missing.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "No parts in file \"bad.wav\" found!\nFile \"two.wav\" contains 2 parts!\n"
            "No parts in file \"missing.wav\" found!\n");
  EXPECT_EQ(r.err,
            "corvella-cli: bad.wav: Not a valid WAV file!\n"
            "corvella-cli: missing.wav: Unable to open file! (no such file)\n");
}

TEST_F(Cli, SplitWritesPartsIntoTheOutputFolderGivenRelatively) {
  std::filesystem::create_directories(dir / "sub/parts");
  std::filesystem::current_path(dir / "sub");
  std::vector<std::string> args{"corvella-cli", "split", "-o", "parts", "../two.wav"};
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  EXPECT_EQ(cli::Run(5, argv.data(), out, err, false, interrupted), 0);
  EXPECT_EQ(out.str(), "parts/two_001.wav\nparts/two_002.wav\n");
  const ParsedWav first = ParseWav(ReadFile(dir / "sub/parts/two_001.wav"));
  EXPECT_EQ(first.channels, 2);
  EXPECT_EQ(first.dataSize, 19000u * 4);
}

TEST_F(Cli, RelativePathsStayRelativeToWhereTheRunStarted) {
  std::filesystem::create_directories(dir / "in");
  std::filesystem::copy_file(dir / "two.wav", dir / "in/a.wav");
  std::filesystem::copy_file(dir / "two.wav", dir / "in/b.wav");
  std::filesystem::create_directories(dir / "parts");
  Result r = Run({"split", "-o", "parts", "in/a.wav", "in/b.wav", "two.wav"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "parts/a_001.wav\nparts/a_002.wav\nparts/b_001.wav\nparts/b_002.wav\n"
            "parts/two_001.wav\nparts/two_002.wav\n");
}

TEST_F(Cli, SplitMonoDefaultsToTheCurrentFolder) {
  Result r = Run({"split", "--mono", "--quiet", "two.wav"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  const ParsedWav second = ParseWav(ReadFile(dir / "two_002.wav"));
  EXPECT_EQ(second.channels, 1);
  EXPECT_EQ(second.dataSize, 10000u * 2);
  EXPECT_EQ(GetLe16(second.data, 0), static_cast<std::uint16_t>(-2500));
}

TEST_F(Cli, SplitIntoAMissingFolderFails) {
  Result r = Run({"split", "-o", "nowhere", "two.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("nowhere"), std::string::npos);
}

TEST_F(Cli, UsageErrorsExitWithTwo) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {}, {"count"}, {"divide", "two.wav"}, {"count", "--noise-floor", "0", "two.wav"},
           {"count", "--noise-floor", "x", "two.wav"}, {"split", "--bogus", "two.wav"},
           {"count", "--gap-threshold", "-5", "two.wav"}}) {
    Result r = Run(args);
    EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args[0]);
    EXPECT_FALSE(r.err.empty());
  }
}

TEST_F(Cli, HelpShowsExamplesAndSucceeds) {
  Result r = Run({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Examples:"), std::string::npos);
  EXPECT_NE(r.out.find("split"), std::string::npos);
}

TEST_F(Cli, InterruptedRunStartsNoFileAndExits130) {
  interrupted = true;
  Result r = Run({"split", "two.wav"});
  EXPECT_EQ(r.status, 130);
  EXPECT_FALSE(std::filesystem::exists(dir / "two_001.wav"));
}

}  // namespace
}  // namespace corvella::test
