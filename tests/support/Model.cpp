#include "support/Model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace corvella::test {

std::vector<Span> ModelParts(const std::vector<std::int16_t>& samples, int channels, int noiseFloor,
                             std::int64_t gap) {
  const std::size_t frames = samples.size() / static_cast<std::size_t>(channels);
  std::vector<bool> loud(frames, false);
  for (std::size_t f = 0; f < frames; ++f) {
    for (int c = 0; c < channels; ++c) {
      if (std::abs(static_cast<std::int32_t>(samples[f * channels + c])) > noiseFloor)
        loud[f] = true;
    }
  }
  return ModelParts(loud, gap);
}

bool LoudStoredSample(const std::uint8_t* sample, int width, bool isFloat, int noiseFloor) {
  std::uint64_t bits = 0;
  for (int i = 0; i < width; ++i) bits |= static_cast<std::uint64_t>(sample[i]) << (8 * i);
  if (isFloat) {
    double x = 0;
    if (width == 4) {
      float f;
      const auto b32 = static_cast<std::uint32_t>(bits);
      std::memcpy(&f, &b32, 4);
      x = f;
    } else {
      std::memcpy(&x, &bits, 8);
    }
    return !(std::fabs(x) * 32768 <= noiseFloor);
  }
  const int b = 8 * width;
  std::int64_t x = width == 1 ? static_cast<std::int64_t>(bits) - 128
                              : static_cast<std::int64_t>(bits << (64 - b)) >> (64 - b);
  return (x < 0 ? -x : x) * 65536 > static_cast<std::int64_t>(noiseFloor) << b;
}

std::vector<Span> ModelParts(const std::vector<bool>& loud, std::int64_t gap) {
  const auto frames = static_cast<std::int64_t>(loud.size());
  std::vector<Span> parts;
  std::int64_t f = 0;
  while (true) {
    while (f < frames && !loud[f]) ++f;
    if (f >= frames) break;
    const std::int64_t start = f;
    std::int64_t end = f + 1;
    std::int64_t silent = 0;
    for (++f; f < frames; ++f) {
      if (loud[f]) {
        end = f + 1;
        silent = 0;
      } else if (++silent > gap) {
        break;
      }
    }
    parts.push_back({start, end});
    f = end;
  }
  return parts;
}

std::vector<std::int16_t> RandomRecording(std::mt19937& random, int channels, std::int64_t frames,
                                          int floor, std::int64_t gap) {
  std::vector<std::int16_t> s;
  std::uniform_int_distribution<int> coin(0, 9), quiet(-floor, floor);
  std::uniform_int_distribution<std::int64_t> near(-2, 2), any(1, 3 * gap + 3);
  for (bool loud = coin(random) < 5; static_cast<std::int64_t>(s.size()) < frames * channels;
       loud = !loud) {
    const std::int64_t run =
        coin(random) < 6 ? std::max<std::int64_t>(1, gap + near(random)) : any(random);
    for (std::int64_t i = 0;
         i < run * channels && static_cast<std::int64_t>(s.size()) < frames * channels; ++i) {
      const int pick = coin(random);
      s.push_back(static_cast<std::int16_t>(!loud || pick >= 4 ? quiet(random)
                                            : pick == 0        ? -32768
                                            : pick < 2         ? floor + 1
                                                               : -floor - 1));
    }
  }
  return s;
}

}  // namespace corvella::test
