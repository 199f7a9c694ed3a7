#include "detect/Declick.h"

#include <algorithm>
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

void FrameDeclicker::Take(const std::uint8_t* samples, std::int64_t count, bool last) {
  const std::int64_t click = span_.click, alone = span_.alone;
  if (count > 0) waiting_.insert(waiting_.end(), samples, samples + count * frameBytes_);
  for (std::int64_t f = 0; f < count; ++f) {
    const std::uint8_t* frame = samples + f * frameBytes_;
    if (FirstLoudSample(frame, static_cast<std::size_t>(channels_), rule_) <
        static_cast<std::size_t>(channels_))
      loud_.push_back(taken_ + f);
  }
  taken_ += count;
  const std::int64_t until = last ? taken_ : taken_ - alone;
  const std::int64_t from = judged_;
  for (std::int64_t f = judged_; f < until; ++f) {
    // The loud frames within reach of f: from the first at or after
    // f - alone to the last at or before f + alone.
    while (!loud_.empty() && loud_.front() < f - alone) {
      loud_.pop_front();
      --at_;
      --reach_;
    }
    at_ = std::max<std::ptrdiff_t>(at_, 0);
    while (at_ < static_cast<std::ptrdiff_t>(loud_.size()) && loud_[at_] < f) ++at_;
    if (at_ == static_cast<std::ptrdiff_t>(loud_.size()) || loud_[at_] != f) continue;
    reach_ = std::max(reach_, at_);
    while (reach_ + 1 < static_cast<std::ptrdiff_t>(loud_.size()) && loud_[reach_ + 1] <= f + alone)
      ++reach_;
    if (loud_[reach_] - loud_.front() < click) {
      std::memset(waiting_.data() + (f - from) * frameBytes_, silence_,
                  static_cast<std::size_t>(frameBytes_));
    }
  }
  const std::int64_t ready = std::max<std::int64_t>(until - from, 0);
  ready_.assign(waiting_.begin(), waiting_.begin() + ready * frameBytes_);
  waiting_.erase(waiting_.begin(), waiting_.begin() + ready * frameBytes_);
  judged_ += ready;
}

Declicked::Declicked(wave::Source& inner, const DetectParams& params)
    : inner_(inner), params_(params), span_(ClickSpanFor(inner.Info(), params)) {
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
  FrameDeclicker judge(info_, params_);
  judge.Take(buffer_.data(), got / frameBytes, true);
  std::memcpy(buffer_.data(), judge.Ready().data(), judge.Ready().size());
  const std::int64_t skip = offset - from * frameBytes;
  const std::int64_t available = std::clamp<std::int64_t>(got - skip, 0, count);
  std::memcpy(out, buffer_.data() + skip, static_cast<std::size_t>(available));
  return available;
}

}  // namespace corvella::detect
