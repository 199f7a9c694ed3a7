// Arbitrary bytes through the whole engine: open, walk with both searches,
// write every part found, with and without Mono. Every part must read back
// as a valid file whose sizes match its length and whose samples are the
// source's frames (or their mix); where nothing follows the data chunk, the
// parts must be exactly those of the plain detection model.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "batch/OutputName.h"
#include "engine/Engine.h"
#include "support/Model.h"

namespace {

namespace fs = std::filesystem;
using corvella::Engine;

#define CHECK(condition)                                                     \
  do {                                                                       \
    if (!(condition)) {                                                      \
      std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #condition); \
      std::abort();                                                          \
    }                                                                        \
  } while (0)

class FuzzHost : public corvella::EngineHost {
 public:
  void ShowMessage(const std::string& text, const std::string& caption) override {
    messages.push_back(text);
    CHECK(caption == corvella::msg::kErrorCaption);
  }
  void SetProgress(int) override {}
  void ProcessMessages() override {}
  bool CancelDown() override { return false; }
  bool MonoChecked() override { return mono; }
  std::string SourceFolder() override { return folder; }
  std::string DestFolder() override { return folder + "/out"; }
  std::vector<std::string> messages;
  std::string folder;
  bool mono = false;
};

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint16_t Le16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::vector<std::uint8_t> Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Checks a written part against frames [start, end) of the source bytes.
void CheckPart(const std::string& path, const std::uint8_t* source, const Engine& e,
               std::int64_t start, std::int64_t end, bool mono) {
  const std::vector<std::uint8_t> part = Slurp(path);
  const int channels = mono ? 1 : e.Channels;
  const std::size_t dataBytes = static_cast<std::size_t>((end - start) * channels * 2);
  CHECK(part.size() == 44 + dataBytes);
  CHECK(std::string(part.begin(), part.begin() + 4) == "RIFF");
  CHECK(Le32(part, 4) == part.size() - 8);
  CHECK(std::string(part.begin() + 8, part.begin() + 16) == "WAVEfmt ");
  CHECK(Le32(part, 16) == 16 && Le16(part, 20) == 1 && Le16(part, 22) == channels);
  CHECK(Le32(part, 24) == static_cast<std::uint32_t>(e.SamplesPerSec));
  CHECK(Le32(part, 28) == static_cast<std::uint32_t>(e.SamplesPerSec * channels * 2));
  CHECK(Le16(part, 32) == channels * 2 && Le16(part, 34) == 16);
  CHECK(std::string(part.begin() + 36, part.begin() + 40) == "data" && Le32(part, 40) == dataBytes);
  const std::uint8_t* frames = source + e.DataOffset + start * e.Channels * 2;
  for (std::int64_t f = 0; f < end - start; ++f) {
    const std::uint8_t* in = frames + f * e.Channels * 2;
    const std::uint8_t* out = part.data() + 44 + f * channels * 2;
    if (mono && e.Channels == 2) {
      const auto left = static_cast<std::int16_t>(in[0] | (in[1] << 8));
      const auto right = static_cast<std::int16_t>(in[2] | (in[3] << 8));
      const auto mixed = static_cast<std::int16_t>((left + right) / 2);
      CHECK(static_cast<std::int16_t>(out[0] | (out[1] << 8)) == mixed);
    } else {
      for (int b = 0; b < channels * 2; ++b) CHECK(out[b] == in[b]);
    }
  }
}

std::string Scratch() {
  static const std::string folder = [] {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path dir = base / ("corvella-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(dir / "out");
    return dir.string();
  }();
  return folder;
}

}  // namespace

// The engine moves the process's current folder; the fuzzer reads its corpus
// by relative names, so every input puts the folder back.
class KeepFolder {
 public:
  KeepFolder() : folder_(fs::current_path()) {}
  ~KeepFolder() { fs::current_path(folder_); }

 private:
  fs::path folder_;
};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const KeepFolder keep;
  const std::string folder = Scratch();
  {
    std::ofstream file(folder + "/in.wav", std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  // The last two bytes choose the parameters, so the fuzzer explores them too.
  const int noiseFloor = size > 0 ? 1 + data[size - 1] * 40 : 104;
  const int gapThreshold = size > 1 ? 1 + data[size - 2] % 64 : 22050;

  for (bool mono : {false, true}) {
    FuzzHost host;
    host.folder = folder;
    host.mono = mono;
    Engine engine(host);
    engine.NoiseFloor = noiseFloor;
    engine.GapThreshold = gapThreshold;
    if (!engine.OpenWave("in.wav")) {
      CHECK(host.messages.size() == 1 && engine.WaveHandle == nullptr && engine.WaveFormat == nullptr);
      return 0;
    }
    CHECK(engine.Channels == 1 || engine.Channels == 2);
    CHECK(engine.DataOffset + engine.DataSize <= static_cast<std::int64_t>(size));
    const std::int64_t frames = engine.FrameCount();

    std::vector<corvella::test::Span> spans;
    std::int64_t scan = 0;
    bool endOfData = false;
    for (int k = 1;; ++k) {
      const std::int64_t start = engine.FindPartStart(scan, endOfData);
      if (endOfData) {
        CHECK(start == frames);
        break;
      }
      const std::int64_t end = engine.FindPartEnd(start, scan, endOfData);
      CHECK(0 <= start && start < end && end <= frames);
      CHECK(spans.empty() || spans.back().end <= start);
      spans.push_back({start, end});
      const std::string path = corvella::BuildOutputPath(folder + "/out", engine.WaveFileName, k);
      CHECK(engine.WritePart(start, end, path));
      CheckPart(path, data, engine, start, end, mono);
      fs::remove(path);
      if (endOfData) break;
    }
    CHECK(host.messages.empty());

    // Where nothing follows the data, the parts are those of the plain rule.
    if (engine.DataOffset + engine.DataSize == static_cast<std::int64_t>(size)) {
      std::vector<std::int16_t> samples(static_cast<std::size_t>(frames * engine.Channels));
      for (std::size_t i = 0; i < samples.size(); ++i) {
        const std::uint8_t* p = data + engine.DataOffset + 2 * i;
        samples[i] = static_cast<std::int16_t>(p[0] | (p[1] << 8));
      }
      CHECK(corvella::test::ModelParts(samples, engine.Channels, noiseFloor, engine.GapFrames()) == spans);
    }
    engine.CloseWave();

    // The walk itself agrees with the searches.
    CHECK(engine.ProcessParts("in.wav", host.DestFolder(), mono) == static_cast<int>(spans.size()));
    for (const auto& entry : fs::directory_iterator(host.DestFolder())) fs::remove(entry.path());
    CHECK(host.messages.empty());
  }
  return 0;
}
