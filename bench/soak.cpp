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
#include "batch/PartWalk.h"
#include "detect/Scanner.h"
#include "wave/PartWriter.h"

namespace {

namespace fs = std::filesystem;

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
  corvella::wave::OpenedWave opened =
      corvella::wave::OpenWave(corvella::wave::PlatformFiles(), recording.string(),
                               corvella::wave::Acceptance::Plain16);
  if (!opened.source) return 1;
  corvella::wave::WaveSource& source = *opened.source;
  corvella::wave::Error error;
  auto folder = corvella::wave::Folder::Open(corvella::wave::PlatformFiles(), out.string(), error);
  if (!folder) return 1;
  const int sourceFd = ::open(recording.c_str(), O_RDONLY);  // an independent reader
  const std::int64_t frameBytes = source.Info().FrameBytes();
  const std::string sourceName = recording.filename().string();

  int parts = 0, mismatches = 0, errors = 0;
  long firstKb = 0, peakKb = 0;
  std::vector<char> expected;
  corvella::detect::NoProgress progress;
  corvella::detect::Scanner scanner(source, {}, progress);
  corvella::batch::WalkParts(scanner, [&](const corvella::detect::PartSpan& part, int number) {
    parts = number;
    const std::string name = corvella::batch::PartFileName(sourceName, number);
    if (corvella::wave::WritePart(source, part.start, part.end, *folder, name, {})) ++errors;
    const std::string path = (out / name).string();
    const std::vector<char> written = ReadAll(path);
    const auto bytes = static_cast<std::size_t>((part.end - part.start) * frameBytes);
    expected.resize(bytes);
    const bool read =
        ::pread(sourceFd, expected.data(), bytes, source.DataOffset() + part.start * frameBytes) ==
        static_cast<ssize_t>(bytes);
    if (!read || written.size() != 44 + bytes ||
        !std::equal(expected.begin(), expected.end(), written.begin() + 44)) {
      ++mismatches;
      std::fprintf(stderr, "soak: part %d differs from frames %lld to %lld\n", parts,
                   static_cast<long long>(part.start), static_cast<long long>(part.end));
    }
    fs::remove(path);
    const long kb = ResidentKb();
    if (parts == 1) firstKb = kb;
    peakKb = std::max(peakKb, kb);
    if (parts % 250 == 0) std::printf("part %5d  resident %6ld KiB\n", parts, kb);
  });
  opened.source.reset();
  const long lastKb = ResidentKb();
  std::printf(
      "%d parts checked, %d differing, %d engine errors; resident memory %ld KiB at the "
      "first part, %ld KiB at the end, %ld KiB at most\n",
      parts, mismatches, errors, firstKb, lastKb, peakKb);
  const int wanted = argc > 3 ? std::atoi(argv[3]) : parts;
  const bool flat = peakKb - firstKb < 1024;
  if (!flat) std::printf("memory grew by %ld KiB\n", peakKb - firstKb);
  return mismatches == 0 && errors == 0 && parts == wanted && flat ? 0 : 1;
}
