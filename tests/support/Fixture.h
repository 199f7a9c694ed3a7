// What the engine tests share: a scratch folder, a progress that records
// what the searches report and lets a test act from inside the event pump,
// and the pipeline put together as the front ends put it together.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>

#include "detect/Params.h"
#include "detect/Progress.h"
#include "support/WavBuilder.h"
#include "wave/FileApi.h"
#include "wave/WaveSource.h"

namespace corvella::test {

// A folder removed with everything in it, read-only parts included.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  std::string Put(const std::string& name, const Bytes& bytes) const {
    WriteFile(*this / name, bytes);
    return *this / name;
  }
  // Names in a folder below it (or in it), sorted, hidden ones included.
  std::vector<std::string> Names(const std::string& below = "") const;

 private:
  std::string path_;
};

class TestProgress : public detect::Progress {
 public:
  void Report(int percent) override { reports.push_back(percent); }
  void Pump() override {
    ++pumps;
    if (onPump) onPump();
  }
  bool StopRequested() override { return cancel; }

  std::vector<int> reports;
  int pumps = 0;
  std::function<void()> onPump;
  bool cancel = false;
};

using detect::PartSpan;

class SourceFixture : public ::testing::Test {
 protected:
  // Writes `file` as `name` in the scratch folder and opens it.
  std::unique_ptr<wave::WaveSource> Open(
      const Bytes& file, const std::string& name = "in.wav",
      wave::Acceptance acceptance = wave::Acceptance::Plain16);
  // Why `file` is refused, as its message ("" when it opens).
  std::string Refusal(const Bytes& file,
                      wave::Acceptance acceptance = wave::Acceptance::Plain16);
  // Alternates the two searches as the walk does; returns every part found.
  std::vector<PartSpan> Walk(wave::Source& source);
  // The window's walk over the scratch folder's file `name`: every refusal,
  // failed read and failed part goes into `messages` as the window's box
  // says it, every part written into `written`. Returns the number of parts.
  int Split(const std::string& name, const std::string& destFolder, bool write,
            wave::FileApi& files = wave::PlatformFiles());
  int Count(const std::string& name) { return Split(name, "", false); }

  TempDir dir;
  TestProgress progress;
  detect::DetectParams params;
  bool mono = false;
  std::vector<std::string> messages, written;
};

// The separator the command line puts between a folder named without one
// (".", "out") and a part's name.
#ifdef _WIN32
inline const std::string kJoin = "\\";
#else
inline const std::string kJoin = "/";
#endif

// Holds an exclusive lock on a file from another process, as another program
// that has the file open would.
class ChildLock {
 public:
  explicit ChildLock(const std::string& path);
  ~ChildLock();
  bool locked = false;

 private:
#ifdef _WIN32
  void* handle_ = nullptr;  // held open without sharing (a HANDLE)
#else
  int child_ = -1;
#endif
};

// Writes `bytes` as `relative` below `base`, making the folders on the way
// one at a time, so the whole path may be longer than the kernel takes.
void WriteDeep(const std::string& base, const std::string& relative, const Bytes& bytes);

// Writes 16-bit interleaved `samples` as a FLAC file, through libsndfile.
void WriteFlac16(const std::string& path, int channels, int rate, const Samples& samples);

// The identity of the file at `path`.
wave::FileId IdOf(const std::string& path);
// Whether another opener could take the file exclusively now.
bool FreeToTake(const std::string& path);

// A program run as a user runs it, with what it printed, how it ended and
// the most memory it held.
struct Ran {
  int status = -1;  // the exit status, or -1 when a signal ended it
  int signal = 0;   // the signal that ended it
  std::string out, err;
  long maxRssKb = 0;
};
// Starts `argv` with its output in files; `closedStdout` gives it a pipe
// whose reader has already gone. Returns the process id.
int Start(const std::vector<std::string>& argv, const std::string& outputs,
          bool closedStdout = false);
// Waits for a program started by Start.
Ran Finish(int pid, const std::string& outputs);
#ifndef _WIN32
// Waits (up to ten seconds) until a program started by Start has set its
// own handler for `signal`: one sent earlier would find the default
// action, as it would for a user who presses Ctrl-C before the program has
// begun. False if it never does.
bool Handles(int pid, int signal);
// Waits (up to ten seconds) until a program started by Start has `path`
// open.
bool HasOpen(int pid, const std::string& path);
#endif
inline Ran RunProgram(const std::vector<std::string>& argv, bool closedStdout = false) {
  TempDir outputs;
  return Finish(Start(argv, outputs.path(), closedStdout), outputs.path());
}

// A path as Windows writes it: backslashes between the folders.
inline std::string Backslashed(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// Runs a shell command line; returns its exit status, what it printed on
// stdout and on stderr.
struct ShellResult {
  int status;
  std::string out, err;
};
ShellResult Shell(const std::string& commandLine);

}  // namespace corvella::test
