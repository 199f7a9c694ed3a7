#include "detect/LoudScan.h"

#include <algorithm>
#include <cmath>

#include "detect/Units.h"
#include "wave/ByteOrder.h"
#include "wave/VectorClones.h"

namespace corvella::detect {
namespace {

using wave::SampleType;

// Samples judged together: the inner loop carries no early exit, so the
// compiler turns it into wide instructions; only a chunk that holds a loud
// sample is looked at one sample at a time.
constexpr std::size_t kChunk = 128;

// A limit L on a magnitude as one unsigned comparison: with u = x + L taken
// modulo 2^W, -L <= x <= L exactly when u <= 2L (for 0 <= L < 2^(W-1)).
template <typename Unsigned>
struct Bounds {
  Unsigned offset;
  Unsigned limit;
  bool none;  // the limit is at or above the largest magnitude: nothing is loud
  bool all;   // the limit is negative: everything is loud
};

template <typename Unsigned>
Bounds<Unsigned> BoundsOf(std::int64_t limit, std::int64_t largest) {
  if (limit >= largest) return {0, 0, true, false};
  if (limit < 0) return {0, 0, false, true};
  return {static_cast<Unsigned>(limit), static_cast<Unsigned>(2 * limit), false, false};
}

// How each sample type reads as a value that the unsigned comparison takes.
struct S16 {
  using Unsigned = std::uint16_t;
  static constexpr std::size_t kWidth = 2;
  static constexpr std::int64_t kLargest = 32768;
  static Unsigned At(const std::uint8_t* p, std::size_t i) {
    return static_cast<Unsigned>(reinterpret_cast<const std::int16_t*>(p)[i]);
  }
};
struct S32 {
  using Unsigned = std::uint32_t;
  static constexpr std::size_t kWidth = 4;
  static constexpr std::int64_t kLargest = std::int64_t{1} << 31;
  static Unsigned At(const std::uint8_t* p, std::size_t i) {
    return static_cast<Unsigned>(reinterpret_cast<const std::int32_t*>(p)[i]);
  }
};
struct S24 {
  using Unsigned = std::uint32_t;
  static constexpr std::size_t kWidth = 3;
  static constexpr std::int64_t kLargest = std::int64_t{1} << 23;
  static Unsigned At(const std::uint8_t* p, std::size_t i) {
    return static_cast<Unsigned>(wave::ReadLe24(p + 3 * i));
  }
};
struct U8 {  // unsigned, offset by 128
  using Unsigned = std::uint8_t;
  static constexpr std::size_t kWidth = 1;
  static constexpr std::int64_t kLargest = 128;
  static Unsigned At(const std::uint8_t* p, std::size_t i) {
    return static_cast<Unsigned>(p[i] - 128);
  }
};

template <typename T>
inline bool Loud(const std::uint8_t* p, std::size_t i, Bounds<typename T::Unsigned> b) {
  return static_cast<typename T::Unsigned>(T::At(p, i) + b.offset) > b.limit;
}

template <typename T>
CORVELLA_VECTOR_CLONES bool ChunkHasLoud(const std::uint8_t* p, Bounds<typename T::Unsigned> b) {
  typename T::Unsigned highest = 0;
  for (std::size_t j = 0; j < kChunk; ++j) {
    highest = std::max(highest, static_cast<typename T::Unsigned>(T::At(p, j) + b.offset));
  }
  return highest > b.limit;
}

template <typename T>
std::size_t FirstLoud(const std::uint8_t* p, std::size_t count, std::int64_t limit) {
  const auto b = BoundsOf<typename T::Unsigned>(limit, T::kLargest);
  if (b.none) return count;
  if (b.all) return 0;
  std::size_t i = 0;
  while (i + kChunk <= count && !ChunkHasLoud<T>(p + i * T::kWidth, b)) i += kChunk;
  for (; i < count; ++i) {
    if (Loud<T>(p, i, b)) return i;
  }
  return count;
}

template <typename T>
std::size_t LastLoud(const std::uint8_t* p, std::size_t count, std::int64_t limit) {
  const auto b = BoundsOf<typename T::Unsigned>(limit, T::kLargest);
  if (b.none || count == 0) return count;
  if (b.all) return count - 1;
  std::size_t end = count;  // samples [end, count) hold nothing loud
  while (end >= kChunk && !ChunkHasLoud<T>(p + (end - kChunk) * T::kWidth, b)) end -= kChunk;
  while (end > 0) {
    --end;
    if (Loud<T>(p, end, b)) return end;
  }
  return count;
}

// Float samples: loud unless the magnitude is at most the limit, so a NaN
// is loud, and an infinity.
template <typename Float>
inline bool LoudFloat(Float x, Float limit) {
  return !(std::fabs(x) <= limit);
}

template <typename Float>
CORVELLA_VECTOR_CLONES bool FloatChunkHasLoud(const Float* s, Float limit) {
  bool loud = false;
  for (std::size_t j = 0; j < kChunk; ++j) loud |= LoudFloat(s[j], limit);
  return loud;
}

// The largest Float at most `limit`: a Float is greater than `limit`
// exactly when it is greater than this.
template <typename Float>
Float Below(double limit) {
  auto l = static_cast<Float>(limit);
  if (static_cast<double>(l) > limit) l = std::nextafter(l, Float{0});
  return l;
}

template <typename Float>
std::size_t FirstLoudFloat(const Float* s, std::size_t count, double limit) {
  const Float l = Below<Float>(limit);
  std::size_t i = 0;
  while (i + kChunk <= count && !FloatChunkHasLoud(s + i, l)) i += kChunk;
  for (; i < count; ++i) {
    if (LoudFloat(s[i], l)) return i;
  }
  return count;
}

template <typename Float>
std::size_t LastLoudFloat(const Float* s, std::size_t count, double limit) {
  const Float l = Below<Float>(limit);
  std::size_t end = count;
  while (end >= kChunk && !FloatChunkHasLoud(s + end - kChunk, l)) end -= kChunk;
  while (end > 0) {
    --end;
    if (LoudFloat(s[end], l)) return end;
  }
  return count;
}

template <typename T>
void FlagFrames(const std::uint8_t* p, std::size_t frames, std::size_t channels,
                std::int64_t limit, std::uint8_t* out) {
  const auto b = BoundsOf<typename T::Unsigned>(limit, T::kLargest);
  if (b.none || b.all) {
    std::fill(out, out + frames, b.all ? 1 : 0);
    return;
  }
  for (std::size_t f = 0; f < frames; ++f) {
    bool loud = false;
    for (std::size_t c = 0; c < channels; ++c) loud |= Loud<T>(p, f * channels + c, b);
    out[f] = loud;
  }
}

template <typename Float>
void FlagFloatFrames(const Float* s, std::size_t frames, std::size_t channels, double limit,
                     std::uint8_t* out) {
  const Float l = Below<Float>(limit);
  for (std::size_t f = 0; f < frames; ++f) {
    bool loud = false;
    for (std::size_t c = 0; c < channels; ++c) loud |= LoudFloat(s[f * channels + c], l);
    out[f] = loud;
  }
}

}  // namespace

LoudRule RuleFor(const wave::SourceInfo& info, const DetectParams& params) {
  LoudRule rule;
  rule.type = info.sampleType;
  const bool exactDb = params.thresholdDb && info.bits != 16;
  if (wave::IsFloat(info.sampleType)) {
    rule.floatLimit =
        params.thresholdDb ? FractionOfDb(*params.thresholdDb) : params.noiseFloor / 32768.0;
    return rule;
  }
  // The limit in the recording's own width b...
  const int b = info.bits;
  std::int64_t limit = 0;
  if (exactDb) {
    limit = static_cast<std::int64_t>(
        std::floor(FractionOfDb(*params.thresholdDb) * std::ldexp(1.0, b - 1)));
  } else {
    limit = b >= 16 ? static_cast<std::int64_t>(params.noiseFloor) << (b - 16)
                    : params.noiseFloor >> (16 - b);
  }
  // ...and in the width the samples are delivered in, where each b-bit value
  // stands shifted up: |x| > L exactly when |x| * 2^s > (L + 1) * 2^s - 1.
  const int delivered = 8 * wave::BytesOf(info.sampleType);
  const int shift = delivered - b;
  rule.limit = shift > 0 ? ((limit + 1) << shift) - 1 : limit;
  return rule;
}

std::size_t FirstLoudSample(const void* samples, std::size_t count, const LoudRule& rule) {
  const auto* p = static_cast<const std::uint8_t*>(samples);
  switch (rule.type) {
    case SampleType::U8:
      return FirstLoud<U8>(p, count, rule.limit);
    case SampleType::S16:
      return FirstLoud<S16>(p, count, rule.limit);
    case SampleType::S24:
      return FirstLoud<S24>(p, count, rule.limit);
    case SampleType::S32:
      return FirstLoud<S32>(p, count, rule.limit);
    case SampleType::F32:
      return FirstLoudFloat(static_cast<const float*>(samples), count, rule.floatLimit);
    case SampleType::F64:
      return FirstLoudFloat(static_cast<const double*>(samples), count, rule.floatLimit);
  }
  return count;
}

std::size_t LastLoudSample(const void* samples, std::size_t count, const LoudRule& rule) {
  const auto* p = static_cast<const std::uint8_t*>(samples);
  switch (rule.type) {
    case SampleType::U8:
      return LastLoud<U8>(p, count, rule.limit);
    case SampleType::S16:
      return LastLoud<S16>(p, count, rule.limit);
    case SampleType::S24:
      return LastLoud<S24>(p, count, rule.limit);
    case SampleType::S32:
      return LastLoud<S32>(p, count, rule.limit);
    case SampleType::F32:
      return LastLoudFloat(static_cast<const float*>(samples), count, rule.floatLimit);
    case SampleType::F64:
      return LastLoudFloat(static_cast<const double*>(samples), count, rule.floatLimit);
  }
  return count;
}

void FlagLoudFrames(const void* samples, std::size_t frames, int channels, const LoudRule& rule,
                    std::uint8_t* out) {
  const auto* p = static_cast<const std::uint8_t*>(samples);
  const auto n = static_cast<std::size_t>(channels);
  switch (rule.type) {
    case SampleType::U8:
      return FlagFrames<U8>(p, frames, n, rule.limit, out);
    case SampleType::S16:
      return FlagFrames<S16>(p, frames, n, rule.limit, out);
    case SampleType::S24:
      return FlagFrames<S24>(p, frames, n, rule.limit, out);
    case SampleType::S32:
      return FlagFrames<S32>(p, frames, n, rule.limit, out);
    case SampleType::F32:
      return FlagFloatFrames(static_cast<const float*>(samples), frames, n, rule.floatLimit, out);
    case SampleType::F64:
      return FlagFloatFrames(static_cast<const double*>(samples), frames, n, rule.floatLimit, out);
  }
}

}  // namespace corvella::detect
