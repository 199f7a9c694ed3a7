// Arbitrary bytes through the whole engine, held in memory: open as the
// command line opens (every WAV layout, the window's format read as the
// window reads it), walk with both searches, write every part found, with
// and without Mono. Every part must read back as a valid file whose sizes
// match its length and whose samples are the source's frames (or, for the
// window's format, their mix); where only the data are judged, the parts
// must be exactly those of the plain detection model.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "batch/OutputName.h"
#include "batch/PartWalk.h"
#include "batch/Plan.h"
#include "detect/Scanner.h"
#include "detect/Units.h"
#include "stream/LiveSplit.h"
#include "stream/StreamShape.h"
#include "support/Model.h"
#include "wave/ByteOrder.h"
#include "wave/MemoryFiles.h"
#include "wave/PartWriter.h"

namespace {

using corvella::wave::MemoryFiles;
using Bytes = std::vector<std::uint8_t>;

#define CHECK(condition)                                                           \
  do {                                                                             \
    if (!(condition)) {                                                            \
      std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #condition); \
      std::abort();                                                                \
    }                                                                              \
  } while (0)

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint16_t Le16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint64_t Le64(const Bytes& b, std::size_t at) {
  return Le32(b, at) | (static_cast<std::uint64_t>(Le32(b, at + 4)) << 32);
}

// Whether a part from `start` on cannot carry the source's broadcast chunk:
// its time reference (bytes 338-345 of the body) plus `start` would pass
// the largest 64-bit count.
bool TimeReferenceOverflows(corvella::wave::WaveSource& source, const std::uint8_t* data,
                            std::int64_t start) {
  for (const corvella::wave::ChunkPlace& place : source.Chunks()) {
    if (place.id != corvella::wave::FourCC("bext") || place.size < 338 + 8) continue;
    std::uint64_t reference = 0;
    for (int i = 7; i >= 0; --i) reference = reference << 8 | data[place.offset + 338 + i];
    return reference > ~std::uint64_t{0} - static_cast<std::uint64_t>(start);
  }
  return false;
}

// Checks a written part: RIFF, WAVE, a fmt chunk, a data chunk holding the
// part's frames (or the same in Wave64's GUIDs for a Wave64 source); for
// the window's format the 44-byte header of the window.
void CheckPart(const Bytes& part, const corvella::wave::WaveSource& source,
               const std::uint8_t* frames, std::int64_t start, std::int64_t end, bool mono) {
  using corvella::wave::kW64Riff;
  using corvella::wave::kW64Tail;
  const auto& info = source.Info();
  const int width = corvella::wave::BytesOf(info.sampleType);
  const bool mixed = mono && info.channels > 1;
  const int out = mixed ? 1 : info.channels;
  const std::size_t dataBytes = static_cast<std::size_t>((end - start) * out * width);
  std::size_t fmtAt = 20, dataAt = 0;
  std::uint64_t formatSize = 0;
  if (source.Layout() == corvella::wave::Layout::Wave64) {
    auto guid = [&](std::size_t at, const char* id) {
      return std::memcmp(part.data() + at, id, 4) == 0 &&
             std::memcmp(part.data() + at + 4, kW64Tail, 12) == 0;
    };
    CHECK(part.size() >= 40 + 24 + 24 && std::memcmp(part.data(), kW64Riff, 16) == 0);
    CHECK(Le64(part, 16) == part.size() && guid(24, "wave") && guid(40, "fmt "));
    formatSize = Le64(part, 56) - 24;
    fmtAt = 64;
    const std::size_t next = (64 + formatSize + 7) / 8 * 8;
    CHECK(next + 24 <= part.size() && guid(next, "data"));
    CHECK(Le64(part, next + 16) == dataBytes + 24);
    dataAt = next + 24;
    CHECK(dataAt + dataBytes == part.size());
  } else {
    CHECK(part.size() >= 44 && std::string(part.begin(), part.begin() + 4) == "RIFF");
    CHECK(Le32(part, 4) == part.size() - 8);
    CHECK(std::string(part.begin() + 8, part.begin() + 16) == "WAVEfmt ");
    formatSize = Le32(part, 16);
    dataAt = 20 + formatSize + (formatSize & 1) + 8;
    CHECK(dataAt + dataBytes + (dataBytes & 1) == part.size());
    CHECK(std::string(part.begin() + static_cast<std::ptrdiff_t>(dataAt) - 8,
                      part.begin() + static_cast<std::ptrdiff_t>(dataAt) - 4) == "data");
    CHECK(Le32(part, dataAt - 4) == dataBytes);
  }
  CHECK(Le16(part, fmtAt + 2) == out && Le16(part, fmtAt + 12) == out * width);
  CHECK(Le32(part, fmtAt + 4) == static_cast<std::uint32_t>(info.rate));
  if (info.plain16) {
    CHECK(formatSize == 16 && Le16(part, 20) == 1 && Le16(part, 34) == 16);
    CHECK(Le32(part, 28) == static_cast<std::uint32_t>(info.rate * out * 2));
  } else {
    // The source's fmt chunk, repeated but for the fields of one channel.
    const Bytes& format = source.Format().bytes;
    CHECK(formatSize == format.size());
    for (std::size_t i = 0; i < format.size(); ++i) {
      const bool patched =
          mixed && ((i >= 2 && i < 4) || (i >= 8 && i < 14) || (i >= 20 && i < 24));
      CHECK(patched || part[fmtAt + i] == format[i]);
    }
  }
  const std::size_t frameBytes = static_cast<std::size_t>(info.channels * width);
  for (std::int64_t f = 0; f < end - start; ++f) {
    const std::uint8_t* in = frames + static_cast<std::size_t>(start + f) * frameBytes;
    const std::uint8_t* written = part.data() + dataAt + static_cast<std::size_t>(f * out * width);
    if (mixed && info.plain16) {
      const auto left = static_cast<std::int16_t>(in[0] | (in[1] << 8));
      const auto right = static_cast<std::int16_t>(in[2] | (in[3] << 8));
      CHECK(static_cast<std::int16_t>(written[0] | (written[1] << 8)) ==
            static_cast<std::int16_t>((left + right) / 2));
    } else if (!mixed) {
      for (std::size_t b = 0; b < frameBytes; ++b) CHECK(written[b] == in[b]);
    }
  }
}

// Names parts as the walk above does.
struct Numbered final : corvella::stream::LiveListener {
  std::string NameFor(int number, std::int64_t) override {
    return corvella::batch::PartFileName("in.wav", number);
  }
  void Written(const corvella::stream::LivePart&) override {}
  void Failed(const corvella::stream::LivePart&, const corvella::wave::Error&) override {
    CHECK(false);
  }
};

// The frames fed to a live split in pieces of `piece` frames, with padding
// and a shortest part: its parts are those the plan writes of the whole.
void CheckLive(MemoryFiles& files, corvella::wave::WaveSource& source, const std::uint8_t* frames,
               const corvella::detect::DetectParams& params, std::int64_t piece,
               const corvella::batch::PlanOptions& plan) {
  using namespace corvella;
  detect::NoProgress progress;
  detect::Scanner scanner(source, params, progress);
  batch::WalkResult walk;
  const auto found = batch::FindParts(scanner, walk);
  const auto parts = batch::PlanParts(found, source.Info().frames, plan);
  wave::Error error;
  auto wholeFolder = wave::Folder::Open(files, "whole", error);
  auto liveFolder = wave::Folder::Open(files, "live", error);
  for (std::size_t k = 0; k < parts.size(); ++k) {
    CHECK(!wave::WritePart(source, parts[k].start, parts[k].end, *wholeFolder,
                           batch::PartFileName("in.wav", static_cast<int>(k) + 1), {}));
  }
  Numbered names;
  stream::LiveSplit split(source, {params, plan, {}}, *liveFolder, names);
  const std::int64_t frameBytes = source.Info().FrameBytes();
  for (std::int64_t at = 0; at < source.Info().frames; at += piece) {
    split.Take(frames + at * frameBytes, std::min(piece, source.Info().frames - at));
  }
  split.Finish();
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const std::string name = batch::PartFileName("in.wav", static_cast<int>(k) + 1);
    const auto* live = files.Get("live/" + name);
    CHECK(live && *live == *files.Get("whole/" + name));
    files.Erase("live/" + name);
    files.Erase("whole/" + name);
  }
  CHECK(files.Paths() == std::vector<std::string>{"in/in.wav"});
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

  wave::OpenedWave opened = wave::OpenWave(files, "in/in.wav", wave::Acceptance::AnyWave);
  if (!opened.source) {
    CHECK(opened.error.code != wave::ErrorCode::None);
    return 0;
  }
  wave::WaveSource& source = *opened.source;
  const wave::SourceInfo& info = source.Info();
  const int width = wave::BytesOf(info.sampleType);
  CHECK(info.channels >= 1 && info.channels <= 64);
  CHECK(source.DataOffset() + source.DataBytes() <= static_cast<std::int64_t>(size));
  CHECK(info.frames == source.DataBytes() / (info.channels * width));
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
          options.keepMetadata = mono;
          if (mono) {
            // Carrying a broadcast chunk moves its time reference on to the
            // part; one that would pass the largest there is refuses the part.
            const wave::Error written =
                wave::WritePart(source, part.start, part.end, *folder, name, options);
            CHECK(static_cast<bool>(written) == TimeReferenceOverflows(source, data, part.start));
            if (written) {
              CHECK(written.code == wave::ErrorCode::UnableToWrite);
              CHECK(!files.Get("out/" + name));
              return;
            }
          } else {
            CHECK(!wave::WritePart(source, part.start, part.end, *folder, name, options));
            CheckPart(*files.Get("out/" + name), source, frames, part.start, part.end, false);
          }
          if (mono && source.Metadata().empty())
            CheckPart(*files.Get("out/" + name), source, frames, part.start, part.end, true);
          files.Erase("out/" + name);
        });
    CHECK(!walk.readFailed && !walk.stopped && walk.parts == static_cast<int>(found.size()));
    CHECK(spans.empty() || spans == found);
    spans = found;
  }
  CHECK(files.Paths() == std::vector<std::string>{"in/in.wav"});

  // Where only the data are judged, the parts are those of the plain rule.
  if (!info.plain16 ||
      source.DataOffset() + source.DataBytes() == static_cast<std::int64_t>(size)) {
    std::vector<bool> loud(static_cast<std::size_t>(info.frames), false);
    for (std::size_t i = 0; i < loud.size() * static_cast<std::size_t>(info.channels); ++i) {
      if (test::LoudStoredSample(frames + i * static_cast<std::size_t>(width), width,
                                 wave::IsFloat(info.sampleType), params.noiseFloor)) {
        loud[i / static_cast<std::size_t>(info.channels)] = true;
      }
    }
    const std::int64_t gap = detect::GapFrames(params.gapThreshold, info.rate);
    CHECK(test::ModelParts(loud, gap) == spans);
    // As it would arrive: the same parts, byte for byte, clicks taken out
    // or not.
    const std::uint8_t knob = size > 2 ? data[size - 3] : 0;
    detect::DetectParams live = params;
    live.ignoreClicksMs = knob % 13 < 3 ? knob % 13 : 0;
    CheckLive(files, source, frames, live, 1 + knob % 5 * 37,
              {knob % 3 * gap / 2, knob % 7 * gap / 3, knob % 11 * gap / 4});
  }
  // A stream's header read from the same bytes in two pieces: what it takes
  // is what the file reader takes.
  stream::HeaderReader header;
  const std::size_t first = size / 3;
  auto state = header.Take(data, first);
  if (state == stream::HeaderReader::State::NeedMore)
    state = header.Take(data + first, size - first);
  if (state == stream::HeaderReader::State::Done && source.Layout() == wave::Layout::Riff) {
    const stream::StreamShape shape = header.TakeShape();
    CHECK(shape.dataOffset == source.DataOffset());
    CHECK(shape.Info().channels == info.channels && shape.Info().rate == info.rate);
    CHECK(shape.Info().sampleType == info.sampleType);
  }
  return 0;
}
