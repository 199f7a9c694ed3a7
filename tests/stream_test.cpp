// Splitting as the frames arrive, against the split of the whole recording:
// random recordings fed in random pieces give the same part files byte for
// byte (padding and the shortest part included); stream headers of every
// kind a program writing to a pipe leaves; the shapes --raw names.
#include <map>
#include <random>

#include "messages/Messages.h"
#include "batch/OutputName.h"
#include "batch/PartWalk.h"
#include "stream/LiveSplit.h"
#include "stream/StreamShape.h"
#include "support/Fixture.h"
#include "support/Model.h"
#include "wave/ByteOrder.h"
#include "wave/MemoryFiles.h"

namespace corvella::test {
namespace {

using Files = std::map<std::string, Bytes>;

// Every file in the memory file system's folder "out".
Files FilesIn(const wave::MemoryFiles& files) {
  Files out;
  for (const std::string& path : files.Paths()) {
    if (path.rfind("out/", 0) == 0) out[path.substr(4)] = *files.Get(path);
  }
  return out;
}

// The parts a split of the whole recording `file` writes, as stream_NNN.wav.
Files SplitWhole(const Bytes& file, const detect::DetectParams& params,
                 const batch::PlanOptions& plan, const wave::WriteOptions& options) {
  wave::MemoryFiles files;
  files.Put("in.wav", file);
  wave::OpenedWave opened = wave::OpenWave(files, "in.wav", wave::Acceptance::AnyWave);
  EXPECT_TRUE(opened.source) << messages::MessageOf(opened.error) << " " << opened.error.detail;
  if (!opened.source) return {};
  TestProgress progress;
  detect::Scanner scanner(*opened.source, params, progress);
  batch::WalkResult walk;
  const auto found = batch::FindParts(scanner, walk);
  const auto parts = batch::PlanParts(found, opened.source->Info().frames, plan);
  wave::Error error;
  auto folder = wave::Folder::Open(files, "out", error);
  for (std::size_t k = 0; k < parts.size(); ++k) {
    EXPECT_FALSE(wave::WritePart(*opened.source, parts[k].start, parts[k].end, *folder,
                                 batch::PartFileName("stream.wav", static_cast<int>(k) + 1),
                                 options));
  }
  return FilesIn(files);
}

struct Told final : stream::LiveListener {
  std::string NameFor(int number, std::int64_t) override {
    return batch::PartFileName("stream.wav", number);
  }
  void Written(const stream::LivePart& part) override { written.push_back(part); }
  void Failed(const stream::LivePart& part, const wave::Error& error) override {
    failed.push_back(part.name + ": " + messages::MessageOf(error));
  }
  std::vector<stream::LivePart> written;
  std::vector<std::string> failed;
};

// The parts of the same recording fed to a live split: its header through
// the header reader, then its frames in pieces of random sizes.
Files SplitLive(const Bytes& file, const detect::DetectParams& params,
                const batch::PlanOptions& plan, const wave::WriteOptions& options,
                std::mt19937& random, std::int64_t largestPiece, Told& told) {
  stream::HeaderReader header;
  std::size_t at = 0;
  while (header.Take(&file[at], 1) == stream::HeaderReader::State::NeedMore) ++at;
  EXPECT_TRUE(header.Rest().empty());
  stream::StreamShape shape = header.TakeShape();
  EXPECT_TRUE(shape.source);
  if (!shape.source) return {};
  wave::MemoryFiles files;
  wave::Error error;
  auto folder = wave::Folder::Open(files, "out", error);
  stream::LiveOptions live{params, plan, options};
  stream::LiveSplit split(*shape.source, live, *folder, told);
  const std::int64_t frameBytes = shape.Info().FrameBytes();
  const auto* frames = file.data() + shape.dataOffset;
  const std::int64_t total =
      (static_cast<std::int64_t>(file.size()) - shape.dataOffset) / frameBytes;
  for (std::int64_t done = 0; done < total;) {
    const std::int64_t piece = std::min(
        total - done, std::uniform_int_distribution<std::int64_t>(1, largestPiece)(random));
    split.Take(frames + done * frameBytes, piece);
    done += piece;
  }
  split.Finish();
  return FilesIn(files);
}

TEST(LiveSplit, RandomRecordingsInRandomPiecesGiveTheWholeSplitsParts) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 120; ++round) {
    const int channels = round % 2 + 1;
    const std::int64_t gap = std::vector<std::int64_t>{1, 3, 17, 200, 2000}[round % 5];
    const int floor = std::uniform_int_distribution<int>(1, 3000)(random);
    const auto frames = std::uniform_int_distribution<std::int64_t>(1, 40000)(random);
    const Samples samples = RandomRecording(random, channels, frames, floor, gap);
    detect::DetectParams params;
    params.noiseFloor = floor;
    params.gapThreshold = static_cast<int>(gap);
    params.ignoreClicksMs = round % 4 == 1 ? 1 + round % 3 : 0;
    batch::PlanOptions plan;
    std::uniform_int_distribution<std::int64_t> pad(0, 3 * gap);
    if (round % 3 > 0) plan = {pad(random), pad(random), pad(random)};
    wave::WriteOptions options;
    options.mono = round % 7 == 3;
    const Bytes file = SimpleWav(channels, samples);
    Told told;
    const Files live =
        SplitLive(file, params, plan, options, random, round % 4 == 0 ? 1 : 3 * gap + 50, told);
    const Files whole = SplitWhole(file, params, plan, options);
    ASSERT_EQ(live.size(), whole.size())
        << "round " << round << ": gap " << gap << ", min " << plan.minFrames << ", pads "
        << plan.padBefore << "/" << plan.padAfter;
    for (const auto& [name, bytes] : whole) {
      ASSERT_TRUE(live.count(name)) << name;
      EXPECT_TRUE(live.at(name) == bytes) << "round " << round << ": " << name << " differs";
    }
    EXPECT_EQ(told.written.size(), whole.size());
    EXPECT_TRUE(told.failed.empty());
  }
}

// A header as a program writing to a pipe leaves it: sizes unknown.
Bytes StreamHeader(const Bytes& file, std::uint32_t size) {
  Bytes stream = file;
  wave::WriteLe32(&stream[4], size);
  wave::WriteLe32(&stream[40], size);  // the data chunk of SimpleWav
  return stream;
}

// Passages of sound between silences with crackle: bursts of 1 to a few
// frames, some alone, some close together.
Samples Crackle(std::mt19937& random, std::int64_t frames, std::int64_t click, std::int64_t alone) {
  Samples s;
  std::uniform_int_distribution<std::int64_t> sound(500, 20000), quiet(alone / 2, 3 * alone),
      burst(1, click + 2), coin(0, 5);
  while (static_cast<std::int64_t>(s.size()) < frames) {
    if (coin(random) == 0) {
      for (std::int64_t i = sound(random); i > 0; --i) s.push_back(i % 2 ? 4000 : -4000);
    } else {
      s.resize(s.size() + static_cast<std::size_t>(quiet(random)), 0);
      for (std::int64_t i = burst(random); i > 0; --i) s.push_back(9000);
    }
  }
  s.resize(static_cast<std::size_t>(frames));
  return s;
}

TEST(LiveSplit, CracklePassesAsTheWholeSplitsClickFilterJudgesIt) {
  std::mt19937 random(99);
  int changed = 0;  // recordings whose parts the filter changed
  for (int round = 0; round < 30; ++round) {
    detect::DetectParams params;
    params.ignoreClicksMs = 1 + round % 3;
    const std::int64_t click = 44 * params.ignoreClicksMs;
    const Samples samples =
        Crackle(random, std::uniform_int_distribution<std::int64_t>(1000, 300000)(random), click,
                std::max<std::int64_t>(882, 4 * click));
    params.gapThreshold = std::uniform_int_distribution<int>(500, 6000)(random);
    const Bytes file = SimpleWav(1, samples);
    const batch::PlanOptions plan{round % 2 ? 0 : 2000, 300, 300};
    Told told;
    const Files live = SplitLive(file, params, plan, {}, random, 5000, told);
    const Files whole = SplitWhole(file, params, plan, {});
    EXPECT_TRUE(live == whole) << "round " << round << ": " << live.size() << " parts live, "
                               << whole.size() << " whole";
    detect::DetectParams plain = params;
    plain.ignoreClicksMs = 0;
    if (SplitWhole(file, plain, plan, {}).size() != whole.size()) ++changed;
  }
  EXPECT_GT(changed, 10);
}

TEST(LiveSplit, ABroadcastChunkAndAMixAndAnRf64PartAreThoseOfTheWholeSplit) {
  std::mt19937 random(7);
  Samples samples(2 * 30000, 0);
  for (std::size_t i = 200; i < 2 * 12000; ++i) samples[i] = static_cast<std::int16_t>(i % 5000);
  for (std::size_t i = 2 * 20000; i < 2 * 29000; ++i) samples[i] = static_cast<std::int16_t>(-700);
  Bytes bext(602, 0);
  wave::WriteLe64(&bext[338], 48000);
  WavBuilder builder;
  builder.Chunk("fmt ", FormatBody(1, 2, 44100, 16)).Chunk("bext", bext).Data(samples);
  const Bytes file = builder.Build();
  detect::DetectParams params;
  params.gapThreshold = 2000;
  wave::WriteOptions options;
  options.keepMetadata = true;
  options.mono = true;
  options.riffLimit = 20000;  // the first part is past it: RF64
  Told told;
  const Files live = SplitLive(file, params, {0, 100, 300}, options, random, 999, told);
  const Files whole = SplitWhole(file, params, {0, 100, 300}, options);
  ASSERT_EQ(whole.size(), 2u);
  EXPECT_EQ(whole.begin()->second[0], 'R');
  EXPECT_EQ(whole.begin()->second[1], 'F');
  EXPECT_EQ(live, whole);
}

TEST(LiveSplit, APartIsNamedOnceNoLaterPartCanChangeItsEnd) {
  // 1 s of sound, 0.3 s of silence, then a sound too short as yet to be
  // kept: it begins past twice the padding, so the first part's end is known.
  Samples samples(44100 * 2, 0);
  for (std::size_t i = 0; i < 44100; ++i) samples[i] = 5000;
  for (std::size_t i = 57330; i < 60000; ++i) samples[i] = 5000;
  const Bytes file = SimpleWav(1, samples);
  stream::HeaderReader header;
  header.Take(file.data(), 44);
  stream::StreamShape shape = header.TakeShape();
  wave::MemoryFiles files;
  wave::Error error;
  auto folder = wave::Folder::Open(files, "out", error);
  detect::DetectParams params;
  params.gapThreshold = 4410;
  Told told;
  stream::LiveSplit split(*shape.source, {params, {44100, 0, 2205}, {}}, *folder, told);
  split.Take(file.data() + 44, 60000);
  ASSERT_EQ(told.written.size(), 1u);
  EXPECT_EQ(told.written[0].end, 44100 + 2205);
}

TEST(HeaderReader, TakesTheSizesAPipeLeavesAndTheHeaderInAnyPieces) {
  Samples samples(4000, 0);
  samples[100] = 9000;
  const Bytes file = SimpleWav(2, samples);
  for (std::uint32_t size : {0u, 0x7FFFF000u, 0x7FFFFFFEu, 0x7FFFFFFFu, 0xFFFFFFFFu, 8000u}) {
    const Bytes stream = StreamHeader(file, size);
    stream::HeaderReader header;
    ASSERT_EQ(header.Take(stream.data(), 30), stream::HeaderReader::State::NeedMore);
    ASSERT_EQ(header.Take(stream.data() + 30, 20), stream::HeaderReader::State::Done);
    EXPECT_EQ(header.Rest(), Bytes(stream.begin() + 44, stream.begin() + 50));
    stream::StreamShape shape = header.TakeShape();
    EXPECT_EQ(shape.dataOffset, 44);
    EXPECT_EQ(shape.sizeOffset, 40);
    EXPECT_EQ(shape.declaredBytes, size == 8000 ? 8000 : -1) << size;
    EXPECT_EQ(shape.Info().channels, 2);
    EXPECT_TRUE(shape.Info().plain16);
  }
}

TEST(HeaderReader, ReadsAnRf64StreamWhoseSizesAreAllOnes) {
  Bytes ds64(28, 0xFF);
  wave::WriteLe32(&ds64[24], 0);
  Bytes stream;
  for (const char* id : {"RF64"}) stream.insert(stream.end(), id, id + 4);
  PutLe32(stream, 0xFFFFFFFF);
  for (const char* id : {"WAVE", "ds64"}) stream.insert(stream.end(), id, id + 4);
  PutLe32(stream, 28);
  stream.insert(stream.end(), ds64.begin(), ds64.end());
  const Bytes fmt = FormatBody(3, 1, 96000, 32);
  for (const char* id : {"fmt "}) stream.insert(stream.end(), id, id + 4);
  PutLe32(stream, static_cast<std::uint32_t>(fmt.size()));
  stream.insert(stream.end(), fmt.begin(), fmt.end());
  for (const char* id : {"data"}) stream.insert(stream.end(), id, id + 4);
  PutLe32(stream, 0xFFFFFFFF);
  stream::HeaderReader header;
  ASSERT_EQ(header.Take(stream.data(), stream.size()), stream::HeaderReader::State::Done)
      << header.Error().detail;
  const stream::StreamShape shape = header.TakeShape();
  EXPECT_EQ(shape.sizeBytes, 8);
  EXPECT_EQ(shape.sizeOffset, 20 + 8);
  EXPECT_EQ(shape.declaredBytes, -1);
  EXPECT_EQ(shape.Info().sampleType, wave::SampleType::F32);
  EXPECT_EQ(shape.Info().container, "RF64");
}

TEST(HeaderReader, RefusesWhatIsNoWavStreamEachWithItsReason) {
  const auto refusal = [](const Bytes& bytes) {
    stream::HeaderReader header;
    if (header.Take(bytes.data(), bytes.size()) != stream::HeaderReader::State::Refused)
      return std::string("not refused");
    return messages::MessageOf(header.Error()) + " " + header.Error().detail;
  };
  const std::string text = "hello, this is not a recording at all";
  EXPECT_NE(refusal(Bytes(text.begin(), text.end())).find("--raw"), std::string::npos);
  // A Wave64 head that is not followed by its WAVE form.
  Bytes w64(wave::kW64Riff, wave::kW64Riff + 16);
  w64.resize(40, 0);
  EXPECT_NE(refusal(w64).find("not a WAV stream"), std::string::npos);
  // A chunk before the data that claims more than any header holds.
  Bytes huge = WavBuilder().Fmt(2).RawChunk("junk", 0x7FFFFFF0, {}).Build();
  EXPECT_NE(refusal(huge).find("16 MiB"), std::string::npos);
  // A format the command line does not read.
  Bytes alaw = WavBuilder().Chunk("fmt ", FormatBody(6, 1, 8000, 8)).Data({0}).Build();
  EXPECT_NE(refusal(alaw).find("A-law"), std::string::npos);
  // Ended early: empty, or inside the header.
  stream::HeaderReader header;
  EXPECT_EQ(header.Ended().detail, "the stream is empty");
  header.Take(alaw.data(), 20);
  EXPECT_EQ(header.Ended().detail, "the stream ends inside its header");
}

TEST(RawShape, NamesTheSamplesAsARecorderWouldWriteThem) {
  auto cd = stream::RawShape("44100:2:s16le");
  ASSERT_TRUE(cd.shape) << cd.error.detail;
  EXPECT_TRUE(cd.shape->Info().plain16);
  EXPECT_EQ(cd.shape->Info().FrameBytes(), 4);
  auto wide = stream::RawShape("96000:6:s24le");
  ASSERT_TRUE(wide.shape) << wide.error.detail;
  EXPECT_EQ(wide.shape->Info().sampleType, wave::SampleType::S24);
  EXPECT_TRUE(wide.shape->source->Format().extensible);
  auto floats = stream::RawShape("48000:1:f32le");
  ASSERT_TRUE(floats.shape) << floats.error.detail;
  EXPECT_EQ(floats.shape->Info().sampleType, wave::SampleType::F32);
  EXPECT_EQ(floats.shape->source->Format().tag, wave::kTagFloat);
  for (const char* bad : {"", "44100", "44100:2", "44100:0:s16le", "0:2:s16le", "x:2:s16le",
                          "44100:65:s16le", "44100:2:s16be", "44100:2:"}) {
    const stream::OpenedShape refused = stream::RawShape(bad);
    EXPECT_FALSE(refused.shape) << bad;
    EXPECT_FALSE(refused.error.detail.empty()) << bad;
  }
}

}  // namespace
}  // namespace corvella::test
