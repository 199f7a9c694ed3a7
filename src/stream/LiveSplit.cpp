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

LiveSplit::LiveSplit(wave::WaveSource& shape, const LiveOptions& options, wave::Folder& folder,
                     LiveListener& listener)
    : shape_(shape),
      options_(options),
      folder_(folder),
      listener_(listener),
      loud_(detect::RuleFor(shape.Info(), options.detect)),
      rule_(detect::GapFrames(options.detect.gapThreshold, shape.Info().rate)),
      frameBytes_(shape.Info().FrameBytes()) {
  if (options.detect.ignoreClicksMs > 0)
    clicks_ = std::make_unique<detect::FrameDeclicker>(shape.Info(), options.detect);
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
      std::max<std::int64_t>(rule_.Position() - options_.plan.padBefore, 0);
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
  const wave::SourceInfo& info = shape_.Info();
  detect::LoudFramesInMemory frames(samples, rule_.Position(), info.channels,
                                    wave::BytesOf(info.sampleType), loud_);
  rule_.Judge(frames, rule_.Position() + count, events_);
  for (const detect::PartRule::Event& event : events_) {
    Deliver(event.at);
    if (event.kind == detect::PartRule::Event::Kind::Start) {
      Start(event.at);
    } else {
      End(event.part);
    }
    Settle(event.at);
  }
  Deliver(taken_);
  if (current_) {
    current_->found.end = rule_.LoudEnd();
    Flush(*current_, current_->found.end);
  }
  Settle(rule_.Position());
}

void LiveSplit::Finish(std::optional<std::int64_t> samplesEnd) {
  if (clicks_) {
    clicks_->Take(nullptr, 0, true);
    Judge(clicks_->Ready().data(), clicks_->ReadyFrames());
  }
  // Frames past the samples' end are none of the recording's: a part that
  // begins there is no part, and none is widened into them.
  const std::int64_t end = samplesEnd ? std::min(*samplesEnd, taken_) : taken_;
  if (samplesEnd) samplesEnd_ = end;
  if (current_ && current_->found.start >= end) current_.reset();
  if (pending_ && pending_->found.start >= end) pending_.reset();
  events_.clear();
  rule_.Finish(events_);
  for (const detect::PartRule::Event& event : events_) End(event.part);
  if (pending_) Close(*pending_, batch::PlannedEnd(pending_->found, std::nullopt, end, options_.plan));
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
  part->plannedStart = batch::PlannedStart(part->found, lastKeptEnd_, options_.plan);
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
  if (!batch::Kept(found, options_.plan)) return;
  // The next kept part settles where the one before it ends.
  if (pending_) {
    Close(*pending_, batch::PlannedEnd(pending_->found, found.start, taken_, options_.plan));
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
    // The part after shares the silence: once it is known to be kept.
    if (!batch::Kept(current_->found, options_.plan)) return;
    Close(*pending_, batch::PlannedEnd(pending_->found, nextStart, taken_, options_.plan));
  } else if (nextStart - previous >= 2 * padAfter) {
    // Silence enough for all its padding, whatever comes after.
    Close(*pending_, batch::PlannedEnd(pending_->found, std::nullopt, taken_, options_.plan));
  } else {
    return;
  }
  pending_.reset();
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
  // says it when it is to be named. One that holds frames past the
  // samples' end is not named at all.
  wave::Error error = part.error;
  if (samplesEnd_ && part.written > *samplesEnd_) {
    error = {wave::ErrorCode::Refused,
             "held bytes its writer put after the samples (a chunk, not audio): not kept; split "
             "the finished file for this part"};
  } else if (part.file) {
    error = part.file->Finish(done.name);
  }
  part.file.reset();
  if (error) {
    failed_ = true;
    listener_.Failed(done, error);
  } else {
    listener_.Written(done);
  }
}

}  // namespace corvella::stream
