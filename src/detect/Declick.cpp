#include "detect/Declick.h"

#include <algorithm>
#include <cstring>

namespace corvella::detect {

Declicked::Declicked(wave::Source& inner, const LoudRule& rule, std::int64_t clickFrames,
                     std::int64_t aloneFrames)
    : inner_(inner), rule_(rule), click_(clickFrames), alone_(aloneFrames) {
  info_ = inner.Info();
}

std::int64_t Declicked::ReadSamples(std::int64_t offset, void* out, std::int64_t count) {
  const int channels = info_.channels;
  const std::int64_t frameBytes = info_.FrameBytes();
  const std::int64_t extentFrames = info_.extentBytes / frameBytes;
  // The frames asked for, and around them as far as a click's company is looked for.
  const std::int64_t first = offset / frameBytes;
  const std::int64_t last = std::min(extentFrames, (offset + count + frameBytes - 1) / frameBytes);
  const std::int64_t margin = alone_ + click_;
  const std::int64_t from = std::max<std::int64_t>(0, first - margin);
  // Up to the extent's end, bytes of no whole frame included: they pass
  // through unjudged, as the source gives them.
  const std::int64_t to = std::min(info_.extentBytes, (last + margin) * frameBytes);
  const std::int64_t bytes = std::max<std::int64_t>(to - from * frameBytes, 0);
  buffer_.resize(static_cast<std::size_t>(bytes));
  const std::int64_t got = inner_.ReadSamples(from * frameBytes, buffer_.data(), bytes);
  if (got < 0) return -1;
  const std::int64_t have = got / frameBytes;

  previous_.assign(static_cast<std::size_t>(have), -1);
  next_.assign(static_cast<std::size_t>(have), have);
  for (std::int64_t f = 0, seen = -1; f < have; ++f) {
    const std::uint8_t* frame = buffer_.data() + f * frameBytes;
    if (FirstLoudSample(frame, static_cast<std::size_t>(channels), rule_) <
        static_cast<std::size_t>(channels))
      seen = f;
    previous_[static_cast<std::size_t>(f)] = seen;
  }
  for (std::int64_t f = have - 1, seen = have; f >= 0; --f) {
    if (previous_[static_cast<std::size_t>(f)] == f) seen = f;
    next_[static_cast<std::size_t>(f)] = seen;
  }
  // A loud frame whose loud neighbours within reach all lie within a click's
  // length of each other is a click's, and is silenced.
  for (std::int64_t f = first - from; f < std::min(have, last - from); ++f) {
    if (previous_[static_cast<std::size_t>(f)] != f) continue;
    const std::int64_t lo = std::max<std::int64_t>(0, f - alone_);
    const std::int64_t hi = std::min(have - 1, f + alone_);
    const std::int64_t firstLoud = next_[static_cast<std::size_t>(lo)];
    const std::int64_t lastLoud = previous_[static_cast<std::size_t>(hi)];
    if (lastLoud - firstLoud < click_) {
      std::uint8_t* frame = buffer_.data() + f * frameBytes;
      std::memset(frame, info_.sampleType == wave::SampleType::U8 ? 128 : 0,
                  static_cast<std::size_t>(frameBytes));
    }
  }
  const std::int64_t skip = offset - from * frameBytes;
  const std::int64_t available = std::clamp<std::int64_t>(got - skip, 0, count);
  std::memcpy(out, buffer_.data() + skip, static_cast<std::size_t>(available));
  return available;
}

}  // namespace corvella::detect
