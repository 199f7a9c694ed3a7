// Arbitrary bytes (FLAC metadata also changed a block at a time) through
// the one door every recording comes in by, held in memory: whatever opens is read to its end, a second reader forked from it
// reads a stretch again and must agree, and one part is written in the
// source's own format. A FLAC stream read through without a failure must
// give exactly what libFLAC's own decoding of the same bytes gives: read
// whole and right, or refused, never silently wrong.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
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

// Where the bytes after any ID3v2 tags at the start begin.
std::size_t PastTags(const Bytes& bytes) {
  std::size_t at = 0;
  for (int tags = 0; tags < 16 && bytes.size() >= at + 10 && std::memcmp(&bytes[at], "ID3", 3) == 0;
       ++tags) {
    const bool footer = bytes[at + 5] & 0x10;
    at += 10 + ((bytes[at + 6] & 0x7F) << 21 | (bytes[at + 7] & 0x7F) << 14 |
                (bytes[at + 8] & 0x7F) << 7 | (bytes[at + 9] & 0x7F));
    if (footer) at += 10;
  }
  return std::min(at, bytes.size());
}

struct Block {
  std::uint8_t type;
  Bytes body;
  std::uint32_t said;  // the length its header gives
};

}  // namespace

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

// Now and then a FLAC stream's metadata is changed a block at a time, as
// files from careless programs change it: a block given twice, two blocks
// in each other's place, a length that lies, the last-block flag on
// another block, a block of another type; else libFuzzer's own changes.
extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t maxSize, unsigned int seed) {
  std::minstd_rand random(seed);
  const Bytes input(data, data + size);
  const std::size_t start = PastTags(input);
  if (random() % 3 != 0 || input.size() < start + 8 || std::memcmp(&input[start], "fLaC", 4) != 0)
    return LLVMFuzzerMutate(data, size, maxSize);
  std::vector<Block> blocks;
  std::size_t at = start + 4;
  for (bool last = false; !last && input.size() >= at + 4;) {
    last = input[at] & 0x80;
    const std::uint32_t length = (std::uint32_t{input[at + 1]} << 16) | (input[at + 2] << 8) | input[at + 3];
    if (input.size() < at + 4 + length) break;
    blocks.push_back({static_cast<std::uint8_t>(input[at] & 0x7F),
                      Bytes(input.begin() + static_cast<std::ptrdiff_t>(at + 4),
                            input.begin() + static_cast<std::ptrdiff_t>(at + 4 + length)),
                      length});
    at += 4 + length;
  }
  if (blocks.empty()) return LLVMFuzzerMutate(data, size, maxSize);
  const std::size_t i = random() % blocks.size(), j = random() % blocks.size();
  std::size_t lastBlock = blocks.size() - 1;
  switch (random() % 5) {
    case 0:
      blocks.insert(blocks.begin() + static_cast<std::ptrdiff_t>(i), blocks[i]);
      lastBlock = blocks.size() - 1;
      break;
    case 1:
      std::swap(blocks[i], blocks[j]);
      break;
    case 2:
      blocks[i].said = static_cast<std::uint32_t>(blocks[i].said + (random() % 64) - 32) & 0xFFFFFF;
      break;
    case 3:
      lastBlock = i;
      break;
    default:
      blocks[i].type = static_cast<std::uint8_t>(random() % 8 == 0 ? 127 : random() % 7);
  }
  Bytes out(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(start + 4));
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    out.push_back(static_cast<std::uint8_t>(blocks[k].type | (k == lastBlock ? 0x80 : 0)));
    for (int shift : {16, 8, 0}) out.push_back(static_cast<std::uint8_t>(blocks[k].said >> shift));
    out.insert(out.end(), blocks[k].body.begin(), blocks[k].body.end());
  }
  out.insert(out.end(), input.begin() + static_cast<std::ptrdiff_t>(at), input.end());
  if (out.size() > maxSize) return LLVMFuzzerMutate(data, size, maxSize);
  std::memcpy(data, out.data(), out.size());
  return out.size();
}

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
    // libFLAC's own decoding of the bytes agrees with every sample read
    // (from the stream on: it does not read past two ID3v2 tags).
    const test::DecodedFlac yardstick =
        test::DecodeFlac(Bytes(input.begin() + static_cast<std::ptrdiff_t>(PastTags(input)), input.end()));
    CHECK(yardstick.samples.size() >= static_cast<std::size_t>(frames * info.channels));
    for (std::size_t i = 0; i < static_cast<std::size_t>(frames * info.channels); ++i) {
      std::int32_t read;
      std::memcpy(&read, all.data() + 4 * i, 4);
      CHECK((read >> (32 - info.bits)) == yardstick.samples[i]);
    }
  }

  // A small MPEG stream cut off at every byte of its last frames: refused,
  // or (cut where a frame ends) read whole and no longer than before, or
  // read in what --salvage keeps.
  const bool mpeg = info.container == "MP3" || info.container == "MP2" || info.container == "MP1";
  if (mpeg && size <= 8192) {
    for (std::size_t cut = size > 2900 ? size - 2900 : 0; cut < size; ++cut) {
      files.Put("in/cut.rec", Bytes(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(cut)));
      formats::OpenedSource shorter = formats::OpenSource(files, "in/cut.rec", {salvage});
      if (!shorter.source) {
        CHECK(shorter.error.code != wave::ErrorCode::None);
        continue;
      }
      const wave::SourceInfo& cutInfo = shorter.source->Info();
      // (--salvage may find other frames in what is left of a damaged one.)
      CHECK(salvage || cutInfo.frames <= info.frames);
      const std::int64_t bytes = std::min<std::int64_t>(cutInfo.frames, 1 << 16) * cutInfo.FrameBytes();
      std::vector<std::uint8_t> samples(static_cast<std::size_t>(bytes));
      const std::int64_t got = shorter.source->ReadSamples(0, samples.data(), bytes);
      CHECK(got == bytes || got < 0);
    }
  }

  // A second reader, as a writer thread has, reads a stretch alike. (A lossy
  // decoder's seek is its own: in a damaged MP3 it resynchronises elsewhere
  // than a decoding from the start does.)
  const bool lossy = mpeg || info.container == "Ogg Vorbis" || info.container == "Opus";
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
  // An MP3's parts carry its ID3v2 tag's frames when the last byte says so.
  formats::PartSettings settings;
  settings.keepMetadata = info.container == "MP3" && (data[size - 1] & 2);
  if (formats::PartPlan::Make(source, settings, plan, notes) || frames == 0) return 0;
  wave::Error error;
  auto folder = wave::Folder::Open(files, "out", error);
  CHECK(folder);
  const std::int64_t start = frames / 3, end = std::min(frames, start + 3000);
  if (start >= end) return 0;
  const wave::Error written =
      plan.Write(source, {start, end, "part", 1, 1, std::nullopt}, *folder, nullptr, {});
  CHECK(!written);
  if (info.container == "MP3") {
    // Its Info header gives back exactly the part's length, and it decodes.
    formats::OpenedSource part = formats::OpenSource(files, "out/part");
    CHECK(part.source && part.source->Info().frames == end - start);
    std::vector<std::uint8_t> samples(static_cast<std::size_t>(part.source->Info().extentBytes));
    CHECK(part.source->ReadSamples(0, samples.data(), part.source->Info().extentBytes) ==
          part.source->Info().extentBytes);
  }
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
