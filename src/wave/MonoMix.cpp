#include "wave/MonoMix.h"

#include "wave/VectorClones.h"

namespace corvella::wave {
namespace {

constexpr std::size_t kGroup = 256;  // frames mixed in one go

inline std::int16_t Mix(std::int16_t left, std::int16_t right) {
  return static_cast<std::int16_t>((static_cast<std::int32_t>(left) + right) / 2);
}

// Frames whose output and input do not overlap, so the loop vectorises.
CORVELLA_VECTOR_CLONES
void MixApart(const std::int16_t* __restrict in, std::int16_t* __restrict out) {
  for (std::size_t i = 0; i < kGroup; ++i) out[i] = Mix(in[2 * i], in[2 * i + 1]);
}

}  // namespace

void MixToMono(std::int16_t* samples, std::size_t frames) {
  // Output frames [i, i + kGroup) read input samples [2i, 2i + 2 kGroup): the
  // two ranges are apart once i >= kGroup. The first group goes one by one.
  std::size_t i = 0;
  for (; i < frames && i < kGroup; ++i) samples[i] = Mix(samples[2 * i], samples[2 * i + 1]);
  for (; i + kGroup <= frames; i += kGroup) MixApart(samples + 2 * i, samples + i);
  for (; i < frames; ++i) samples[i] = Mix(samples[2 * i], samples[2 * i + 1]);
}

}  // namespace corvella::wave
