// Arbitrary bytes through the one door every recording comes in by, held in
// memory: whatever opens is read to its end, a second reader forked from it
// reads a stretch again and must agree, and one part is written in the
// source's own format. A FLAC stream read through without a failure must
// give exactly what libFLAC's own decoding of the same bytes gives: read
// whole and right, or refused, never silently wrong.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formats/Formats.h"
#include "support/FlacMaker.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvella;
  MemoryFiles files;
  const Bytes input(data, data + size);
  files.Put("in/in.rec", input);
  const bool salvage = size > 0 && (data[size - 1] & 1);
  formats::OpenedSource opened = formats::OpenSource(files, "in/in.rec", {salvage});
  if (!opened.source) {
    CHECK(opened.error.code != wave::ErrorCode::None);
    return 0;
  }
  wave::Source& source = *opened.source;
  const wave::SourceInfo& info = source.Info();
  CHECK(info.channels >= 1 && info.channels <= 64);
  CHECK(info.frames >= 0 && info.rate >= 0);
  const std::int64_t frameBytes = info.FrameBytes();
  CHECK(frameBytes > 0);
  if (!info.plain16) {
    CHECK(info.extentBytes >= info.frames * frameBytes);
    CHECK(info.extentBytes < (info.frames + 1) * frameBytes);
  }
  // Frames are read whole, or the read fails; a recording of millions of
  // frames in a few kilobytes (a lossy decoder's promise) is read in part.
  const std::int64_t frames = std::min<std::int64_t>(info.frames, 1 << 16);
  std::vector<std::uint8_t> all(static_cast<std::size_t>(frames * frameBytes));
  bool whole = true;
  for (std::int64_t at = 0; at < frames && whole;) {
    const std::int64_t count = std::min<std::int64_t>(frames - at, 4096);
    const std::int64_t got =
        source.ReadSamples(at * frameBytes, all.data() + at * frameBytes, count * frameBytes);
    whole = got == count * frameBytes;
    at += count;
  }
  if (!whole) return 0;

  if (info.container == "FLAC") {
    CHECK(info.bits >= 4 && info.bits <= 32 && info.channels <= 8);
    // libFLAC's own decoding of the bytes agrees with every sample read.
    const test::DecodedFlac yardstick = test::DecodeFlac(input);
    CHECK(yardstick.samples.size() >= static_cast<std::size_t>(frames * info.channels));
    for (std::size_t i = 0; i < static_cast<std::size_t>(frames * info.channels); ++i) {
      std::int32_t read;
      std::memcpy(&read, all.data() + 4 * i, 4);
      CHECK((read >> (32 - info.bits)) == yardstick.samples[i]);
    }
  }

  // A second reader, as a writer thread has, reads a stretch alike. (A lossy
  // decoder's seek is its own: in a damaged MP3 it resynchronises elsewhere
  // than a decoding from the start does.)
  const bool lossy =
      info.container == "MP3" || info.container == "Ogg Vorbis" || info.container == "Opus";
  if (source.Sequential() && frames > 0 && !lossy) {
    std::unique_ptr<wave::Source> fork = source.Fork();
    CHECK(fork);
    const std::int64_t from = frames / 3, count = std::min<std::int64_t>(frames - from, 5000);
    std::vector<std::uint8_t> again(static_cast<std::size_t>(count * frameBytes));
    CHECK(fork->ReadSamples(from * frameBytes, again.data(), count * frameBytes) ==
          count * frameBytes);
    CHECK(std::memcmp(again.data(), all.data() + from * frameBytes, again.size()) == 0);
  }

  // One part in the source's own format, from a third of the way in.
  formats::PartPlan plan;
  std::vector<std::string> notes;
  if (formats::PartPlan::Make(source, {}, plan, notes) || frames == 0) return 0;
  wave::Error error;
  auto folder = wave::Folder::Open(files, "out", error);
  CHECK(folder);
  const std::int64_t start = frames / 3, end = std::min(frames, start + 3000);
  if (start >= end) return 0;
  const wave::Error written =
      plan.Write(source, {start, end, "part", 1, 1, std::nullopt}, *folder, nullptr, {});
  CHECK(!written);
  if (info.container == "FLAC") {
    const test::DecodedFlac part = test::DecodeFlac(*files.Get("out/part"));
    CHECK(part.clean && part.md5Matched && part.bits == info.bits);
    CHECK(part.samples.size() == static_cast<std::size_t>((end - start) * info.channels));
    for (std::size_t i = 0; i < part.samples.size(); ++i) {
      std::int32_t read;
      std::memcpy(&read, all.data() + start * frameBytes + 4 * static_cast<std::int64_t>(i), 4);
      CHECK((read >> (32 - info.bits)) == part.samples[i]);
    }
  }
  return 0;
}
