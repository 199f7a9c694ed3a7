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
// Sub-blocks a window.
constexpr std::int64_t kSubBlocks = 10;
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
      subFrames_(std::max<std::int64_t>(1, windowFrames_ / kSubBlocks)),
      subBlocks_(std::max<std::int64_t>(1, (windowFrames_ + subFrames_ / 2) / subFrames_)) {
  // Butterworth, second order, at the rate of the sub-blocks.
  const double rate = info.rate > 0 ? static_cast<double>(info.rate) : 44100.0;
  const double subRate = rate / static_cast<double>(subFrames_);
  const double w0 = 2.0 * 3.14159265358979323846 * std::min(kCutHz, subRate / 4) / subRate;
  const double alpha = std::sin(w0) / (2.0 * 0.70710678118654752);
  const double c = std::cos(w0);
  const double a0 = 1.0 + alpha;
  highPass_ = Section{(1.0 + c) / 2.0 / a0, -(1.0 + c) / a0, (1.0 + c) / 2.0 / a0, -2.0 * c / a0,
                      (1.0 - alpha) / a0};
  subs_.reserve(static_cast<std::size_t>(subBlocks_));
}

std::int64_t LevelProfile::SubBlockEnd(std::int64_t at) const {
  const std::int64_t index = at / subFrames_;
  return index + 1 >= subBlocks_ ? windowFrames_ : (index + 1) * subFrames_;
}

void LevelProfile::Sum(const void* samples, std::int64_t first, std::int64_t frames,
                       std::vector<Piece>& pieces) const {
  pieces.clear();
  if (frames <= 0) return;
  const auto* p = static_cast<const std::uint8_t*>(samples);
  const auto channels = static_cast<std::size_t>(info_.channels);
  const double share = 1.0 / static_cast<double>(channels);
  // Cuts the frames at the sub-blocks' ends and sums each piece with `sums`.
  const auto cut = [&](const auto& sums) {
    for (std::int64_t at = 0; at < frames;) {
      const std::int64_t inWindow = (first + at) % windowFrames_;
      const std::int64_t take = std::min(SubBlockEnd(inWindow) - inWindow, frames - at);
      Piece piece;
      piece.frames = take;
      sums(at, take, piece);
      pieces.push_back(piece);
      at += take;
    }
  };
  if (info_.sampleType == wave::SampleType::S16 && channels <= 2) {
    // The common case in whole numbers: exact, whatever the offset, and
    // additions that do not wait on each other.
    const double scale = share / 32768.0;
    cut([&](std::int64_t from, std::int64_t count, Piece& piece) {
      std::int64_t s = 0, s2 = 0;
      if (channels == 2) {
        const std::uint8_t* q = p + 4 * from;
        for (std::int64_t k = 0; k < count; ++k) {
          std::int16_t lr[2];
          std::memcpy(lr, q + 4 * k, 4);
          const std::int64_t v = lr[0] + lr[1];
          s += v;
          s2 += v * v;
        }
      } else {
        const std::uint8_t* q = p + 2 * from;
        for (std::int64_t k = 0; k < count; ++k) {
          std::int16_t v16;
          std::memcpy(&v16, q + 2 * k, 2);
          const std::int64_t v = v16;
          s += v;
          s2 += v * v;
        }
      }
      piece.sum = static_cast<double>(s) * scale;
      piece.squares = static_cast<double>(s2) * scale * scale;
    });
    return;
  }
  // Else the channels' mean of every frame first, in one plain pass.
  mono_.resize(static_cast<std::size_t>(frames));
  auto mix = [&](auto tag) {
    using R = Reader<decltype(tag)>;
    for (std::size_t f = 0; f < mono_.size(); ++f) {
      double sum = 0;
      for (std::size_t c = 0; c < channels; ++c) sum += R::At(p, f * channels + c);
      mono_[f] = static_cast<float>(sum * share);
    }
  };
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
  cut([&](std::int64_t from, std::int64_t count, Piece& piece) {
    double s = 0, s2 = 0;
    for (std::int64_t k = 0; k < count; ++k) {
      const double v = mono_[static_cast<std::size_t>(from + k)];
      s += v;
      s2 += v * v;
    }
    piece.sum = s;
    piece.squares = s2;
  });
}

void LevelProfile::CloseSubBlock() {
  const auto n = static_cast<double>(sub_.frames);
  if (sub_.frames > 0) {
    // The sub-block's mean, filtered, for every frame of it; what varies
    // within it (frequencies well above hum and rumble) as it is.
    const double y = highPass_.Run(sub_.sum / n);
    const double within = std::max(0.0, sub_.squares - sub_.sum * sub_.sum / n);
    subs_.push_back(y * y + within / n);
  }
  sub_ = {};
  // A filter ringing down to nothing would crawl through subnormal numbers.
  for (double* v : {&highPass_.x1, &highPass_.x2, &highPass_.y1, &highPass_.y2}) {
    if (std::fabs(*v) < 1e-30) *v = 0;
  }
}

void LevelProfile::CloseWindow(const std::function<void(double db)>& window) {
  if (sub_.frames > 0) CloseSubBlock();
  double power = 0;
  if (!subs_.empty()) {
    const std::size_t kept = std::min(
        subs_.size(), std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(
                                                   kKeptShare * static_cast<double>(subs_.size())))));
    std::nth_element(subs_.begin(), subs_.begin() + static_cast<std::ptrdiff_t>(kept - 1),
                     subs_.end());
    for (std::size_t i = 0; i < kept; ++i) power += subs_[i];
    power /= static_cast<double>(kept);
  }
  subs_.clear();
  inWindow_ = 0;
  window(power > 0 ? std::max(10.0 * std::log10(power), kLowestDb) : kLowestDb);
}

void LevelProfile::Add(const std::vector<Piece>& pieces,
                       const std::function<void(double db)>& window) {
  for (const Piece& piece : pieces) {
    sub_.frames += piece.frames;
    sub_.sum += piece.sum;
    sub_.squares += piece.squares;
    const std::int64_t at = inWindow_;
    inWindow_ += piece.frames;
    if (inWindow_ >= windowFrames_) {
      CloseWindow(window);
    } else if (inWindow_ >= SubBlockEnd(at)) {
      CloseSubBlock();
    }
  }
}

void LevelProfile::Add(const void* samples, std::int64_t frames,
                       const std::function<void(double db)>& window) {
  Sum(samples, taken_, frames, pieces_);
  taken_ += frames;
  Add(pieces_, window);
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
