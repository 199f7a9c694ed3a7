#include "support/Model.h"

#include <cstdlib>

namespace corvella::test {

std::vector<Span> ModelParts(const std::vector<std::int16_t>& samples, int channels, int noiseFloor,
                             std::int64_t gap) {
  const std::int64_t frames = static_cast<std::int64_t>(samples.size()) / channels;
  auto loud = [&](std::int64_t f) {
    for (int c = 0; c < channels; ++c) {
      if (std::abs(static_cast<std::int32_t>(samples[f * channels + c])) > noiseFloor) return true;
    }
    return false;
  };
  std::vector<Span> parts;
  std::int64_t f = 0;
  while (true) {
    while (f < frames && !loud(f)) ++f;
    if (f >= frames) break;
    const std::int64_t start = f;
    std::int64_t end = f + 1;
    std::int64_t silent = 0;
    for (++f; f < frames; ++f) {
      if (loud(f)) {
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

}  // namespace corvella::test
