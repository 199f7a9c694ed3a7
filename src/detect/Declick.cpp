#include "detect/Declick.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "detect/Units.h"

namespace corvella::detect {

ClickSpan ClickSpanFor(const wave::SourceInfo& info, const DetectParams& params) {
  const std::int64_t rate = info.rate > 0 ? info.rate : kGapUnitsPerSecond;
  ClickSpan span;
  span.click = std::max<std::int64_t>(1, rate * params.ignoreClicksMs / 1000);
  span.alone = std::max(rate / 50, 4 * span.click);
  return span;
}

FrameDeclicker::FrameDeclicker(const wave::SourceInfo& info, const DetectParams& params)
    : rule_(RuleFor(info, params)),
      channels_(info.channels),
      frameBytes_(info.FrameBytes()),
      silence_(info.sampleType == wave::SampleType::U8 ? 128 : 0),
      span_(ClickSpanFor(info, params)) {}

void FrameDeclicker::Flag(const std::uint8_t* samples, std::int64_t count) {
  const std::size_t held = loud_.size();
  loud_.resize(held + static_cast<std::size_t>(std::max<std::int64_t>(count, 0)));
  if (count > 0)
    FlagLoudFrames(samples, static_cast<std::size_t>(count), channels_, rule_, loud_.data() + held);
  taken_ += count;
}

void FrameDeclicker::Silence(std::int64_t from, std::int64_t until, std::uint8_t* frames) {
  const std::int64_t click = span_.click, alone = span_.alone;
  // The nearest loud frames on either side of each frame in hand, as far as
  // the frames in hand go: none further back than `alone` before the first
  // frame to judge matters.
  const auto held = static_cast<std::size_t>(taken_ - flagsFrom_);
  previous_.resize(held);
  next_.resize(held);
  for (std::size_t i = 0, seen = SIZE_MAX; i < held; ++i) {
    if (loud_[i]) seen = i;
    previous_[i] = seen == SIZE_MAX ? -1 : flagsFrom_ + static_cast<std::int64_t>(seen);
  }
  for (std::size_t i = held, seen = SIZE_MAX; i-- > 0;) {
    if (loud_[i]) seen = i;
    next_[i] = seen == SIZE_MAX ? taken_ : flagsFrom_ + static_cast<std::int64_t>(seen);
  }
  // A loud frame whose loud neighbours within reach all lie within a
  // click's length of each other is a click's, and is silenced.
  for (std::int64_t f = from; f < until; ++f) {
    if (!loud_[static_cast<std::size_t>(f - flagsFrom_)]) continue;
    const std::int64_t lo = std::max(flagsFrom_, f - alone);
    const std::int64_t hi = std::min(taken_ - 1, f + alone);
    const std::int64_t firstLoud = next_[static_cast<std::size_t>(lo - flagsFrom_)];
    const std::int64_t lastLoud = previous_[static_cast<std::size_t>(hi - flagsFrom_)];
    if (lastLoud - firstLoud < click) {
      std::memset(frames + (f - from) * frameBytes_, silence_,
                  static_cast<std::size_t>(frameBytes_));
    }
  }
}

void FrameDeclicker::Take(const std::uint8_t* samples, std::int64_t count, bool last) {
  if (count > 0) waiting_.insert(waiting_.end(), samples, samples + count * frameBytes_);
  Flag(samples, count);
  const std::int64_t until = last ? taken_ : taken_ - span_.alone;
  ready_.clear();
  if (until <= judged_) return;
  Silence(judged_, until, waiting_.data());
  const std::int64_t ready = until - judged_;
  ready_.assign(waiting_.begin(), waiting_.begin() + ready * frameBytes_);
  waiting_.erase(waiting_.begin(), waiting_.begin() + ready * frameBytes_);
  judged_ = until;
  // Frames further back than `alone` before the next to judge are done with.
  const std::int64_t keepFrom = std::max(flagsFrom_, judged_ - span_.alone);
  loud_.erase(loud_.begin(), loud_.begin() + (keepFrom - flagsFrom_));
  flagsFrom_ = keepFrom;
}

void FrameDeclicker::JudgeAll(std::uint8_t* samples, std::int64_t count) {
  taken_ = judged_ = flagsFrom_ = 0;
  waiting_.clear();
  ready_.clear();
  loud_.clear();
  Flag(samples, count);
  Silence(0, count, samples);
  judged_ = count;
}

Declicked::Declicked(wave::Source& inner, const DetectParams& params)
    : inner_(inner), span_(ClickSpanFor(inner.Info(), params)), judge_(inner.Info(), params) {
  info_ = inner.Info();
}

std::int64_t Declicked::ReadSamples(std::int64_t offset, void* out, std::int64_t count) {
  const std::int64_t frameBytes = info_.FrameBytes();
  const std::int64_t extentFrames = info_.extentBytes / frameBytes;
  // The frames asked for, and around them as far as a click's company is looked for.
  const std::int64_t first = offset / frameBytes;
  const std::int64_t last = std::min(extentFrames, (offset + count + frameBytes - 1) / frameBytes);
  const std::int64_t margin = span_.alone + span_.click;
  const std::int64_t from = std::max<std::int64_t>(0, first - margin);
  // Up to the extent's end, bytes of no whole frame included: they pass
  // through unjudged, as the source gives them.
  const std::int64_t to = std::min(info_.extentBytes, (last + margin) * frameBytes);
  const std::int64_t bytes = std::max<std::int64_t>(to - from * frameBytes, 0);
  buffer_.resize(static_cast<std::size_t>(bytes));
  const std::int64_t got = inner_.ReadSamples(from * frameBytes, buffer_.data(), bytes);
  if (got < 0) return -1;
  // Judged as a recording that ends where the read does: no loud frame
  // past it keeps a burst company.
  judge_.JudgeAll(buffer_.data(), got / frameBytes);
  const std::int64_t skip = offset - from * frameBytes;
  const std::int64_t available = std::clamp<std::int64_t>(got - skip, 0, count);
  std::memcpy(out, buffer_.data() + skip, static_cast<std::size_t>(available));
  return available;
}

}  // namespace corvella::detect
