#include "stream/PartFinder.h"

#include <algorithm>

#include "detect/Units.h"

namespace corvella::stream {

PartFinder::PartFinder(const wave::SourceInfo& info, const detect::DetectParams& params)
    : rule_(detect::RuleFor(info, params)),
      channels_(info.channels),
      width_(wave::BytesOf(info.sampleType)),
      gap_(detect::GapFrames(params.gapThreshold, info.rate)) {}

// As the scanner's end search: every frame up to e + G is judged whatever
// it holds, so the frames from the next to judge up to e + G are taken as one
// stretch of which only the last loud frame matters.
void PartFinder::Judge(const void* samples, std::int64_t count, std::vector<Event>& events) {
  const auto* bytes = static_cast<const std::uint8_t*>(samples);
  const std::int64_t base = position_;
  const std::int64_t end = base + count;
  const auto at = [&](std::int64_t frame) { return bytes + (frame - base) * channels_ * width_; };
  const auto samplesOf = [&](std::int64_t frames) {
    return static_cast<std::size_t>(frames * channels_);
  };
  std::int64_t q = position_;
  while (q < end) {
    if (!inPart_) {
      const std::size_t n = samplesOf(end - q);
      const std::size_t loud = detect::FirstLoudSample(at(q), n, rule_);
      if (loud == n) {
        q = end;
        break;
      }
      start_ = q + static_cast<std::int64_t>(loud) / channels_;
      inPart_ = true;
      loudEnd_ = start_ + 1;
      q = start_ + 1;
      events.push_back({Event::Kind::Start, start_, {}});
      continue;
    }
    const std::int64_t last = std::min(loudEnd_ + gap_, end - 1);
    if (q <= last) {
      const std::size_t n = samplesOf(last - q + 1);
      const std::size_t loud = detect::LastLoudSample(at(q), n, rule_);
      if (loud < n) loudEnd_ = q + static_cast<std::int64_t>(loud) / channels_ + 1;
      q = last + 1;
    }
    if (q - loudEnd_ > gap_) {
      inPart_ = false;
      events.push_back({Event::Kind::End, q, {start_, loudEnd_, 0}});
    }
  }
  position_ = end;
}

void PartFinder::Finish(std::vector<Event>& events) {
  if (!inPart_) return;
  inPart_ = false;
  events.push_back({Event::Kind::End, position_, {start_, loudEnd_, 0}});
}

}  // namespace corvella::stream
