// Finding where each part of a source begins and ends.
//
// Both searches walk the source block by block, a block being what one read
// of 131072 bytes from the search's position would return, and after every
// block they set the progress, let pending events run and test the Cancel
// toggle. A block's samples are fetched into the sample buffer only as far
// as the judging needs them: the first loud sample of a silent stretch needs
// all of it, the last loud sample of a loud stretch only its end.
#include <algorithm>

#include "detect/LoudScan.h"
#include "engine/Engine.h"
#include "wave/ByteOrder.h"

namespace corvella {
namespace {

// Samples fetched at a time: few at first, as the answer is often near, then
// more while the fetches find nothing, so that a long silence costs few reads.
constexpr std::size_t kFirstFetch = 2048;
constexpr std::size_t kLargestFetch = kSampleBufferSamples;

// Asks the system ahead of a search for the bytes it will read, many blocks
// at a time, so that a cold file streams from the disk in long reads although
// each block is fetched piecemeal.
class ReadAhead {
 public:
  explicit ReadAhead(MmioFile& file) : file_(file) {}
  void Before(std::int64_t offset) {
    if (offset >= from_ && offset + kBlockBytes <= until_) return;
    from_ = offset;
    until_ = offset + kSpan;
    file_.WillNeed(from_, kSpan);
  }

 private:
  static constexpr std::int64_t kSpan = 16 * kBlockBytes;
  MmioFile& file_;
  std::int64_t from_ = 0;
  std::int64_t until_ = 0;
};

class Block {
 public:
  // The block that a read of kBlockBytes at `offset` would give, in a file of
  // `fileLength` bytes; nothing is read yet. `fetch` is the number of samples
  // to fetch at a time, carried from block to block by the search.
  Block(MmioFile& file, std::int16_t* buffer, std::int64_t offset, std::int64_t fileLength,
        std::size_t& fetch)
      : file_(file), buffer_(buffer), offset_(offset), fetch_(fetch) {
    bytes_ = std::clamp<std::int64_t>(fileLength - offset, 0, kBlockBytes);
  }

  std::int64_t bytes() const { return bytes_; }
  // True when a fetch failed: the block then counts as a failed read.
  bool failed() const { return failed_; }

  // Index of the first loud sample in [from, to), or `to`.
  std::size_t FirstLoud(std::size_t from, std::size_t to, int noiseFloor) {
    for (std::size_t i = from; i < to;) {
      const std::size_t size = std::min(fetch_, to - i);
      if (!Fetch(i, size)) return to;
      const std::size_t loud = FirstLoudSample(buffer_ + i, size, noiseFloor);
      if (loud < size) return Found(i + loud);
      Grow();
      i += size;
    }
    return to;
  }

  // Index of the last loud sample in [from, to), or `to`.
  std::size_t LastLoud(std::size_t from, std::size_t to, int noiseFloor) {
    for (std::size_t end = to; end > from;) {
      const std::size_t size = std::min(fetch_, end - from);
      if (!Fetch(end - size, size)) return to;
      const std::size_t loud = LastLoudSample(buffer_ + end - size, size, noiseFloor);
      if (loud < size) return Found(end - size + loud);
      Grow();
      end -= size;
    }
    return to;
  }

 private:
  bool Fetch(std::size_t first, std::size_t count) {
    const auto bytes = static_cast<std::int64_t>(count * 2);
    if (failed_ || file_.ReadAt(offset_ + static_cast<std::int64_t>(first) * 2, buffer_ + first,
                                bytes) != bytes) {
      failed_ = true;
      return false;
    }
    SamplesFromLittleEndian(buffer_ + first, count);
    return true;
  }
  std::size_t Found(std::size_t index) {
    fetch_ = kFirstFetch;
    return index;
  }
  void Grow() { fetch_ = std::min(2 * fetch_, kLargestFetch); }

  MmioFile& file_;
  std::int16_t* buffer_;
  std::int64_t offset_;
  std::size_t& fetch_;
  std::int64_t bytes_ = 0;
  bool failed_ = false;
};

// The blocks of one search, one after another from a file offset, with the
// read-ahead and the fetch size carried from block to block.
class Blocks {
 public:
  Blocks(MmioFile& file, std::int16_t* buffer, std::int64_t offset, std::int64_t fileLength)
      : file_(file), buffer_(buffer), offset_(offset), fileLength_(fileLength), readAhead_(file) {}

  Block Next() {
    readAhead_.Before(offset_);
    return Block(file_, buffer_, offset_, fileLength_, fetch_);
  }
  // Moves past a block that gave `got` bytes.
  void Advance(std::int64_t got) { offset_ += std::max<std::int64_t>(got, 0); }

 private:
  MmioFile& file_;
  std::int16_t* buffer_;
  std::int64_t offset_;
  std::int64_t fileLength_;
  ReadAhead readAhead_;
  std::size_t fetch_ = kFirstFetch;
};

}  // namespace

std::int64_t Engine::FindPartStart(std::int64_t begin, bool& endOfData) {
  const std::int64_t frames = FrameCount();
  Blocks blocks(*WaveHandle, SampleBuffer.data(), DataOffset + begin * Channels * 2, FileLength);
  std::int64_t p = begin;
  std::int64_t got = 0;
  for (;;) {
    Block block = blocks.Next();
    got = block.bytes();
    const std::int64_t n = got / 2 / Channels;
    const auto samples = static_cast<std::size_t>(n * Channels);
    const std::size_t loud = block.FirstLoud(0, samples, NoiseFloor);
    // A block that cannot be read holds no frames and ends the search.
    const bool found = !block.failed() && loud < samples;
    if (block.failed()) {
      got = -1;
      ReadFailed = true;
    }
    if (got > 0) p += found ? static_cast<std::int64_t>(loud) / Channels : n;
    blocks.Advance(got);
    host_.SetProgress(ProgressOf(p));
    host_.ProcessMessages();
    if (found || got <= 0 || host_.CancelDown()) break;
  }
  if (got <= 0) endOfData = true;
  if (p >= frames) {
    p = frames;
    endOfData = true;
  }
  return p;
}

// The end search follows e, one past the last loud frame, and q, the next
// frame to judge; the part ends before judging q once q - e exceeds the gap G.
// Every frame up to e + G is judged whatever it holds, so the frames from q
// to e + G are taken as one stretch: only its last loud frame matters.
std::int64_t Engine::FindPartEnd(std::int64_t start, std::int64_t& scanPosition,
                                 bool& endOfData) {
  const std::int64_t gap = GapFrames();
  std::int64_t e = start + 1;  // frame `start` is loud
  std::int64_t q = start + 1;
  Blocks blocks(*WaveHandle, SampleBuffer.data(), DataOffset + (start + 1) * Channels * 2,
                FileLength);
  std::int64_t got = 0;
  for (;;) {
    Block block = blocks.Next();
    got = block.bytes();
    const std::int64_t n = got / 2 / Channels;
    const std::int64_t base = q;  // the block's first frame
    const std::int64_t endBefore = e;
    while (q < base + n && q - e <= gap) {
      const std::int64_t last = std::min(e + gap, base + n - 1);
      const auto from = static_cast<std::size_t>((q - base) * Channels);
      const auto to = static_cast<std::size_t>((last - base + 1) * Channels);
      const std::size_t loud = block.LastLoud(from, to, NoiseFloor);
      if (block.failed()) break;
      if (loud < to) e = base + static_cast<std::int64_t>(loud) / Channels + 1;
      q = last + 1;
    }
    if (block.failed()) {  // as if the read had failed: the block judged nothing
      got = -1;
      ReadFailed = true;
      q = base;
      e = endBefore;
    }
    blocks.Advance(got);
    host_.SetProgress(ProgressOf(q));
    host_.ProcessMessages();
    if (q - e > gap || got <= 0 || host_.CancelDown()) break;
  }
  if (got <= 0) endOfData = true;
  if (e * 2 * Channels > DataSize) {
    e = FrameCount();
    endOfData = true;
  }
  scanPosition = q;
  return e;
}

}  // namespace corvella
