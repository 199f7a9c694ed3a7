#include "detect/LoudScan.h"

#include <algorithm>

#include "wave/VectorClones.h"

namespace corvella::detect {
namespace {

// Samples judged together: the inner loop carries no early exit, so the
// compiler turns it into wide instructions; only a chunk that holds a loud
// sample is looked at one sample at a time.
constexpr std::size_t kChunk = 128;

// A 16-bit floor f as one unsigned comparison: with u = x + f taken modulo
// 65536, -f <= x <= f exactly when u <= 2f (for 0 <= f <= 32767).
struct Bounds16 {
  std::uint16_t offset;
  std::uint16_t limit;
  bool none;  // the floor is at or above 32768: nothing is loud
  bool all;   // the floor is negative: everything is loud
};

Bounds16 BoundsOf(std::int64_t floor) {
  if (floor >= 32768) return {0, 0, true, false};
  if (floor < 0) return {0, 0, false, true};
  return {static_cast<std::uint16_t>(floor), static_cast<std::uint16_t>(2 * floor), false, false};
}

inline std::uint16_t Shifted(std::int16_t x, Bounds16 b) {
  return static_cast<std::uint16_t>(static_cast<std::uint16_t>(x) + b.offset);
}

inline bool Loud(std::int16_t x, Bounds16 b) {
  return Shifted(x, b) > b.limit;
}

CORVELLA_VECTOR_CLONES
bool ChunkHasLoud(const std::int16_t* s, Bounds16 b) {
  std::uint16_t highest = 0;
  for (std::size_t j = 0; j < kChunk; ++j) highest = std::max(highest, Shifted(s[j], b));
  return highest > b.limit;
}

std::size_t FirstLoud16(const std::int16_t* samples, std::size_t count, std::int64_t floor) {
  const Bounds16 b = BoundsOf(floor);
  if (b.none) return count;
  if (b.all) return 0;
  std::size_t i = 0;
  while (i + kChunk <= count && !ChunkHasLoud(samples + i, b)) i += kChunk;
  for (; i < count; ++i) {
    if (Loud(samples[i], b)) return i;
  }
  return count;
}

std::size_t LastLoud16(const std::int16_t* samples, std::size_t count, std::int64_t floor) {
  const Bounds16 b = BoundsOf(floor);
  if (b.none || count == 0) return count;
  if (b.all) return count - 1;
  std::size_t end = count;  // samples [end, count) hold nothing loud
  while (end >= kChunk && !ChunkHasLoud(samples + end - kChunk, b)) end -= kChunk;
  while (end > 0) {
    --end;
    if (Loud(samples[end], b)) return end;
  }
  return count;
}

}  // namespace

LoudRule RuleFor(const wave::SourceInfo& info, const DetectParams& params) {
  return {info.sampleType, params.noiseFloor};
}

std::size_t FirstLoudSample(const void* samples, std::size_t count, const LoudRule& rule) {
  return FirstLoud16(static_cast<const std::int16_t*>(samples), count, rule.limit);
}

std::size_t LastLoudSample(const void* samples, std::size_t count, const LoudRule& rule) {
  return LastLoud16(static_cast<const std::int16_t*>(samples), count, rule.limit);
}

}  // namespace corvella::detect
