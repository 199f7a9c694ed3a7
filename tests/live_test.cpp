// split of a recording still coming in, run as a user runs it: fed through
// a pipe at ten times real time in uneven pieces (some ending inside a
// frame), or written to a file by a second process while it is followed.
// The parts are always those of a plain split of the same recording; each
// is there as soon as its end is known; killing, stopping and a full
// destination leave only whole parts.
#include <atomic>
#include <chrono>
#include <functional>
#include <random>
#include <regex>
#include <thread>

#include "stream/Input.h"
#include "support/Fixture.h"
#include "wave/ByteOrder.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace corvella::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

#ifndef _WIN32  // POSIX pipes and processes; Windows's pipe in windows_test

constexpr int kRate = 44100;

// Tones between silences: (seconds of tone, seconds of silence after it).
Bytes Recording(const std::vector<std::pair<double, double>>& layout, int channels = 2) {
  Samples samples;
  for (const auto& [tone, silence] : layout) {
    const auto loud = static_cast<std::int64_t>(tone * kRate);
    for (std::int64_t f = 0; f < loud; ++f) {
      for (int c = 0; c < channels; ++c)
        samples.push_back(static_cast<std::int16_t>(f % 2 ? 3000 + f % 97 : -3000 - f % 89));
    }
    samples.resize(samples.size() + static_cast<std::size_t>(silence * kRate) * channels, 0);
  }
  return SimpleWav(channels, samples, kRate);
}

// The same recording as a program writing to a pipe sends it.
Bytes Unsized(Bytes file, std::uint32_t size = 0xFFFFFFFF) {
  wave::WriteLe32(&file[4], size);
  wave::WriteLe32(&file[40], size);
  return file;
}

// What a plain split of `file` writes with `options`, by name.
std::map<std::string, Bytes> PlainSplit(const Bytes& file,
                                        const std::vector<std::string>& options) {
  TempDir scratch;
  scratch.Put("stream.wav", file);
  fs::create_directory(U8(scratch / "out"));
  std::vector<std::string> args{CORVELLA_CLI, "split", "-q", "-o", scratch / "out"};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back(scratch / "stream.wav");
  const Ran ran = RunProgram(args);
  EXPECT_EQ(ran.status, 0) << ran.err;
  std::map<std::string, Bytes> parts;
  for (const std::string& name : scratch.Names("out"))
    parts[name] = ReadFile(scratch / "out/" + name);
  return parts;
}

std::map<std::string, Bytes> PartsIn(const TempDir& dir, const std::string& folder) {
  std::map<std::string, Bytes> parts;
  for (const std::string& name : dir.Names(folder))
    parts[name] = ReadFile(dir / folder + "/" + name);
  return parts;
}

// The command line reading a pipe the test writes.
class Piped {
 public:
  Piped(const std::vector<std::string>& args, const std::string& outputs, long fileSizeLimit = 0) {
    int channel[2];
    if (::pipe(channel) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(channel[0], 0);
      ::close(channel[0]);
      ::close(channel[1]);
      const int out = ::open((outputs + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = ::open((outputs + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(out, 1);
      ::dup2(err, 2);
      for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) ::signal(sig, SIG_DFL);
      if (fileSizeLimit > 0) {
        const rlimit limit{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
      }
      std::vector<std::string> argv{CORVELLA_CLI};
      argv.insert(argv.end(), args.begin(), args.end());
      std::vector<char*> pointers;
      for (std::string& a : argv) pointers.push_back(a.data());
      pointers.push_back(nullptr);
      ::execv(pointers[0], pointers.data());
      ::_exit(127);
    }
    ::close(channel[0]);
    in_ = channel[1];
    outputs_ = outputs;
  }
  ~Piped() {
    Close();
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  // Writes bytes [from, to) of `bytes` in uneven pieces at ten times the
  // real time of `byteRate` bytes a second.
  void Feed(const Bytes& bytes, std::size_t from, std::size_t to, double byteRate) {
    std::uniform_int_distribution<std::size_t> piece(1, 20000);
    const auto began = std::chrono::steady_clock::now();
    const std::size_t first = from;
    while (from < to) {
      const std::size_t size = std::min(piece(random_), to - from);
      ASSERT_EQ(::write(in_, &bytes[from], size), static_cast<ssize_t>(size));
      from += size;
      const auto due =
          began + std::chrono::duration<double>(static_cast<double>(from - first) / byteRate / 10);
      std::this_thread::sleep_until(due);
    }
  }
  void Close() {
    if (in_ >= 0) ::close(in_);
    in_ = -1;
  }
  void Signal(int signal) { ::kill(pid_, signal); }
  Ran Wait() {
    Close();
    const Ran ran = Finish(pid_, outputs_);
    pid_ = -1;
    return ran;
  }

 private:
  int pid_ = -1;
  int in_ = -1;
  std::string outputs_;
  std::mt19937 random_{42};
};

// Waits up to `most` for `path` to be there.
bool Appears(const std::string& path, std::chrono::milliseconds most) {
  const auto until = std::chrono::steady_clock::now() + most;
  while (!fs::exists(U8(path))) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

class Live : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(U8(dir / "out")); }
  TempDir dir, outputs;
};

TEST_F(Live, APacedPipeGivesThePartsOfAPlainSplitEachAsSoonAsItHasEnded) {
  const std::vector<std::pair<double, double>> layout{{1.5, 1.2}, {0.2, 1.5}, {2.0, 0.8},
                                                      {0.1, 0.5}, {1.0, 2.0}, {0.7, 0.3}};
  const Bytes file = Recording(layout);
  const Bytes stream = Unsized(file);
  const std::vector<std::string> options{"--gap",        "0.6", "--min-part",  "0.3",
                                         "--pad-before", "0.2", "--pad-after", "0.25"};
  std::vector<std::string> args{"split", "-", "-o", dir / "out", "--format", "json"};
  args.insert(args.end(), options.begin(), options.end());
  Piped cli(args, outputs.path());
  // Part by part: after the tone and the gap (and twice the padding after
  // it) the writer waits, and the part must be there before any more comes.
  const double byteRate = kRate * 4.0;
  std::size_t sent = 0;
  double at = 0;
  int kept = 0;
  for (std::size_t k = 0; k < layout.size(); ++k) {
    at += layout[k].first;
    const double known = at + 0.6 + 0.5;  // the gap, and a little more
    if (layout[k].first < 0.3 || layout[k].second < 0.6 + 0.5) {
      at += layout[k].second;
      continue;
    }
    const auto upTo = 44 + static_cast<std::size_t>(known * kRate) * 4;
    cli.Feed(stream, sent, upTo, byteRate);
    sent = upTo;
    ++kept;
    EXPECT_TRUE(Appears(dir / "out/stream_00" + std::to_string(kept) + ".wav", 3000ms))
        << "part " << kept << " is not there with only its gap after it";
    at += layout[k].second;
  }
  cli.Feed(stream, sent, stream.size(), byteRate);
  const Ran ran = cli.Wait();
  EXPECT_EQ(ran.status, 0) << ran.err;
  const auto plain = PlainSplit(file, options);
  EXPECT_EQ(plain.size(), 4u);
  EXPECT_TRUE(PartsIn(dir, "out") == plain);
  // With --format json, a line a part as a file's split prints it: its
  // number, name and place in the recording, in the order written.
  const std::regex line(
      R"(\{"file": "-", "part": (\d), "path": "\S+/stream_00\1\.wav", "start_frame": \d+, )"
      R"("end_frame": \d+, "start": \d+\.\d{6}, "end": \d+\.\d{6}\}\n)");
  std::string out = ran.out;
  int lines = 0;
  for (std::smatch m; std::regex_search(out, m, line); out = m.suffix()) ++lines;
  EXPECT_EQ(lines, 4) << ran.out;
  EXPECT_NE(ran.out.find("\"start_frame\": 0, \"end_frame\": 77175, \"start\": 0.000000, \"end\": 1.750000}"),
            std::string::npos)
      << ran.out;
}

TEST_F(Live, RawSamplesInPiecesThatSplitFramesGiveTheSplitOfTheSameWav) {
  const Bytes file = Recording({{0.5, 1.0}, {0.5, 0.2}, {0.4, 1.0}}, 1);
  Piped cli({"split", "-", "--raw", "44100:1:s16le", "--name", "tape", "-o", dir / "out"},
            outputs.path());
  cli.Feed(file, 44, file.size() - 1, kRate * 2.0);  // and a byte of no whole frame
  const Ran ran = cli.Wait();
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_NE(ran.err.find("1 bytes at the end make no whole frame"), std::string::npos) << ran.err;
  auto plain = PlainSplit(file, {});
  ASSERT_EQ(plain.size(), 2u);
  EXPECT_EQ(dir.Names("out"), (std::vector<std::string>{"tape_001.wav", "tape_002.wav"}));
  EXPECT_EQ(ReadFile(dir / "out/tape_001.wav"), plain["stream_001.wav"]);
  EXPECT_EQ(ReadFile(dir / "out/tape_002.wav"), plain["stream_002.wav"]);
}

TEST_F(Live, KillNineLeavesOnlyWholePartsUnderTheirNames) {
  const Bytes file = Recording({{1.0, 1.0}, {3.0, 0.0}});
  Piped cli({"split", "-", "-o", dir / "out"}, outputs.path());
  cli.Feed(Unsized(file), 0, 44 + static_cast<std::size_t>(3.5 * kRate) * 4, kRate * 4.0);
  ASSERT_TRUE(Appears(dir / "out/stream_001.wav", 3000ms));
  std::this_thread::sleep_for(200ms);  // the second part is being written
  cli.Signal(SIGKILL);
  const Ran ran = cli.Wait();
  EXPECT_EQ(ran.signal, SIGKILL);
  EXPECT_EQ(dir.Names("out"), std::vector<std::string>{"stream_001.wav"});
  EXPECT_EQ(ReadFile(dir / "out/stream_001.wav"), PlainSplit(file, {})["stream_001.wav"]);
}

TEST_F(Live, SigtermAndCtrlCKeepThePartUnderWay) {
  for (int signal : {SIGTERM, SIGINT}) {
    TempDir out;
    const Bytes file = Recording({{0.5, 1.0}, {2.0, 0.0}});
    const std::size_t sent = 44 + static_cast<std::size_t>(2.5 * kRate) * 4;
    Piped cli({"split", "-", "-o", out.path()}, outputs.path());
    cli.Feed(Unsized(file), 0, sent, kRate * 4.0);
    ASSERT_TRUE(Appears(out / "stream_001.wav", 3000ms));
    std::this_thread::sleep_for(300ms);
    cli.Signal(signal);
    const Ran ran = cli.Wait();
    EXPECT_EQ(ran.status, 128 + signal) << ran.err;
    // What had come is a recording of its own: its parts are these.
    Bytes came(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(sent));
    wave::WriteLe32(&came[4], static_cast<std::uint32_t>(sent - 8));
    wave::WriteLe32(&came[40], static_cast<std::uint32_t>(sent - 44));
    const auto plain = PlainSplit(came, {});
    EXPECT_EQ(plain.size(), 2u);
    EXPECT_TRUE(PartsIn(out, "") == plain) << signal;
  }
}

TEST_F(Live, AWriterThatStopsWithoutFixingItsHeaderEndsTheRecordingThere) {
  const Bytes file = Recording({{0.3, 0.8}, {0.3, 0.1}});
  for (std::uint32_t size : {0u, 0x7FFFFFFFu}) {
    TempDir out;
    Piped cli({"split", "-", "-o", out.path()}, outputs.path());
    cli.Feed(Unsized(file, size), 0, file.size(), kRate * 40.0);
    const Ran ran = cli.Wait();
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_TRUE(PartsIn(out, "") == PlainSplit(file, {})) << size;
  }
  // A header that says how long the data are ends it there; one that says
  // more than comes is an error, and the parts hold what came.
  Bytes withTail = file;
  const std::string tail = "LIST\x04\0\0\0INFO";
  withTail.insert(withTail.end(), tail.begin(), tail.end());
  Piped sized({"split", "-", "-o", dir / "out"}, outputs.path());
  sized.Feed(withTail, 0, withTail.size(), kRate * 40.0);
  EXPECT_EQ(sized.Wait().status, 0);
  EXPECT_TRUE(PartsIn(dir, "out") == PlainSplit(file, {}));
  TempDir out;
  Piped cut({"split", "-", "-o", out.path()}, outputs.path());
  cut.Feed(file, 0, file.size() - 4000, kRate * 40.0);
  const Ran ran = cut.Wait();
  EXPECT_EQ(ran.status, 1);
  EXPECT_NE(ran.err.find("the stream ended 1000 frames before its header says"), std::string::npos)
      << ran.err;
  EXPECT_EQ(out.Names().size(), 2u);
}

// A second process that writes `content` to `path` a piece at a time, as a
// recorder writes its file, then runs `finish` on it and closes it.
pid_t GrowInAnotherProcess(const std::string& path, const Bytes& content,
                           const std::function<bool(int fd)>& finish) {
  const pid_t writer = ::fork();
  if (writer == 0) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (std::size_t at = 0; at < content.size(); at += 30000) {
      const std::size_t size = std::min<std::size_t>(30000, content.size() - at);
      if (::write(fd, &content[at], size) != static_cast<ssize_t>(size)) ::_exit(1);
      std::this_thread::sleep_for(20ms);
    }
    ::_exit(finish(fd) && ::close(fd) == 0 ? 0 : 1);
  }
  return writer;
}

TEST_F(Live, FollowsAFileASecondProcessWritesUntilItIsFinished) {
  // Loud to its last frame: a byte after it taken for a sample would show.
  const Bytes file = Recording({{0.5, 0.8}, {0.7, 0.9}, {0.3, 0.0}});
  const std::string capture = dir / "capture.wav";
  // Sizes unknown while it records; at the end a tag chunk after the
  // samples, and only then the sizes filled in.
  const pid_t writer = GrowInAnotherProcess(capture, Unsized(file, 0), [&](int fd) {
    const std::string tags = std::string("LIST\x0c\0\0\0INFOIART\0\0\0\0", 20);
    Bytes riff(4);
    wave::WriteLe32(riff.data(), static_cast<std::uint32_t>(file.size() - 8 + tags.size()));
    return ::write(fd, tags.data(), tags.size()) == static_cast<ssize_t>(tags.size()) &&
           ::pwrite(fd, riff.data(), 4, 4) == 4 && ::pwrite(fd, &file[40], 4, 40) == 4;
  });
  ASSERT_TRUE(Appears(capture, 2000ms));
  const Ran ran = RunProgram({CORVELLA_CLI, "split", "--follow", capture, "-o", dir / "out"});
  int status = 0;
  ::waitpid(writer, &status, 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ran.status, 0) << ran.err;
  std::map<std::string, Bytes> named;  // capture_001.wav, ...
  for (auto& [name, bytes] : PlainSplit(file, {})) named["capture" + name.substr(6)] = bytes;
  EXPECT_EQ(named.size(), 3u);
  EXPECT_TRUE(PartsIn(dir, "out") == named);
  // Raw samples end when they stop growing, whatever closings came between
  // (a writer may open, append and close for every piece); the parts are WAV.
  fs::create_directory(U8(dir / "raw"));
  const pid_t rawWriter = GrowInAnotherProcess(
      dir / "take.pcm", Bytes(file.begin() + 44, file.end()), [](int) { return true; });
  ASSERT_TRUE(Appears(dir / "take.pcm", 2000ms));
  const Ran raw = RunProgram({CORVELLA_CLI, "split", "--follow", dir / "take.pcm", "--raw",
                              "44100:2:s16le", "--idle", "5", "-q", "-o", dir / "raw"});
  ::waitpid(rawWriter, &status, 0);
  EXPECT_EQ(raw.status, 0) << raw.err;
  EXPECT_EQ(dir.Names("raw"),
            (std::vector<std::string>{"take_001.wav", "take_002.wav", "take_003.wav"}));
  EXPECT_EQ(ReadFile(dir / "raw/take_003.wav"), named["capture_003.wav"]);
  // One that is never finished ends when it stops growing, keeping its whole
  // parts; as its end was never known, the run fails, saying so.
  dir.Put("stalled.wav", Unsized(file, 0));
  fs::create_directory(U8(dir / "stalled"));
  const Ran idle = RunProgram({CORVELLA_CLI, "split", "--follow", dir / "stalled.wav", "--idle",
                               "0.5", "-q", "-o", dir / "stalled"});
  EXPECT_EQ(idle.status, 1) << idle.err;
  EXPECT_NE(idle.err.find("no growth for 0.5 s, and its writer never finished the header"),
            std::string::npos)
      << idle.err;
  EXPECT_EQ(dir.Names("stalled").size(), 3u);
  // A chunk past what is held back, written well before the header is
  // finished, has been taken for samples by then: the part that holds it is
  // removed, the run says so and fails.
  const pid_t bigWriter = GrowInAnotherProcess(dir / "tagged.wav", Unsized(file, 0), [&](int fd) {
    Bytes tags{'L', 'I', 'S', 'T', 0, 0x50, 0, 0};
    tags.resize(8 + 0x5000, 'x');
    Bytes riff(4);
    wave::WriteLe32(riff.data(), static_cast<std::uint32_t>(file.size() - 8 + tags.size()));
    if (::write(fd, tags.data(), tags.size()) != static_cast<ssize_t>(tags.size())) return false;
    std::this_thread::sleep_for(700ms);
    return ::pwrite(fd, riff.data(), 4, 4) == 4 && ::pwrite(fd, &file[40], 4, 40) == 4;
  });
  ASSERT_TRUE(Appears(dir / "tagged.wav", 2000ms));
  fs::create_directory(U8(dir / "tagged"));
  const Ran tagged = RunProgram(
      {CORVELLA_CLI, "split", "--follow", dir / "tagged.wav", "-q", "-o", dir / "tagged"});
  ::waitpid(bigWriter, &status, 0);
  EXPECT_EQ(tagged.status, 1);
  EXPECT_NE(tagged.err.find("bytes after the samples before it finished the header"),
            std::string::npos)
      << tagged.err;
  EXPECT_NE(tagged.err.find("tagged_003.wav: held bytes its writer put after the samples (a chunk, "
                           "not audio): not kept"),
            std::string::npos)
      << tagged.err;
  EXPECT_EQ(dir.Names("tagged"), (std::vector<std::string>{"tagged_001.wav", "tagged_002.wav"}));
  // A finished file whose chunk follows its samples: never read past the
  // size its header gives them.
  Bytes finished = file;
  Bytes list{'L', 'I', 'S', 'T', 0, 0x50, 0, 0};
  list.resize(8 + 0x5000, 'x');
  finished.insert(finished.end(), list.begin(), list.end());
  wave::WriteLe32(&finished[4], static_cast<std::uint32_t>(finished.size() - 8));
  dir.Put("finished.wav", finished);
  fs::create_directory(U8(dir / "finished"));
  const Ran whole = RunProgram({CORVELLA_CLI, "split", "--follow", dir / "finished.wav", "--idle",
                                "1", "-q", "-o", dir / "finished"});
  EXPECT_EQ(whole.status, 0) << whole.err;
  std::map<std::string, Bytes> finishedParts;
  for (auto& [name, bytes] : PlainSplit(file, {})) finishedParts["finished" + name.substr(6)] = bytes;
  EXPECT_TRUE(PartsIn(dir, "finished") == finishedParts);
  // A file deleted while it is written ends the run, keeping the whole
  // parts it gave, and failing.
  // It is deleted once the program has it open.
  const Bytes unsized = Unsized(file, 0);
  int opened[2];
  ASSERT_EQ(::pipe(opened), 0);
  const pid_t deleter = GrowInAnotherProcess(
      dir / "deleted.wav", Bytes(unsized.begin(), unsized.begin() + 60 * 3000 + 44), [&](int) {
        char go = 0;
        return ::read(opened[0], &go, 1) == 1 && ::unlink((dir / "deleted.wav").c_str()) == 0;
      });
  ASSERT_TRUE(Appears(dir / "deleted.wav", 2000ms));
  fs::create_directory(U8(dir / "deleted"));
  TempDir goneOutputs;
  const int follower = Start(
      {CORVELLA_CLI, "split", "--follow", dir / "deleted.wav", "-q", "-o", dir / "deleted"},
      goneOutputs.path());
  EXPECT_TRUE(HasOpen(follower, dir / "deleted.wav"));
  ASSERT_EQ(::write(opened[1], "x", 1), 1);
  const Ran gone = Finish(follower, goneOutputs.path());
  ::close(opened[0]);
  ::close(opened[1]);
  ::waitpid(deleter, &status, 0);
  EXPECT_EQ(gone.status, 1) << gone.err;
  EXPECT_NE(gone.err.find("the file was deleted while it was followed"), std::string::npos)
      << gone.err;
  // A finished recording shorter than what is held back of a growing file
  // ends once it has been still for a while.
  const Bytes small = Recording({{0.005, 0.005}, {0.005, 0.0}}, 1);
  ASSERT_LT(small.size(), 4096u);
  dir.Put("short.wav", small);
  fs::create_directory(U8(dir / "short"));
  const Ran still = RunProgram({CORVELLA_CLI, "split", "--follow", dir / "short.wav", "-q", "--gap",
                                "0.001", "-o", dir / "short"});
  EXPECT_EQ(still.status, 0) << still.err;
  EXPECT_EQ(dir.Names("short"), (std::vector<std::string>{"short_001.wav", "short_002.wav"}));
  // A pipe is no file to follow.
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const Ran fifo = RunProgram({CORVELLA_CLI, "split", "--follow", dir / "fifo", "-o", dir / "out"});
  EXPECT_EQ(fifo.status, 1);
  EXPECT_NE(fifo.err.find("not a regular file"), std::string::npos) << fifo.err;
}

TEST_F(Live, AFullDestinationFailsThePartsThatDoNotFitAndNeverStopsTheReading) {
  // Parts of about 88, 350 and 44 KB with room for 200 KB a file.
  const Bytes file = Recording({{0.5, 1.0}, {2.0, 1.0}, {0.25, 0.5}});
  Piped cli({"split", "-", "-o", dir / "out"}, outputs.path(), 200000);
  cli.Feed(Unsized(file), 0, file.size(), kRate * 40.0);
  const Ran ran = cli.Wait();
  EXPECT_EQ(ran.status, 1);
  EXPECT_NE(ran.err.find("stream_002.wav: Unable to write output file!"), std::string::npos)
      << ran.err;
  EXPECT_EQ(dir.Names("out"), (std::vector<std::string>{"stream_001.wav", "stream_003.wav"}));
  const auto plain = PlainSplit(file, {});
  EXPECT_EQ(ReadFile(dir / "out/stream_003.wav"), plain.at("stream_003.wav"));
}

TEST_F(Live, NamesTellTheClockTimeEachPartBegan) {
  const Bytes file = Recording({{0.2, 0.1}, {0.2, 0.1}});
  Piped cli(
      {"split", "-", "--name", "radio", "--name-time", "--gap", "0.05", "-q", "-o", dir / "out"},
      outputs.path());
  cli.Feed(Unsized(file), 0, file.size(), kRate * 40.0);
  EXPECT_EQ(cli.Wait().status, 0);
  const auto names = dir.Names("out");
  ASSERT_EQ(names.size(), 2u);
  const std::regex timed(R"(radio_\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d(_2)?\.wav)");
  for (const std::string& name : names) EXPECT_TRUE(std::regex_match(name, timed)) << name;
}

#endif

// An input that never ends, each byte its position, 1000 bytes a read,
// with `pause` between reads.
struct Endless final : stream::Input {
  explicit Endless(std::chrono::microseconds p) : pause(p) {}
  std::int64_t Read(std::uint8_t* buffer, std::int64_t count, const std::atomic<bool>&) override {
    std::this_thread::sleep_for(pause);
    count = std::min<std::int64_t>(count, 1000);
    for (std::int64_t i = 0; i < count; ++i) buffer[i] = static_cast<std::uint8_t>(at++);
    return count;
  }
  std::chrono::microseconds pause;
  std::int64_t at = 0;
};

TEST(Spool, ALiveInputPastTheBoundIsAnErrorAndNoByteIsLost) {
  Endless input(1000us);  // a thousand bytes a millisecond: as fast as it plays
  stream::Spool spool(input, 100000, 0.1, false);
  std::this_thread::sleep_for(500ms);  // nobody takes the bytes meanwhile
  std::vector<std::uint8_t> bytes;
  std::int64_t got = 0;
  stream::Spool::State state;
  while ((state = spool.Next(bytes)) == stream::Spool::State::Bytes ||
         state == stream::Spool::State::Waiting) {
    for (std::uint8_t byte : bytes) ASSERT_EQ(byte, static_cast<std::uint8_t>(got++));
    bytes.clear();
  }
  EXPECT_EQ(state, stream::Spool::State::Overrun);
  EXPECT_GT(got, 100000);
  EXPECT_LE(got, 101000);
}

TEST(Spool, AnInputFasterThanRealTimeWaitsForRoom) {
  for (bool canWait : {false, true}) {
    Endless input(0us);
    // 100 s of audio in 100000 bytes: it comes far faster than it plays.
    stream::Spool spool(input, 100000, canWait ? 0.001 : 100, canWait);
    std::this_thread::sleep_for(200ms);
    EXPECT_LE(spool.Held(), 101000);
    std::vector<std::uint8_t> bytes;
    std::int64_t got = 0;
    for (stream::Spool::State state = stream::Spool::State::Bytes;
         got < 1000000 &&
         (state == stream::Spool::State::Bytes || state == stream::Spool::State::Waiting);
         state = spool.Next(bytes)) {
      for (std::uint8_t byte : bytes) ASSERT_EQ(byte, static_cast<std::uint8_t>(got++));
      bytes.clear();
    }
    EXPECT_GE(got, 1000000);
  }
}

TEST(LiveUsage, WhatNeedsTheWholeRecordingRefusesAStream) {
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"split", "-", "--tracks", "3"}, "--tracks needs the whole recording"},
           {{"split", "-", "--cuts", "c.json"}, "--cuts needs the whole recording"},
           {{"split", "--follow", "a.wav", "--names", "t.txt"}, "--names needs the whole"},
           {{"split", "-", "--to", "flac"}, "--to flac tags each part with the count"},
           {{"split", "-", "b.wav"}, "- reads one recording from stdin"},
           {{"split", "--follow", "a.wav", "b.wav"}, "--follow names the recording"},
           {{"split", "--raw", "44100:2:s16le", "b.wav"}, "--raw is for a recording still"},
           {{"split", "-", "--idle", "3"}, "--idle is for --follow"},
           {{"split"}, "FILE is required"},
           {{"levels", "-"}, "levels needs the whole recording"},
           {{"list", "-f", "svg", "-"}, "list needs the whole recording"},
           {{"count", "-"}, "count needs the whole recording"}}) {
    std::vector<std::string> argv{CORVELLA_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    const Ran ran = RunProgram(argv);
    EXPECT_EQ(ran.status, 2) << args[1];
    EXPECT_NE(ran.err.find(message), std::string::npos) << ran.err;
  }
  const Ran bad = RunProgram({CORVELLA_CLI, "split", "-", "--raw", "44100:2:s16be"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("FORMAT is one of"), std::string::npos) << bad.err;
}

}  // namespace
}  // namespace corvella::test
