#include "detect/Profile.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "wave/ByteOrder.h"

namespace corvella::detect {
namespace {

// Below this the high-pass takes nothing out: rumble, DC, and the 50 or
// 60 Hz of mains hum lie under it, music and speech mostly above.
constexpr double kCutHz = 100.0;
// The rate the samples are averaged down to before the filter, at least.
constexpr double kGroupRate = 11025.0;
// A window's level is the mean power of this share of its sub-blocks, the
// quietest: a burst filling the rest of them is no part of it.
constexpr double kKeptShare = 0.6;

// A value of each sample type on the scale of full scale 1.
template <typename T>
struct Reader;
template <>
struct Reader<std::uint8_t> {
  static double At(const std::uint8_t* p, std::size_t i) { return (p[i] - 128) / 128.0; }
};
template <>
struct Reader<std::int16_t> {
  static double At(const std::uint8_t* p, std::size_t i) {
    std::int16_t v;
    std::memcpy(&v, p + 2 * i, 2);
    return v / 32768.0;
  }
};
struct Packed24 {};
template <>
struct Reader<Packed24> {
  static double At(const std::uint8_t* p, std::size_t i) {
    return wave::ReadLe24(p + 3 * i) / 8388608.0;
  }
};
template <>
struct Reader<std::int32_t> {
  static double At(const std::uint8_t* p, std::size_t i) {
    std::int32_t v;
    std::memcpy(&v, p + 4 * i, 4);
    return v / 2147483648.0;
  }
};
template <>
struct Reader<float> {
  static double At(const std::uint8_t* p, std::size_t i) {
    float v;
    std::memcpy(&v, p + 4 * i, 4);
    return std::isfinite(v) ? std::clamp(static_cast<double>(v), -1.0, 1.0) : 0.0;
  }
};
template <>
struct Reader<double> {
  static double At(const std::uint8_t* p, std::size_t i) {
    double v;
    std::memcpy(&v, p + 8 * i, 8);
    return std::isfinite(v) ? std::clamp(v, -1.0, 1.0) : 0.0;
  }
};

}  // namespace

LevelProfile::LevelProfile(const wave::SourceInfo& info, std::int64_t windowFrames)
    : info_(info),
      windowFrames_(std::max<std::int64_t>(1, windowFrames)),
      subFrames_(std::max<std::int64_t>(1, windowFrames_ / 10)) {
  const double rate = info.rate > 0 ? static_cast<double>(info.rate) : 44100.0;
  // The samples are taken in groups of a few frames, averaged: the level of
  // what is heard needs no more than 11 kHz of samples, and a group's mean
  // weakens only the highest frequencies, where surface noise and hiss lie.
  group_ = std::clamp<std::int64_t>(static_cast<std::int64_t>(rate / kGroupRate), 1, subFrames_);
  // Butterworth, second order.
  const double groupRate = rate / static_cast<double>(group_);
  const double w0 = 2.0 * 3.14159265358979323846 * std::min(kCutHz, groupRate / 4) / groupRate;
  const double alpha = std::sin(w0) / (2.0 * 0.70710678118654752);
  const double c = std::cos(w0);
  const double a0 = 1.0 + alpha;
  highPass_ = Section{(1.0 + c) / 2.0 / a0, -(1.0 + c) / a0, (1.0 + c) / 2.0 / a0, -2.0 * c / a0,
                      (1.0 - alpha) / a0};
  subs_.reserve(static_cast<std::size_t>(windowFrames_ / subFrames_ + 2));
}

void LevelProfile::CloseSubBlock() {
  if (inGroup_ > 0) Group();
  subs_.push_back(inSub_ > 0 ? subPower_ / static_cast<double>(inSub_) : 0.0);
  subPower_ = 0;
  inSub_ = 0;
  inSubFrames_ = 0;
  // A filter ringing down to nothing would crawl through subnormal numbers.
  for (double* v : {&highPass_.x1, &highPass_.x2, &highPass_.y1, &highPass_.y2}) {
    if (std::fabs(*v) < 1e-30) *v = 0;
  }
}

void LevelProfile::CloseWindow(const std::function<void(double db)>& window) {
  if (inSubFrames_ > 0) CloseSubBlock();
  const std::size_t kept = std::min(
      subs_.size(), std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(
                                                 kKeptShare * static_cast<double>(subs_.size())))));
  std::nth_element(subs_.begin(), subs_.begin() + static_cast<std::ptrdiff_t>(kept - 1),
                   subs_.end());
  double power = 0;
  for (std::size_t i = 0; i < kept; ++i) power += subs_[i];
  power /= static_cast<double>(kept);
  subs_.clear();
  inWindow_ = 0;
  window(power > 0 ? std::max(10.0 * std::log10(power), kLowestDb) : kLowestDb);
}

void LevelProfile::Group() {
  const double y = highPass_.Run(groupSum_ / static_cast<double>(inGroup_));
  subPower_ += y * y;
  ++inSub_;
  groupSum_ = 0;
  inGroup_ = 0;
}

void LevelProfile::Add(const void* samples, std::int64_t frames,
                       const std::function<void(double db)>& window) {
  if (frames <= 0) return;
  const auto* p = static_cast<const std::uint8_t*>(samples);
  const auto channels = static_cast<std::size_t>(info_.channels);
  // The channels' mean of every frame first, in one plain pass.
  mono_.resize(static_cast<std::size_t>(frames));
  const double share = 1.0 / static_cast<double>(channels);
  auto mix = [&](auto tag) {
    using R = Reader<decltype(tag)>;
    for (std::size_t f = 0; f < mono_.size(); ++f) {
      double sum = 0;
      for (std::size_t c = 0; c < channels; ++c) sum += R::At(p, f * channels + c);
      mono_[f] = static_cast<float>(sum * share);
    }
  };
  if (info_.sampleType == wave::SampleType::S16 && channels <= 2) {
    // The common case, in a loop the compiler makes wide.
    std::vector<std::int16_t>& s16 = s16_;
    s16.resize(static_cast<std::size_t>(frames) * channels);
    std::memcpy(s16.data(), p, s16.size() * 2);
    const float scale = static_cast<float>(share / 32768.0);
    if (channels == 2) {
      for (std::size_t f = 0; f < mono_.size(); ++f)
        mono_[f] = static_cast<float>(s16[2 * f] + s16[2 * f + 1]) * scale;
    } else {
      for (std::size_t f = 0; f < mono_.size(); ++f) mono_[f] = static_cast<float>(s16[f]) * scale;
    }
  } else {
    switch (info_.sampleType) {
      case wave::SampleType::U8:
        mix(std::uint8_t{});
        break;
      case wave::SampleType::S16:
        mix(std::int16_t{});
        break;
      case wave::SampleType::S24:
        mix(Packed24{});
        break;
      case wave::SampleType::S32:
        mix(std::int32_t{});
        break;
      case wave::SampleType::F32:
        mix(float{});
        break;
      case wave::SampleType::F64:
        mix(double{});
        break;
    }
  }
  // Groups of frames, sub-blocks of groups and windows of sub-blocks, a
  // group or a sub-block cut short where a window ends.
  const float* m = mono_.data();
  for (std::int64_t at = 0; at < frames;) {
    const std::int64_t take = std::min({subFrames_ - inSubFrames_, windowFrames_ - inWindow_,
                                        frames - at});
    std::int64_t i = 0;
    // The group under way, then whole groups, then the start of the next.
    for (; i < take && inGroup_ > 0; ++i) {
      groupSum_ += m[at + i];
      if (++inGroup_ == group_) Group();
    }
    const double inverse = 1.0 / static_cast<double>(group_);
    for (; i + group_ <= take; i += group_) {
      double sum = 0;
      for (std::int64_t g = 0; g < group_; ++g) sum += m[at + i + g];
      const double y = highPass_.Run(sum * inverse);
      subPower_ += y * y;
      ++inSub_;
    }
    for (; i < take; ++i) {
      groupSum_ += m[at + i];
      ++inGroup_;
    }
    at += take;
    inSubFrames_ += take;
    inWindow_ += take;
    if (inWindow_ == windowFrames_) {
      CloseWindow(window);
    } else if (inSubFrames_ == subFrames_) {
      CloseSubBlock();
    }
  }
}

void LevelProfile::Finish(const std::function<void(double db)>& window) {
  if (inWindow_ > 0) CloseWindow(window);
}

wave::Error ProfileOf(wave::Source& source, std::int64_t windowFrames, std::int64_t first,
                      std::int64_t count, std::vector<double>& levels) {
  // The filter settles within a few milliseconds of a hundred hertz.
  constexpr std::int64_t kSettleWindows = 20;
  const wave::SourceInfo& info = source.Info();
  const std::int64_t frameBytes = info.FrameBytes();
  const std::int64_t from = std::max<std::int64_t>(0, first - kSettleWindows);
  const std::int64_t start = from * windowFrames;
  const std::int64_t end = std::min(info.frames, (first + count) * windowFrames);
  levels.clear();
  LevelProfile profile(info, windowFrames);
  std::int64_t window = from;
  const auto take = [&](double db) {
    if (window++ >= first) levels.push_back(db);
  };
  std::vector<double> buffer(static_cast<std::size_t>(std::max<std::int64_t>(frameBytes, 65536) / 8 + 1));
  const std::int64_t perRead = std::max<std::int64_t>(1, 65536 / frameBytes);
  for (std::int64_t frame = start; frame < end;) {
    const std::int64_t frames = std::min(perRead, end - frame);
    if (source.ReadSamples(frame * frameBytes, buffer.data(), frames * frameBytes) !=
        frames * frameBytes)
      return wave::ErrorCode::UnableToRead;
    profile.Add(buffer.data(), frames, take);
    frame += frames;
  }
  profile.Finish(take);
  return {};
}

void RunningMedian::Emit(const std::function<void(double db)>& out) {
  // The median of the windows within span / 2 of the one handed on: the
  // levels in hand, kept sorted as they come and go.
  const std::int64_t half = span_ / 2;
  out(sorted_[sorted_.size() / 2]);
  ++emitted_;
  // The level further back than half the span is no longer needed.
  if (emitted_ - half > seen_ - static_cast<std::int64_t>(recent_.size())) {
    const double old = recent_.front();
    recent_.pop_front();
    sorted_.erase(std::lower_bound(sorted_.begin(), sorted_.end(), old));
  }
}

void RunningMedian::Add(double db, const std::function<void(double db)>& out) {
  recent_.push_back(db);
  sorted_.insert(std::upper_bound(sorted_.begin(), sorted_.end(), db), db);
  ++seen_;
  if (seen_ - emitted_ > span_ / 2) Emit(out);
}

void RunningMedian::Finish(const std::function<void(double db)>& out) {
  while (emitted_ < seen_) Emit(out);
}

}  // namespace corvella::detect
