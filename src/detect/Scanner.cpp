// A block's samples are fetched into the buffer only as far as the judging
// needs them: the first loud sample of a silent stretch needs all of it, the
// last loud sample of a loud stretch only its end.
#include "detect/Scanner.h"

#include <algorithm>
#include <limits>

#include "detect/Declick.h"
#include "detect/Units.h"

namespace corvella::detect {
namespace {

constexpr std::int64_t kBlockBytes = 131072;  // one read of the searches

// Samples fetched at a time: few at first, as the answer is often near, then
// more while the fetches find nothing, so that a long silence costs few reads.
constexpr std::size_t kFirstFetch = 2048;

// Asks the system ahead of a search for the bytes it will read, many blocks
// at a time, so that a cold file streams from the disk in long reads although
// each block is fetched piecemeal.
class ReadAhead {
 public:
  explicit ReadAhead(wave::Source& source) : source_(source) {}
  void Before(std::int64_t offset) {
    if (offset >= from_ && offset + kBlockBytes <= until_) return;
    from_ = offset;
    until_ = offset + kSpan;
    source_.WillNeed(from_, kSpan);
  }

 private:
  static constexpr std::int64_t kSpan = 16 * kBlockBytes;
  wave::Source& source_;
  std::int64_t from_ = 0;
  std::int64_t until_ = 0;
};

class Block {
 public:
  // The block that a read of a whole number of frames, up to kBlockBytes, at
  // `offset` would give; nothing is read yet. `fetch` is the number of
  // samples to fetch at a time, carried from block to block by the search.
  Block(wave::Source& source, void* buffer, std::int64_t offset, std::size_t& fetch)
      : source_(source), buffer_(static_cast<char*>(buffer)), offset_(offset), fetch_(fetch) {
    const wave::SourceInfo& info = source.Info();
    width_ = wave::BytesOf(info.sampleType);
    const std::int64_t blockBytes = kBlockBytes / info.FrameBytes() * info.FrameBytes();
    bytes_ = std::clamp<std::int64_t>(info.extentBytes - offset, 0, blockBytes);
    if (source.Sequential()) fetch_ = static_cast<std::size_t>(bytes_ / width_);
  }

  std::int64_t bytes() const { return bytes_; }
  // True when a fetch failed: the block then counts as a failed read.
  bool failed() const { return failed_; }

  // Index of the first loud sample in [from, to), or `to`.
  std::size_t FirstLoud(std::size_t from, std::size_t to, const LoudRule& rule) {
    for (std::size_t i = from; i < to;) {
      const std::size_t size = std::min(fetch_, to - i);
      if (!Fetch(i, size)) return to;
      const std::size_t loud = FirstLoudSample(At(i), size, rule);
      if (loud < size) return Found(i + loud);
      Grow();
      i += size;
    }
    return to;
  }

  // Index of the last loud sample in [from, to), or `to`.
  std::size_t LastLoud(std::size_t from, std::size_t to, const LoudRule& rule) {
    for (std::size_t end = to; end > from;) {
      const std::size_t size = std::min(fetch_, end - from);
      if (!Fetch(end - size, size)) return to;
      const std::size_t loud = LastLoudSample(At(end - size), size, rule);
      if (loud < size) return Found(end - size + loud);
      Grow();
      end -= size;
    }
    return to;
  }

 private:
  char* At(std::size_t sample) { return buffer_ + sample * static_cast<std::size_t>(width_); }

  // Fetches samples [first, first + count); a decoder gets the whole block at once.
  bool Fetch(std::size_t first, std::size_t count) {
    if (source_.Sequential()) {
      if (!whole_) {
        whole_ = true;
        failed_ = source_.ReadSamples(offset_, buffer_, bytes_) != bytes_;
      }
      return !failed_;
    }
    const auto bytes = static_cast<std::int64_t>(count) * width_;
    const auto at = static_cast<std::int64_t>(first) * width_;
    if (failed_ || source_.ReadSamples(offset_ + at, At(first), bytes) != bytes) failed_ = true;
    return !failed_;
  }
  std::size_t Found(std::size_t index) {
    if (!source_.Sequential()) fetch_ = kFirstFetch;
    return index;
  }
  void Grow() {
    if (!source_.Sequential())
      fetch_ = std::min(2 * fetch_, static_cast<std::size_t>(kBlockBytes / width_));
  }

  wave::Source& source_;
  char* buffer_;
  std::int64_t offset_;
  std::size_t& fetch_;
  int width_ = 2;
  std::int64_t bytes_ = 0;
  bool failed_ = false;
  bool whole_ = false;
};

// The blocks of one search, one after another from a byte offset, with the
// read-ahead and the fetch size carried from block to block.
class Blocks {
 public:
  Blocks(wave::Source& source, void* buffer, std::int64_t offset)
      : source_(source), buffer_(buffer), offset_(offset), readAhead_(source) {}

  Block Next() {
    if (!source_.Sequential()) readAhead_.Before(offset_);
    return Block(source_, buffer_, offset_, fetch_);
  }
  // Moves past a block that gave `got` bytes.
  void Advance(std::int64_t got) { offset_ += std::max<std::int64_t>(got, 0); }

 private:
  wave::Source& source_;
  void* buffer_;
  std::int64_t offset_;
  ReadAhead readAhead_;
  std::size_t fetch_ = kFirstFetch;
};

}  // namespace

namespace {

std::unique_ptr<wave::Source> Declick(wave::Source& source, const DetectParams& params) {
  if (params.ignoreClicksMs <= 0) return nullptr;
  return std::make_unique<Declicked>(source, params);
}

}  // namespace

Scanner::Scanner(wave::Source& source, const DetectParams& params, Progress& progress)
    : declicked_(Declick(source, params)),
      source_(declicked_ ? *declicked_ : source),
      progress_(progress),
      loud_(RuleFor(source.Info(), params)),
      rule_(detect::GapFrames(params.gapThreshold, source.Info().rate)),
      frames_(source.Info().frames),
      // No block is longer than the samples there are to read.
      buffer_(static_cast<std::size_t>(
                  std::clamp<std::int64_t>(source.Info().extentBytes, 8, kBlockBytes) + 7) /
              sizeof(double)) {}

int Scanner::ProgressOf(std::int64_t position) const {
  if (frames_ <= 0) return 0;
  const std::int64_t percent = position * 100 / frames_;
  return percent > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                   : static_cast<int>(percent);
}

namespace {

// The block's loud frames as the rule asks for them, fetched only as far
// as the answer needs.
class BlockFrames final : public LoudFrames {
 public:
  BlockFrames(Block& block, std::int64_t base, int channels, const LoudRule& rule)
      : block_(block), base_(base), channels_(channels), rule_(rule) {}
  std::int64_t FirstLoud(std::int64_t from, std::int64_t to) override {
    const auto end = Sample(to);
    const std::size_t loud = block_.FirstLoud(Sample(from), end, rule_);
    return loud == end ? to : Frame(loud);
  }
  std::int64_t LastLoud(std::int64_t from, std::int64_t to) override {
    const auto end = Sample(to);
    const std::size_t loud = block_.LastLoud(Sample(from), end, rule_);
    return loud == end ? to : Frame(loud);
  }

 private:
  std::size_t Sample(std::int64_t frame) const {
    return static_cast<std::size_t>((frame - base_) * channels_);
  }
  std::int64_t Frame(std::size_t sample) const {
    return base_ + static_cast<std::int64_t>(sample) / channels_;
  }
  Block& block_;
  std::int64_t base_;
  int channels_;
  const LoudRule& rule_;
};

}  // namespace

// Runs the rule block by block from where it stands until something becomes
// known or the data end. A block that cannot be read judges nothing: the
// search ends as if the data had ended there.
std::int64_t Scanner::Search(bool& found) {
  const int channels = source_.Info().channels;
  const std::int64_t frameBytes = source_.Info().FrameBytes();
  Blocks blocks(source_, buffer_.data(), rule_.Position() * frameBytes);
  std::int64_t got = 0;
  found = false;
  for (;;) {
    Block block = blocks.Next();
    got = block.bytes();
    const std::int64_t base = rule_.Position();
    const PartRule::State before = rule_.Now();
    BlockFrames frames(block, base, channels, loud_);
    events_.clear();
    rule_.Judge(frames, base + got / frameBytes, events_, true);
    if (block.failed()) {
      got = -1;
      readFailed_ = true;
      rule_.Resume(before);
    }
    found = got > 0 && !events_.empty();
    blocks.Advance(got);
    // A start is reported where it is, an end where the search stopped.
    const bool started = found && events_.front().kind == PartRule::Event::Kind::Start;
    progress_.Report(ProgressOf(started ? events_.front().at : rule_.Position()));
    progress_.Pump();
    if (found || got <= 0 || progress_.StopRequested()) break;
  }
  return got;
}

std::int64_t Scanner::FindPartStart(std::int64_t begin, bool& endOfData) {
  rule_.Resume({begin, false, 0, 0});
  bool found = false;
  const std::int64_t got = Search(found);
  std::int64_t p = found ? events_.front().at : rule_.Position();
  if (got <= 0) endOfData = true;
  if (p >= frames_) {
    p = frames_;
    endOfData = true;
  }
  return p;
}

std::int64_t Scanner::FindPartEnd(std::int64_t start, std::int64_t& scanPosition, bool& endOfData) {
  rule_.Resume({start + 1, true, start, start + 1});  // frame `start` is loud
  bool found = false;
  const std::int64_t got = Search(found);
  std::int64_t e = rule_.LoudEnd();
  if (got <= 0) endOfData = true;
  if (e > frames_) {
    e = frames_;
    endOfData = true;
  }
  scanPosition = rule_.Position();
  return e;
}

}  // namespace corvella::detect
