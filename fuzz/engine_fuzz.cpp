// Arbitrary bytes through the whole engine, held in memory: open, walk with
// both searches, write every part found, with and without Mono. Every part
// must read back as a valid file whose sizes match its length and whose
// samples are the source's frames (or their mix); where nothing follows the
// data chunk, the parts must be exactly those of the plain detection model.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "batch/OutputName.h"
#include "batch/PartWalk.h"
#include "detect/Scanner.h"
#include "detect/Units.h"
#include "support/Model.h"
#include "wave/MemoryFiles.h"
#include "wave/PartWriter.h"

namespace {

using corvella::wave::MemoryFiles;

#define CHECK(condition)                                                           \
  do {                                                                             \
    if (!(condition)) {                                                            \
      std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #condition); \
      std::abort();                                                                \
    }                                                                              \
  } while (0)

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint16_t Le16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

// Checks a written part against frames [start, end) of the source bytes.
void CheckPart(const std::vector<std::uint8_t>& part, const std::uint8_t* frames, int channels,
               std::int64_t rate, std::int64_t start, std::int64_t end, bool mono) {
  const int out = mono ? 1 : channels;
  const std::size_t dataBytes = static_cast<std::size_t>((end - start) * out * 2);
  CHECK(part.size() == 44 + dataBytes);
  CHECK(std::string(part.begin(), part.begin() + 4) == "RIFF");
  CHECK(Le32(part, 4) == part.size() - 8);
  CHECK(std::string(part.begin() + 8, part.begin() + 16) == "WAVEfmt ");
  CHECK(Le32(part, 16) == 16 && Le16(part, 20) == 1 && Le16(part, 22) == out);
  CHECK(Le32(part, 24) == static_cast<std::uint32_t>(rate));
  CHECK(Le32(part, 28) == static_cast<std::uint32_t>(rate * out * 2));
  CHECK(Le16(part, 32) == out * 2 && Le16(part, 34) == 16);
  CHECK(std::string(part.begin() + 36, part.begin() + 40) == "data" && Le32(part, 40) == dataBytes);
  for (std::int64_t f = 0; f < end - start; ++f) {
    const std::uint8_t* in = frames + (start + f) * channels * 2;
    const std::uint8_t* written = part.data() + 44 + f * out * 2;
    if (mono && channels == 2) {
      const auto left = static_cast<std::int16_t>(in[0] | (in[1] << 8));
      const auto right = static_cast<std::int16_t>(in[2] | (in[3] << 8));
      CHECK(static_cast<std::int16_t>(written[0] | (written[1] << 8)) ==
            static_cast<std::int16_t>((left + right) / 2));
    } else {
      for (int b = 0; b < out * 2; ++b) CHECK(written[b] == in[b]);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvella;
  MemoryFiles files;
  files.Put("in/in.wav", {data, data + size});
  // The last two bytes choose the parameters, so the fuzzer explores them too.
  detect::DetectParams params;
  params.noiseFloor = size > 0 ? 1 + data[size - 1] * 40 : 104;
  params.gapThreshold = size > 1 ? 1 + data[size - 2] % 64 : 22050;

  wave::OpenedWave opened = wave::OpenWave(files, "in/in.wav", wave::Acceptance::WindowFormat);
  if (!opened.source) {
    CHECK(opened.error.code != wave::ErrorCode::None);
    return 0;
  }
  wave::WaveSource& source = *opened.source;
  const wave::SourceInfo& info = source.Info();
  CHECK(info.channels == 1 || info.channels == 2);
  CHECK(source.DataOffset() + source.DataBytes() <= static_cast<std::int64_t>(size));
  const std::uint8_t* frames = data + source.DataOffset();
  wave::Error error;
  auto folder = wave::Folder::Open(files, "out", error);
  CHECK(folder);

  std::vector<test::Span> spans;
  for (bool mono : {false, true}) {
    detect::NoProgress progress;
    detect::Scanner scanner(source, params, progress);
    std::vector<test::Span> found;
    const batch::WalkResult walk =
        batch::WalkParts(scanner, [&](const detect::PartSpan& part, int number) {
          CHECK(0 <= part.start && part.start < part.end && part.end <= info.frames);
          CHECK(found.empty() || found.back().end <= part.start);
          found.push_back({part.start, part.end});
          const std::string name = batch::PartFileName("in.wav", number);
          wave::WriteOptions options;
          options.mono = mono;
          CHECK(!wave::WritePart(source, part.start, part.end, *folder, name, options));
          CheckPart(*files.Get("out/" + name), frames, info.channels, info.rate, part.start,
                    part.end, mono);
          files.Erase("out/" + name);
        });
    CHECK(!walk.readFailed && !walk.stopped && walk.parts == static_cast<int>(found.size()));
    CHECK(spans.empty() || spans == found);
    spans = found;
  }
  CHECK(files.Paths() == std::vector<std::string>{"in/in.wav"});

  // Where nothing follows the data, the parts are those of the plain rule.
  if (source.DataOffset() + source.DataBytes() == static_cast<std::int64_t>(size)) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(info.frames * info.channels));
    for (std::size_t i = 0; i < samples.size(); ++i) {
      samples[i] = static_cast<std::int16_t>(frames[2 * i] | (frames[2 * i + 1] << 8));
    }
    const std::int64_t gap = detect::GapFrames(params.gapThreshold, info.rate);
    CHECK(test::ModelParts(samples, info.channels, params.noiseFloor, gap) == spans);
  }
  return 0;
}
