#include "detect/Profile.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "wave/Samples.h"

namespace corvella::detect {
namespace {

// Below this the high-pass takes nothing out: rumble, DC, and the 50 or
// 60 Hz of mains hum lie under it, music and speech mostly above.
constexpr double kCutHz = 100.0;
// Sub-blocks a window.
constexpr std::int64_t kSubBlocks = 10;
// The samples are taken in groups of a few frames as well: what varies
// within a group (above about 5 kHz) is mostly hiss and surface noise, and
// counts this much (-12 dB) of its power. Music that lives up there alone,
// a whistle or a bird, still shows.
constexpr double kGroupRate = 11025.0;
constexpr double kAboveGroups = 1.0 / 16;

// Sums one piece of `count` frames that begins `offset` frames into its
// sub-block, `v` holding each frame's mean of the channels (whole numbers
// in units of `scale`, summed as T, or values with scale 1).
template <typename T, typename V>
void SumPiece(const V* v, std::int64_t count, std::int64_t offset, std::int64_t group, double scale,
              LevelProfile::Piece& piece) {
  T s = 0, s2 = 0;
  for (std::int64_t k = 0; k < count; ++k) {
    s += v[k];
    s2 += static_cast<T>(v[k]) * v[k];
  }
  piece.sum = static_cast<double>(s) * scale;
  piece.squares = static_cast<double>(s2) * scale * scale;
  std::int64_t k = 0;
  const std::int64_t into = offset == 0 ? 0 : offset % group;
  if (into != 0) {
    const std::int64_t n = std::min(group - into, count);
    T head = 0;
    for (; k < n; ++k) head += v[k];
    piece.headSum = static_cast<double>(head) * scale;
    piece.headFrames = n;
    piece.headCloses = into + n == group;
  }
  double groups = 0;
  for (; k + group <= count; k += group) {
    T g = 0;
    for (std::int64_t j = 0; j < group; ++j) g += v[k + j];
    groups += static_cast<double>(g) * static_cast<double>(g);
  }
  piece.groupSquares = groups * scale * scale / static_cast<double>(group);
  T tail = 0;
  piece.tailFrames = count - k;
  for (; k < count; ++k) tail += v[k];
  piece.tailSum = static_cast<double>(tail) * scale;
}
// A window's level is the mean power of this share of its sub-blocks, the
// quietest: a burst filling the rest of them is no part of it.
constexpr double kKeptShare = 0.6;

// The same for two channels of 16 bits in groups of four frames, the most
// common case, in one pass of whole numbers straight from the bytes.
void SumStereo16By4(const std::uint8_t* q, std::int64_t count, std::int64_t offset, double scale,
                    LevelProfile::Piece& piece) {
  const auto at = [q](std::int64_t k) {
    std::int16_t lr[2];
    std::memcpy(lr, q + 4 * k, 4);
    return static_cast<std::int64_t>(lr[0]) + lr[1];
  };
  std::int64_t s = 0, s2 = 0, groups = 0, k = 0;
  const std::int64_t into = offset == 0 ? 0 : offset % 4;
  if (into != 0) {
    const std::int64_t n = std::min(4 - into, count);
    std::int64_t head = 0;
    for (; k < n; ++k) {
      const std::int64_t v = at(k);
      head += v;
      s2 += v * v;
    }
    s += head;
    piece.headSum = static_cast<double>(head) * scale;
    piece.headFrames = n;
    piece.headCloses = into + n == 4;
  }
#ifdef __SSE2__
  // Four frames at a time in one register: the channels' sums by a
  // multiply-add with ones, their squares (of magnitudes up to 65536) as
  // unsigned 64-bit products, the group's sum across the lanes.
  {
    const __m128i ones = _mm_set1_epi16(1);
    __m128i squares = _mm_setzero_si128();
    for (; k + 4 <= count; k += 4) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 4 * k));
      const __m128i v = _mm_madd_epi16(x, ones);
      const __m128i sign = _mm_srai_epi32(v, 31);
      const __m128i magnitude = _mm_sub_epi32(_mm_xor_si128(v, sign), sign);
      squares = _mm_add_epi64(squares, _mm_mul_epu32(magnitude, magnitude));
      squares = _mm_add_epi64(squares, _mm_mul_epu32(_mm_srli_epi64(magnitude, 32),
                                                     _mm_srli_epi64(magnitude, 32)));
      __m128i g4 = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
      g4 = _mm_add_epi32(g4, _mm_shuffle_epi32(g4, _MM_SHUFFLE(2, 3, 0, 1)));
      const std::int64_t g = _mm_cvtsi128_si32(g4);
      s += g;
      groups += g * g;
    }
    std::uint64_t lanes[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), squares);
    s2 += static_cast<std::int64_t>(lanes[0] + lanes[1]);
  }
#endif
  for (; k + 4 <= count; k += 4) {
    std::int16_t x[8];
    std::memcpy(x, q + 4 * k, 16);
    const std::int64_t v0 = x[0] + x[1], v1 = x[2] + x[3], v2 = x[4] + x[5], v3 = x[6] + x[7];
    const std::int64_t g = v0 + v1 + v2 + v3;
    s += g;
    s2 += v0 * v0 + v1 * v1 + v2 * v2 + v3 * v3;
    groups += g * g;
  }
  std::int64_t tail = 0;
  piece.tailFrames = count - k;
  for (; k < count; ++k) {
    const std::int64_t v = at(k);
    tail += v;
    s2 += v * v;
  }
  s += tail;
  piece.tailSum = static_cast<double>(tail) * scale;
  piece.groupSquares = static_cast<double>(groups) * scale * scale / 4;
  piece.sum = static_cast<double>(s) * scale;
  piece.squares = static_cast<double>(s2) * scale * scale;
}

}  // namespace

LevelProfile::LevelProfile(const wave::SourceInfo& info, std::int64_t windowFrames)
    : info_(info),
      windowFrames_(std::max<std::int64_t>(1, windowFrames)),
      subFrames_(std::max<std::int64_t>(1, windowFrames_ / kSubBlocks)),
      subBlocks_(std::max<std::int64_t>(1, (windowFrames_ + subFrames_ / 2) / subFrames_)) {
  // Butterworth, second order, at the rate of the sub-blocks.
  const double rate = info.rate > 0 ? static_cast<double>(info.rate) : 44100.0;
  group_ = std::clamp<std::int64_t>(static_cast<std::int64_t>(rate / kGroupRate), 1, subFrames_);
  const double subRate = rate / static_cast<double>(subFrames_);
  const double w0 = 2.0 * 3.14159265358979323846 * std::min(kCutHz, subRate / 4) / subRate;
  const double alpha = std::sin(w0) / (2.0 * 0.70710678118654752);
  const double c = std::cos(w0);
  const double a0 = 1.0 + alpha;
  highPass_ = Section{(1.0 + c) / 2.0 / a0, -(1.0 + c) / a0, (1.0 + c) / 2.0 / a0, -2.0 * c / a0,
                      (1.0 - alpha) / a0};
  subs_.reserve(static_cast<std::size_t>(subBlocks_));
  subEnd_ = SubBlockEnd(0);
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
    // Where the first frame lies in its window and sub-block; from there
    // on, the pieces are whole sub-blocks but at the block's end.
    std::int64_t inWindow = first % windowFrames_;
    std::int64_t index = std::min(inWindow / subFrames_, subBlocks_ - 1);
    std::int64_t offset = inWindow - index * subFrames_;
    for (std::int64_t at = 0; at < frames;) {
      const std::int64_t end = index + 1 >= subBlocks_ ? windowFrames_ : (index + 1) * subFrames_;
      const std::int64_t take = std::min(end - inWindow, frames - at);
      pieces.emplace_back();
      Piece& piece = pieces.back();
      piece.frames = take;
      sums(at, take, offset, piece);
      at += take;
      inWindow += take;
      offset = 0;
      if (inWindow == windowFrames_) {
        inWindow = 0;
        index = 0;
      } else {
        ++index;
      }
    }
  };
  // 16-bit samples a decoder gives at the top of 32 bits (FLAC, MP3) are
  // taken as the 16-bit ones they are, so that they sum as a WAV of the
  // same audio does.
  const bool wide16 = info_.sampleType == wave::SampleType::S32 && info_.bits <= 16;
  if ((info_.sampleType == wave::SampleType::S16 || wide16) && channels <= 2) {
    // The common case in whole numbers: exact, whatever the offset, and
    // additions that do not wait on each other.
    const double scale = share / 32768.0;
    const auto count = static_cast<std::size_t>(frames);
    if (wide16) {
      s16_.resize(count * channels);
      for (std::size_t i = 0; i < s16_.size(); ++i) {
        std::int32_t wide = 0;
        std::memcpy(&wide, p + 4 * i, 4);
        s16_[i] = static_cast<std::int16_t>(wide >> 16);
      }
      p = reinterpret_cast<const std::uint8_t*>(s16_.data());
    }
    if (channels == 2 && group_ == 4) {
      cut([&](std::int64_t from, std::int64_t frames, std::int64_t offset, Piece& piece) {
        SumStereo16By4(p + 4 * from, frames, offset, scale, piece);
      });
      return;
    }
    // The channels' sum of every frame first, in a loop the compiler makes
    // wide.
    if (!wide16) {
      s16_.resize(count * channels);
      std::memcpy(s16_.data(), p, s16_.size() * 2);
    }
    mono32_.resize(count);
    if (channels == 2) {
      for (std::size_t f = 0; f < count; ++f) mono32_[f] = s16_[2 * f] + s16_[2 * f + 1];
    } else {
      for (std::size_t f = 0; f < count; ++f) mono32_[f] = s16_[f];
    }
    cut([&](std::int64_t from, std::int64_t frames, std::int64_t offset, Piece& piece) {
      SumPiece<std::int64_t>(mono32_.data() + from, frames, offset, group_, scale, piece);
    });
    return;
  }
  // Else the channels' mean of every frame first, in one plain pass, the
  // samples as doubles of full scale 1 (one that is not a number as 0).
  const auto count = static_cast<std::size_t>(frames);
  doubles_.resize(count * channels);
  wave::ToDoubles(p, info_.sampleType, doubles_.size(), doubles_.data());
  mono_.resize(count);
  for (std::size_t f = 0; f < count; ++f) {
    double sum = 0;
    for (std::size_t c = 0; c < channels; ++c) {
      const double v = doubles_[f * channels + c];
      sum += std::isfinite(v) ? std::clamp(v, -1.0, 1.0) : 0.0;
    }
    mono_[f] = static_cast<float>(sum * share);
  }
  cut([&](std::int64_t from, std::int64_t count, std::int64_t offset, Piece& piece) {
    SumPiece<double>(mono_.data() + from, count, offset, group_, 1.0, piece);
  });
}

void LevelProfile::CloseGroup() {
  if (openFrames_ > 0) sub_.groupSquares += openSum_ * openSum_ / static_cast<double>(openFrames_);
  openSum_ = 0;
  openFrames_ = 0;
}

void LevelProfile::CloseSubBlock() {
  CloseGroup();
  const auto n = static_cast<double>(sub_.frames);
  if (sub_.frames > 0) {
    // The sub-block's mean, filtered, for every frame of it; what varies
    // from group to group within it (frequencies well above hum and
    // rumble) as it is; what varies within the groups, less.
    const double y = highPass_.Run(sub_.sum / n);
    const double groups = std::max(0.0, sub_.groupSquares - sub_.sum * sub_.sum / n);
    const double within = std::max(0.0, sub_.squares - sub_.groupSquares);
    subs_.push_back(y * y + (groups + kAboveGroups * within) / n);
  }
  sub_ = {};
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
  // A filter ringing down to nothing would crawl through subnormal numbers.
  for (double* v : {&highPass_.x1, &highPass_.x2, &highPass_.y1, &highPass_.y2}) {
    if (std::fabs(*v) < 1e-30) *v = 0;
  }
  window(power > 0 ? std::max(10.0 * std::log10(power), kLowestDb) : kLowestDb);
}

void LevelProfile::Add(const std::vector<Piece>& pieces,
                       const std::function<void(double db)>& window) {
  for (const Piece& piece : pieces) {
    sub_.frames += piece.frames;
    sub_.sum += piece.sum;
    sub_.squares += piece.squares;
    openSum_ += piece.headSum;
    openFrames_ += piece.headFrames;
    if (piece.headCloses) CloseGroup();
    sub_.groupSquares += piece.groupSquares;
    openSum_ += piece.tailSum;
    openFrames_ += piece.tailFrames;
    inWindow_ += piece.frames;
    if (inWindow_ >= windowFrames_) {
      CloseWindow(window);
      subIndex_ = 0;
      subEnd_ = SubBlockEnd(0);
    } else if (inWindow_ >= subEnd_) {
      CloseSubBlock();
      // The next sub-block's end, without a division a piece.
      ++subIndex_;
      subEnd_ = subIndex_ + 1 >= subBlocks_ ? windowFrames_ : (subIndex_ + 1) * subFrames_;
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
