#include "stream/LiveSplit.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <deque>

#include "detect/Levels.h"
#include "detect/Units.h"
#include "wave/ByteOrder.h"

namespace corvella::stream {

// A part being written. Its frames [plannedStart, written) are in its file,
// [written, written + held) in memory: the silence after its last loud
// frame, which may yet belong to it or not.
struct LiveSplit::Part {
  detect::PartSpan found;  // first loud frame, one past the last
  std::int64_t plannedStart = 0;
  std::int64_t written = 0;
  std::vector<std::uint8_t> held;
  std::int64_t heldFrames = 0;
  bool ended = false;
  std::unique_ptr<wave::GrowingPart> file;
  wave::Error error;  // the first thing that went wrong with its file
};

// The clicks taken out for judging (--ignore-clicks), as the whole
// recording's declicker takes them: a loud frame is silence when every loud
// frame within `alone` frames of it lies within a click's length of the
// others. A frame is judged once the `alone` frames after it have come.
class LiveSplit::ClickFilter {
 public:
  ClickFilter(const wave::SourceInfo& info, const detect::DetectParams& params)
      : rule_(detect::RuleFor(info, params)),
        channels_(info.channels),
        frameBytes_(info.FrameBytes()),
        silence_(info.sampleType == wave::SampleType::U8 ? 128 : 0) {
    const std::int64_t rate = info.rate > 0 ? info.rate : detect::kGapUnitsPerSecond;
    click_ = std::max<std::int64_t>(1, rate * params.ignoreClicksMs / 1000);
    alone_ = std::max(rate / 50, 4 * click_);
  }

  // Takes the next frames (aligned, in host order); leaves in Ready() the
  // frames now judged, clicks silenced.
  void Take(const std::uint8_t* samples, std::int64_t count, bool last) {
    waiting_.insert(waiting_.end(), samples, samples + count * frameBytes_);
    for (std::int64_t f = 0; f < count; ++f) {
      const std::uint8_t* frame = samples + f * frameBytes_;
      if (detect::FirstLoudSample(frame, static_cast<std::size_t>(channels_), rule_) <
          static_cast<std::size_t>(channels_))
        loud_.push_back(taken_ + f);
    }
    taken_ += count;
    const std::int64_t until = last ? taken_ : taken_ - alone_;
    const std::int64_t from = judged_;
    for (std::int64_t f = judged_; f < until; ++f) {
      // The loud frames within reach of f: from the first at or after
      // f - alone to the last at or before f + alone.
      while (!loud_.empty() && loud_.front() < f - alone_) {
        loud_.pop_front();
        --at_;
        --reach_;
      }
      at_ = std::max<std::ptrdiff_t>(at_, 0);
      while (at_ < static_cast<std::ptrdiff_t>(loud_.size()) && loud_[at_] < f) ++at_;
      if (at_ == static_cast<std::ptrdiff_t>(loud_.size()) || loud_[at_] != f) continue;
      reach_ = std::max(reach_, at_);
      while (reach_ + 1 < static_cast<std::ptrdiff_t>(loud_.size()) &&
             loud_[reach_ + 1] <= f + alone_)
        ++reach_;
      if (loud_[reach_] - loud_.front() < click_) {
        std::memset(waiting_.data() + (f - from) * frameBytes_, silence_,
                    static_cast<std::size_t>(frameBytes_));
      }
    }
    const std::int64_t ready = std::max<std::int64_t>(until - from, 0);
    ready_.assign(waiting_.begin(), waiting_.begin() + ready * frameBytes_);
    waiting_.erase(waiting_.begin(), waiting_.begin() + ready * frameBytes_);
    judged_ += ready;
  }
  const std::vector<std::uint8_t>& Ready() const { return ready_; }
  std::int64_t ReadyFrames() const {
    return static_cast<std::int64_t>(ready_.size()) / frameBytes_;
  }

 private:
  detect::LoudRule rule_;
  int channels_;
  std::int64_t frameBytes_;
  int silence_;
  std::int64_t click_ = 1, alone_ = 1;
  std::int64_t taken_ = 0, judged_ = 0;
  std::vector<std::uint8_t> waiting_, ready_;  // frames [judged_, taken_); those judged last
  std::deque<std::int64_t> loud_;              // the loud frames from judged_ - alone_ on
  std::ptrdiff_t at_ = 0;                      // in loud_: the first at or after the frame judged
  std::ptrdiff_t reach_ = 0;                   // in loud_: the last within reach of it
};

LiveSplit::LiveSplit(wave::WaveSource& shape, const LiveOptions& options, wave::Folder& folder,
                     LiveListener& listener)
    : shape_(shape),
      options_(options),
      folder_(folder),
      listener_(listener),
      finder_(shape.Info(), options.detect),
      frameBytes_(shape.Info().FrameBytes()) {
  if (options.detect.ignoreClicksMs > 0)
    clicks_ = std::make_unique<ClickFilter>(shape.Info(), options.detect);
}

LiveSplit::~LiveSplit() = default;

void LiveSplit::Take(const std::uint8_t* frames, std::int64_t count) {
  if (count <= 0) return;
  const std::int64_t bytes = count * frameBytes_;
  history_.insert(history_.end(), frames, frames + bytes);
  taken_ += count;
  const void* samples = frames;
  const wave::SourceInfo& info = shape_.Info();
  const int width = wave::BytesOf(info.sampleType);
  // The judging reads whole samples: they must be aligned, in host order.
  if (std::endian::native == std::endian::big ||
      reinterpret_cast<std::uintptr_t>(frames) % alignof(double) != 0) {
    samples_.resize(static_cast<std::size_t>(bytes + 7) / sizeof(double));
    std::memcpy(samples_.data(), frames, static_cast<std::size_t>(bytes));
    wave::SamplesFromLittleEndian(samples_.data(), static_cast<std::size_t>(bytes / width), width);
    samples = samples_.data();
  }
  level_ = detect::PeakOf(samples, static_cast<std::size_t>(bytes / width), info);
  if (clicks_) {
    clicks_->Take(static_cast<const std::uint8_t*>(samples), count, false);
    Judge(clicks_->Ready().data(), clicks_->ReadyFrames());
  } else {
    Judge(samples, count);
  }
  // Keep only the padding's worth of frames before those still to judge.
  const std::int64_t keepFrom =
      std::max<std::int64_t>(finder_.Position() - options_.plan.padBefore, 0);
  const std::int64_t drop = keepFrom - historyFrom_;
  if (drop > 0) {
    history_.erase(history_.begin(), history_.begin() + drop * frameBytes_);
    historyFrom_ += drop;
  }
}

// Judges the next frames and acts on what became known: parts begun and
// ended, frames handed on, parts settled.
void LiveSplit::Judge(const void* samples, std::int64_t count) {
  events_.clear();
  finder_.Judge(samples, count, events_);
  for (const PartFinder::Event& event : events_) {
    Deliver(event.at);
    if (event.kind == PartFinder::Event::Kind::Start) {
      Start(event.at);
    } else {
      End(event.part);
    }
    Settle(event.at);
  }
  Deliver(taken_);
  if (current_) {
    current_->found.end = finder_.LoudEnd();
    Flush(*current_, current_->found.end);
  }
  Settle(finder_.Position());
}

void LiveSplit::Finish() {
  if (clicks_) {
    clicks_->Take(nullptr, 0, true);
    Judge(clicks_->Ready().data(), clicks_->ReadyFrames());
  }
  events_.clear();
  finder_.Finish(events_);
  for (const PartFinder::Event& event : events_) End(event.part);
  if (pending_) Close(*pending_, std::min(pending_->found.end + options_.plan.padAfter, taken_));
  pending_.reset();
  current_.reset();
}

// Hands the frames up to `upTo` to the parts that may still take them.
void LiveSplit::Deliver(std::int64_t upTo) {
  for (Part* part : {pending_.get(), current_.get()}) {
    if (!part) continue;
    const std::int64_t have = part->written + part->heldFrames;
    std::int64_t until = upTo;
    if (part->ended) until = std::min(until, part->found.end + options_.plan.padAfter);
    if (until <= have) continue;
    const auto from = static_cast<std::size_t>((have - historyFrom_) * frameBytes_);
    const auto to = static_cast<std::size_t>((until - historyFrom_) * frameBytes_);
    part->held.insert(part->held.end(), history_.begin() + static_cast<std::ptrdiff_t>(from),
                      history_.begin() + static_cast<std::ptrdiff_t>(to));
    part->heldFrames += until - have;
  }
  delivered_ = std::max(delivered_, upTo);
}

// A part's first loud frame: its file starts with the padding before it.
void LiveSplit::Start(std::int64_t start) {
  auto part = std::make_unique<Part>();
  part->found = {start, start + 1, 0};
  const std::int64_t earliest = lastKeptEnd_ ? *lastKeptEnd_ + (start - *lastKeptEnd_) / 2 : 0;
  part->plannedStart = std::max(start - options_.plan.padBefore, earliest);
  part->written = part->plannedStart;
  const int number = number_ + (pending_ ? 1 : 0) + 1;
  const std::string name = listener_.NameFor(number, part->plannedStart);
  part->file = wave::GrowingPart::Start(shape_, part->plannedStart, folder_, name, options_.write,
                                        part->error);
  current_ = std::move(part);
  Deliver(delivered_);
}

void LiveSplit::End(const detect::PartSpan& found) {
  std::unique_ptr<Part> part = std::move(current_);
  if (!part) return;
  part->found = found;
  part->ended = true;
  // Too short: dropped, as if it had never been found.
  if (found.end - found.start < options_.plan.minFrames) return;
  // The next kept part settles where the one before it ends.
  if (pending_) {
    const std::int64_t previous = pending_->found.end;
    Close(*pending_,
          std::min(previous + options_.plan.padAfter, previous + (found.start - previous) / 2));
    pending_.reset();
  }
  lastKeptEnd_ = found.end;
  // What it holds past its padding is no longer its own.
  const std::int64_t cap = found.end + options_.plan.padAfter;
  const std::int64_t over = part->written + part->heldFrames - cap;
  if (over > 0) {
    part->held.resize(part->held.size() - static_cast<std::size_t>(over * frameBytes_));
    part->heldFrames -= over;
  }
  pending_ = std::move(part);
}

// Settles the ended part where nothing can change its end any more: the
// part after it is long enough to be kept, or the silence after it has
// passed twice its padding (any later part would leave it all of it).
void LiveSplit::Settle(std::int64_t judged) {
  if (!pending_) return;
  const std::int64_t previous = pending_->found.end;
  const std::int64_t padAfter = options_.plan.padAfter;
  // A part after it that may yet be dropped matters only where it begins
  // within twice the padding.
  const std::int64_t nextStart = current_ ? current_->found.start : judged;
  if (current_ && nextStart - previous < 2 * padAfter) {
    const detect::PartSpan& next = current_->found;
    if (next.end - next.start < options_.plan.minFrames) return;
    Close(*pending_, std::min(previous + padAfter, previous + (next.start - previous) / 2));
    pending_.reset();
    return;
  }
  if (nextStart - previous >= 2 * padAfter) {
    Close(*pending_, previous + padAfter);
    pending_.reset();
  }
}

// Writes what the part holds up to `upTo`.
void LiveSplit::Flush(Part& part, std::int64_t upTo) {
  const std::int64_t count = std::min(upTo - part.written, part.heldFrames);
  if (count <= 0) return;
  const std::int64_t bytes = count * frameBytes_;
  // After a failed write the part is only followed to its end, to be
  // reported then.
  if (part.file && !part.error && !part.file->Append(part.held.data(), count))
    part.error = {wave::ErrorCode::UnableToWrite, ""};
  part.held.erase(part.held.begin(), part.held.begin() + bytes);
  part.heldFrames -= count;
  part.written += count;
}

void LiveSplit::Close(Part& part, std::int64_t end) {
  Flush(part, end);
  LivePart done{"", ++number_, part.plannedStart, end};
  done.name = listener_.NameFor(done.number, done.start);
  // A file that could not be started says why; one whose writes failed
  // says it when it is to be named.
  const wave::Error error = part.file ? part.file->Finish(done.name) : part.error;
  part.file.reset();
  if (error) {
    failed_ = true;
    listener_.Failed(done, error);
  } else {
    listener_.Written(done);
  }
}

}  // namespace corvella::stream
