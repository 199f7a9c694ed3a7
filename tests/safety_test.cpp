// Nothing lost, whatever the user types: sources of the run and parts
// written earlier in it are never replaced, signals leave no partial or
// hidden file, a failing stdout is reported and never stops the parts,
// hostile numbers are refused, machine-readable listings stay valid for any
// name. The real program is run as a user runs it.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "detect/Levels.h"
#include "support/CliRun.h"
#include "support/FaultyFiles.h"

namespace corvella::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// `count` loud passages of `length` frames, 30000 silent frames after each.
Samples Passages(int channels, int count, int length = 20000) {
  Samples s;
  for (int p = 0; p < count; ++p) {
    for (int f = 0; f < length * channels; ++f)
      s.push_back(static_cast<std::int16_t>(2000 + f % 300 + p));
    s.insert(s.end(), static_cast<std::size_t>(30000 * channels), 0);
  }
  return s;
}

// A small CSV reader in the manner of RFC 4180, for reading listings back.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
        rows.back().back() += text[++i];
      else if (c == '"')
        quoted = false;
      else
        rows.back().back() += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().emplace_back();
    } else if (c == '\n') {
      rows.emplace_back(1);
    } else {
      rows.back().back() += c;
    }
  }
  if (rows.back() == std::vector<std::string>(1)) rows.pop_back();
  return rows;
}

class Safety : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::current_path(dir.path());
    dir.Put("a.wav", SimpleWav(2, Passages(2, 2)));
  }
  Ran Cli(std::vector<std::string> args, bool closedStdout = false) {
    args.insert(args.begin(), CORVELLA_CLI);
    return RunProgram(args, closedStdout);
  }
  ShellResult InProcess(const std::vector<std::string>& args,
                        wave::FileApi& files = wave::PlatformFiles()) {
    std::vector<std::string> all{"corvella-cli"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<const char*> argv;
    for (const auto& a : all) argv.push_back(a.c_str());
    std::ostringstream out, err;
    cli::Console console(out, err, false, stop);
    const int status = cli::Run(static_cast<int>(argv.size()), argv.data(), console, files);
    return {status, out.str(), err.str()};
  }
  std::vector<std::string> Hidden(const std::string& folder) {
    std::vector<std::string> hidden;
    for (const auto& name : dir.Names(folder)) {
      if (name.front() == '.') hidden.push_back(name);
    }
    return hidden;
  }
  TempDir dir;
  std::atomic<int> stop{0};
};

TEST_F(Safety, SourcesOfTheRunAndPartsWrittenInItAreNeverReplaced) {
  // a_001.wav is itself a recording of five parts, named after a.wav.
  const Bytes five = SimpleWav(1, Passages(1, 5));
  dir.Put("a_001.wav", five);
  Ran r = Cli({"split", "a.wav", "a_001.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("a_001.wav: Unable to create output file! (a source of this run)"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadFile(dir / "a_001.wav"), five);
  EXPECT_EQ(PartData(dir / "a_002.wav").size(), 20000u * 4);
  EXPECT_TRUE(fs::exists(dir / "a_001_005.wav"));

  // The same file under another name, a hard link, counts too.
  fs::remove(dir / "a_002.wav");
  fs::create_hard_link(dir / "a_001.wav", dir / "other.wav");
  r = Cli({"split", "-q", "a.wav", "other.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ReadFile(dir / "a_001.wav"), five);

  // Two recordings of one name from two folders: the second's parts never
  // replace the first's.
  fs::create_directories(dir / "d1");
  fs::create_directories(dir / "d2");
  fs::create_directories(dir / "out");
  dir.Put("d1/x.wav", SimpleWav(1, Passages(1, 2, 1000)));
  dir.Put("d2/x.wav", SimpleWav(1, Passages(1, 3, 3000)));
  r = Cli({"split", "-o", "out", "d1/x.wav", "d2/x.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("out" + kJoin +
                       "x_002.wav: Unable to create output file! (written earlier in this run)"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(PartData(dir / "out/x_002.wav").size(), 1000u * 2);
  EXPECT_EQ(PartData(dir / "out/x_003.wav").size(), 3000u * 2);
}

TEST_F(Safety, SignalsLeaveNoPartialAndNoHiddenFile) {
#ifdef _WIN32
  GTEST_SKIP() << "signals are POSIX's; the console's control events are tested on Windows";
#else
  // A short part, then one long enough to be under way when a signal comes.
  Samples big = Passages(2, 1, 4410);
  for (int f = 0; f < 5000000 * 2; ++f) big.push_back(static_cast<std::int16_t>(1000 + f % 7000));
  dir.Put("big.wav", SimpleWav(2, big));
  const std::size_t longPart = 44 + 5000000u * 2;
  for (auto [signal, times] : {std::pair{SIGTERM, 1}, {SIGHUP, 1}, {SIGINT, 2}, {SIGKILL, 1}}) {
    fs::remove_all(dir / "out");
    fs::create_directory(dir / "out");
    TempDir outputs;
    const int pid =
        Start({CORVELLA_CLI, "split", "--mono", "-o", "out", "big.wav"}, outputs.path());
    for (int i = 0; i < 2000 && !fs::exists(dir / "out/big_001.wav"); ++i)
      std::this_thread::sleep_for(5ms);
    for (int k = 0; k < times; ++k) {
      ::kill(pid, signal);
      std::this_thread::sleep_for(50ms);
    }
    const Ran r = Finish(pid, outputs.path());
    if (signal == SIGKILL) {
      EXPECT_EQ(r.signal, SIGKILL);
    } else {
      EXPECT_EQ(r.status, 128 + signal) << signal << r.err;
    }
    EXPECT_TRUE(Hidden("out").empty()) << signal;
    // The long part is either whole or not there at all.
    if (fs::exists(dir / "out/big_002.wav")) {
      EXPECT_EQ(fs::file_size(dir / "out/big_002.wav"), longPart);
    }
  }
#endif
}

TEST_F(Safety, AnInterruptedRunKeepsTheFirstPartsAndNeverALaterOneWithoutAnEarlier) {
#ifdef _WIN32
  GTEST_SKIP() << "signals are POSIX's; the console's control events are tested on Windows";
#else
  // Six channels of 24 bits in parts of very different lengths, written on
  // every core: short ones finish before the long ones begun ahead of them.
  const int channels = 6;
  Bytes data;
  std::mt19937 random(11);
  for (int part = 0; part < 16; ++part) {
    const int length = part % 3 == 0 ? 700000 : 20000;
    for (int f = 0; f < length * channels; ++f) {
      const auto v = static_cast<std::uint32_t>(200000 + random() % 3000000);
      data.insert(data.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                               static_cast<std::uint8_t>(v >> 16)});
    }
    data.resize(data.size() + 30000 * channels * 3, 0);
  }
  dir.Put("side.wav", WavBuilder().Chunk("fmt ", FormatBody(1, channels, 48000, 24)).Chunk("data", data).Build());
  for (int round = 0; round < 8; ++round) {
    const int signal = round % 3 == 0 ? SIGTERM : SIGINT;
    const int times = round % 2 ? 2 : 1;
    const bool flac = round % 4 < 2;
    fs::remove_all(dir / "out");
    fs::create_directory(dir / "out");
    TempDir outputs;
    std::vector<std::string> args{CORVELLA_CLI, "split", "-q", "-o", "out", "side.wav"};
    if (flac) args.insert(args.begin() + 2, {"--to", "flac"});
    if (!flac) args.insert(args.begin() + 2, "--mono");
    const int pid = Start(args, outputs.path());
    ASSERT_TRUE(Handles(pid, signal));
    std::this_thread::sleep_for(std::chrono::milliseconds(flac ? 60 + 35 * round : 10 + 8 * round));
    for (int k = 0; k < times; ++k) {
      ::kill(pid, signal);
      std::this_thread::sleep_for(std::chrono::milliseconds(2 * (round + 1)));
    }
    const Ran r = Finish(pid, outputs.path());
    EXPECT_TRUE(r.status == 128 + signal || r.status == 0) << round << ": " << r.err;
    std::vector<std::string> kept;
    for (const auto& entry : fs::directory_iterator(dir / "out"))
      kept.push_back(entry.path().filename().string());
    std::sort(kept.begin(), kept.end());
    for (std::size_t k = 0; k < kept.size(); ++k) {
      char name[32];
      std::snprintf(name, sizeof name, "side_%03zu.%s", k + 1, flac ? "flac" : "wav");
      EXPECT_EQ(kept[k], name) << "round " << round << ": a later part without an earlier";
    }
    // It says what it kept, quiet or not (a second signal ends it at once).
    if (r.status == 128 + signal && times == 1) {
      const std::string said = "corvella-cli: split: stopped: " + std::to_string(kept.size()) +
                               (kept.size() == 1 ? " part written is kept" : " parts written are kept");
      EXPECT_EQ(r.err.rfind(said, 0), 0u) << round << ": " << r.err;
    }
  }
#endif
}

TEST_F(Safety, AFailingStdoutIsReportedAndNeverStopsTheParts) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"count", "a.wav"},
                                             {"list", "-f", "json", "a.wav"},
                                             {"levels", "a.wav"},
                                             {"split", "-o", "out", "a.wav"}}) {
    fs::create_directories(dir / "out");
#ifndef _WIN32  // a full device on stdout: /dev/full
    std::vector<std::string> full{"/bin/sh", "-c", std::string(CORVELLA_CLI) + " \"$@\" >/dev/full",
                                  "sh"};
    full.insert(full.end(), args.begin(), args.end());
    const Ran r = RunProgram(full);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_EQ(r.err, "corvella-cli: write error: no space left on the device\n") << args[0];
  }
  EXPECT_EQ(dir.Names("out"), (std::vector<std::string>{"a_001.wav", "a_002.wav"}));
#else
    (void)args;
  }
#endif
  // A reader that has gone: the parts are all written, quietly.
  fs::remove_all(dir / "out");
  fs::create_directories(dir / "out");
  Ran r = Cli({"split", "-o", "out", "a.wav"}, true);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(dir.Names("out"), (std::vector<std::string>{"a_001.wav", "a_002.wav"}));
  r = Cli({"list", "a.wav"}, true);
  EXPECT_EQ(r.status, 141);
  EXPECT_EQ(r.err, "");
}

TEST_F(Safety, HostileNumbersAreRefusedAsUsageErrors) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--gap", "nan"},
                                             {"--gap", "inf"},
                                             {"--threshold-db", "nan"},
                                             {"--threshold-db", "-inf"},
                                             {"--pad-before", "nan"},
                                             {"--min-part", "1e999"},
                                             {"-f", "2"},
                                             {"-f", "JSON "}}) {
    std::vector<std::string> line{"list"};
    line.insert(line.end(), args.begin(), args.end());
    line.push_back("a.wav");
    const ShellResult r = InProcess(line);
    EXPECT_EQ(r.status, 2) << args[0] << " " << args[1];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_EQ(r.err.rfind("corvella-cli: ", 0), 0u) << r.err;
  }
  // What the user typed comes back escaped: it cannot drive the terminal.
  EXPECT_EQ(InProcess({"count", "--gap", "\x1b[2J", "a.wav"}).err,
            "corvella-cli: --gap: a number is needed, not '\\x1b[2J'\n"
            "Run 'corvella-cli count --help' for more information.\n");
  for (const char* value : {"1e3", "104.7", "0x10"}) {
    const ShellResult r = InProcess({"count", "--noise-floor", value, "a.wav"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("an integer is needed"), std::string::npos) << r.err;
  }
}

TEST_F(Safety, HeadersNamingHugeSizesCostNoMemory) {
  // A fmt chunk declaring 1 GiB, in a sparse file that holds it.
  Bytes head = WavBuilder().Build(0xFFFFFFF0u);
  Bytes fmt = FormatBody(1, 1, 44100, 16);
  head.insert(head.end(), {'f', 'm', 't', ' '});
  PutLe32(head, 1u << 30);
  head.insert(head.end(), fmt.begin(), fmt.end());
  dir.Put("huge-fmt.wav", head);
  fs::resize_file(dir / "huge-fmt.wav", 20 + (1u << 30));
  Bytes tail;
  tail.insert(tail.end(), {'d', 'a', 't', 'a'});
  PutLe32(tail, 20000);
  const Bytes samples = SampleBytes(Passages(1, 1, 5000));
  tail.insert(tail.end(), samples.begin(), samples.begin() + 20000);
  {
    std::fstream file(dir / "huge-fmt.wav", std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(0, std::ios::end);
    file.write(reinterpret_cast<const char*>(tail.data()),
               static_cast<std::streamsize>(tail.size()));
  }
  Ran r = Cli({"count", "huge-fmt.wav"});
  EXPECT_EQ(r.out, "File \"huge-fmt.wav\" contains 1 parts!\n") << r.err;
  EXPECT_LT(r.maxRssKb, 200 * 1024);

  // A rate of 1 Hz: every window of levels is one frame, millions of them.
  dir.Put("slow.wav", SimpleWav(1, Samples(4 << 20, 0), 1));
  r = Cli({"levels", "slow.wav"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("4194304 windows of 1000 ms"), std::string::npos) << r.out;
  EXPECT_LT(r.maxRssKb, 200 * 1024);
}

TEST_F(Safety, EveryListingStaysValidForAnyName) {
#ifdef _WIN32
  GTEST_SKIP() << "names there are Unicode, without control characters; see windows_test";
#endif
  const std::string name = "q\"u,o\nte\t\x1b[31m\xff\xfe.wav";
  dir.Put(name, SimpleWav(2, Passages(2, 2)));
  // JSON: valid, with the bytes that are not UTF-8 given exactly beside.
  ShellResult r = InProcess({"list", "-f", "json", name});
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json json = nlohmann::json::parse(r.out);
  EXPECT_EQ(json[0]["file"], "q\"u,o\nte\t\x1b[31m\xef\xbf\xbd\xef\xbf\xbd.wav");
  EXPECT_EQ(json[0]["file_bytes"], "7122752c6f0a7465091b5b33316dfffe2e776176");
  EXPECT_EQ(json[0]["parts"].size(), 2u);
  // CSV: a standard reader gets the fields back, control characters and
  // stray bytes as the terminal shows them (JSON has them exactly).
  r = InProcess({"list", "-f", "csv", name});
  const auto rows = ParseCsv(r.out);
  ASSERT_EQ(rows.size(), 3u) << r.out;
  EXPECT_EQ(rows[1][0], "q\"u,o\\x0ate\\x09\\x1b[31m\\xff\\xfe.wav");
  EXPECT_EQ(rows[2][8], "q\"u,o\\x0ate\\x09\\x1b[31m\\xff\\xfe_002.wav");
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
  // A label track keeps one label a line, three fields each, no control bytes.
  r = InProcess({"list", "-f", "labels", name});
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
  std::istringstream lines(r.out);
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count)
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 2) << line;
  EXPECT_EQ(count, 2);
  // A cue sheet quotes names without escapes.
  r = InProcess({"list", "-f", "cue", name});
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "FILE \"q'u,o te  [31m\xff\xfe.wav\" WAVE");
  // The terminal sees escapes, never the raw control bytes.
  r = InProcess({"count", name});
  EXPECT_EQ(r.out, "File \"q\"u,o\\x0ate\\x09\\x1b[31m\\xff\\xfe.wav\" contains 2 parts!\n");
  r = InProcess({"list", name + "/"});
  EXPECT_NE(r.err.find("\\x1b[31m\\xff\\xfe.wav/: Unable to open file! (not a folder)"),
            std::string::npos)
      << r.err;
}

TEST_F(Safety, CueSheetsOfMoreThan99TracksAreRefused) {
  dir.Put("many.wav", SimpleWav(1, Passages(1, 100, 100)));
  const ShellResult r = InProcess({"list", "-f", "cue", "many.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("a cue sheet holds at most 99 tracks"), std::string::npos) << r.err;
}

TEST_F(Safety, PartsGoWhereTheKernelPutsTheFolderAndSaySo) {
#ifdef _WIN32
  GTEST_SKIP() << "folder links are Linux's here";
#endif
  fs::create_directories(dir / "outside/sub");
  fs::create_directory_symlink(dir / "outside/sub", dir / "lnk");
  const ShellResult r = InProcess({"split", "-o", "lnk/..", "a.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string real = fs::canonical(dir / "outside").string();
  EXPECT_EQ(r.out, real + "/a_001.wav\n" + real + "/a_002.wav\n");
  EXPECT_EQ(dir.Names("outside"), (std::vector<std::string>{"a_001.wav", "a_002.wav", "sub"}));
  EXPECT_FALSE(fs::exists(dir / "a_001.wav"));
}

TEST_F(Safety, PeaksAreMeasuredOnEveryChannelAndAFailedMeasureListsNothing) {
  // A stereo part louder on the right than on the left.
  Samples s(2 * 60000, 0);
  for (int f = 100; f < 50000; ++f) {
    s[2 * f] = 1000;
    s[2 * f + 1] = static_cast<std::int16_t>(f == 30000 ? -16384 : 2000);
  }
  dir.Put("right.wav", SimpleWav(2, s));
  ShellResult r = InProcess({"list", "-f", "json", "right.wav"});
  EXPECT_EQ(nlohmann::json::parse(r.out)[0]["parts"][0]["peak_dbfs"], -6.02);
  // Samples that the search never needs but the peak does cannot be read.
  FaultyFiles files;
  files.failReadsFrom = 44 + 4 * 5000;
  files.failReadsTo = 44 + 4 * 6000;
  r = InProcess({"list", "-f", "json", "right.wav"}, files);
  EXPECT_EQ(r.status, 1);
  const nlohmann::json listed = nlohmann::json::parse(r.out)[0];
  EXPECT_EQ(listed["error"], "Unable to read file!");
  EXPECT_FALSE(listed.contains("parts"));
}

TEST(WindowPeaks, TheLastShortWindowCounts) {
  TempDir dir;
  Samples s(25, 0);
  s[22] = -8192;  // in the last window, which holds 5 frames
  dir.Put("w.wav", SimpleWav(1, s));
  auto source =
      wave::OpenWave(wave::PlatformFiles(), dir / "w.wav", wave::Acceptance::Plain16).source;
  detect::NoProgress progress;
  std::vector<std::pair<double, std::int64_t>> windows;
  EXPECT_FALSE(
      detect::ForEachWindowPeak(*source, 10, progress, [&](double peak, std::int64_t frames) {
        windows.push_back({peak, frames});
      }));
  EXPECT_EQ(windows, (std::vector<std::pair<double, std::int64_t>>{{0, 10}, {0, 10}, {0.25, 5}}));
}

}  // namespace
}  // namespace corvella::test
