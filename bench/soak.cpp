// A long split checked as it goes: every part of a long recording is read
// back as soon as it is written and compared with the source's frames, and
// the resident memory is sampled from the first part to the last.
//   soak RECORDING OUTPUT_FOLDER [EXPECTED_PARTS]
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "batch/OutputName.h"
#include "engine/Engine.h"

namespace {

namespace fs = std::filesystem;

class SoakHost : public corvella::EngineHost {
 public:
  void ShowMessage(const std::string& text, const std::string&) override {
    std::fprintf(stderr, "soak: engine says: %s\n", text.c_str());
    ++errors;
  }
  void SetProgress(int) override {}
  void ProcessMessages() override {}
  bool CancelDown() override { return false; }
  bool MonoChecked() override { return false; }
  std::string SourceFolder() override { return source; }
  std::string DestFolder() override { return dest; }
  std::string source, dest;
  int errors = 0;
};

long ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::vector<char> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: soak RECORDING OUTPUT_FOLDER [EXPECTED_PARTS]\n");
    return 2;
  }
  const fs::path recording = fs::absolute(argv[1]);
  const fs::path out = fs::absolute(argv[2]);
  fs::create_directories(out);
  SoakHost host;
  host.source = recording.parent_path().string();
  host.dest = out.string();
  corvella::Engine engine(host);
  engine.NoiseFloor = 104;
  engine.GapThreshold = 22050;
  if (!engine.OpenWave(recording.filename().string())) return 1;
  const int sourceFd = ::open(recording.c_str(), O_RDONLY);  // an independent reader

  int parts = 0, mismatches = 0;
  long firstKb = 0, peakKb = 0;
  std::int64_t scan = 0;
  bool endOfData = false;
  std::vector<char> expected;
  while (true) {
    const std::int64_t start = engine.FindPartStart(scan, endOfData);
    if (endOfData) break;
    const std::int64_t end = engine.FindPartEnd(start, scan, endOfData);
    ++parts;
    const std::string path = corvella::BuildOutputPath(host.dest, engine.WaveFileName, parts);
    engine.WritePart(start, end, path);
    const std::vector<char> part = ReadAll(path);
    const auto bytes = static_cast<std::size_t>((end - start) * engine.Channels * 2);
    expected.resize(bytes);
    const bool read = ::pread(sourceFd, expected.data(), bytes,
                              engine.DataOffset + start * engine.Channels * 2) ==
                      static_cast<ssize_t>(bytes);
    if (!read || part.size() != 44 + bytes ||
        !std::equal(expected.begin(), expected.end(), part.begin() + 44)) {
      ++mismatches;
      std::fprintf(stderr, "soak: part %d differs from frames %lld to %lld\n", parts,
                   static_cast<long long>(start), static_cast<long long>(end));
    }
    fs::remove(path);
    const long kb = ResidentKb();
    if (parts == 1) firstKb = kb;
    peakKb = std::max(peakKb, kb);
    if (parts % 250 == 0) std::printf("part %5d  resident %6ld KiB\n", parts, kb);
    if (endOfData) break;
  }
  engine.CloseWave();
  const long lastKb = ResidentKb();
  std::printf("%d parts checked, %d differing, %d engine errors; resident memory %ld KiB at the "
              "first part, %ld KiB at the end, %ld KiB at most\n",
              parts, mismatches, host.errors, firstKb, lastKb, peakKb);
  const int wanted = argc > 3 ? std::atoi(argv[3]) : parts;
  const bool flat = peakKb - firstKb < 1024;
  if (!flat) std::printf("memory grew by %ld KiB\n", peakKb - firstKb);
  return mismatches == 0 && host.errors == 0 && parts == wanted && flat ? 0 : 1;
}
