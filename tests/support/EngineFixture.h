// What the engine tests share: a scratch folder, a host that records what
// the engine shows and lets a test act from inside its event pump, and an
// engine pointed at the folder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "engine/Engine.h"
#include "support/WavBuilder.h"

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

class TestHost : public EngineHost {
 public:
  void ShowMessage(const std::string& text, const std::string&) override { messages.push_back(text); }
  void SetProgress(int position) override { progress.push_back(position); }
  void ProcessMessages() override {
    ++pumps;
    if (onPump) onPump();
  }
  bool CancelDown() override { return cancel; }
  bool MonoChecked() override { return mono; }
  std::string SourceFolder() override { return sourceFolder; }
  std::string DestFolder() override { return destFolder; }
  void PartWritten(const std::string& path, bool) override { written.push_back(path); }

  std::vector<std::string> messages, written;
  std::vector<int> progress;
  int pumps = 0;
  std::function<void()> onPump;
  bool cancel = false, mono = false;
  std::string sourceFolder, destFolder;
};

class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    host.sourceFolder = host.destFolder = dir.path();
    engine.NoiseFloor = 104;
    engine.GapThreshold = 22050;
  }
  bool Open(const Bytes& file, const std::string& name = "in.wav") {
    dir.Put(name, file);
    return engine.OpenWave(name);
  }
  // Alternates the two searches as the walk does; returns every part found.
  std::vector<PartSpan> Walk(Engine& e) {
    std::vector<PartSpan> parts;
    std::int64_t scan = 0;
    bool endOfData = false;
    while (true) {
      const std::int64_t start = e.FindPartStart(scan, endOfData);
      if (endOfData) return parts;
      parts.push_back({start, e.FindPartEnd(start, scan, endOfData)});
      if (endOfData) return parts;
    }
  }

  TempDir dir;
  TestHost host;
  Engine engine{host};
};

// Holds an exclusive lock on a file from another process, as another program
// that has the file open would.
class ChildLock {
 public:
  explicit ChildLock(const std::string& path);
  ~ChildLock();
  bool locked = false;

 private:
  int child_ = -1;
};

// Runs a shell command line; returns its exit status, what it printed on
// stdout and on stderr.
struct ShellResult {
  int status;
  std::string out, err;
};
ShellResult Shell(const std::string& commandLine);

}  // namespace corvella::test
