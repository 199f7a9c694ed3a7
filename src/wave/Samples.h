// Samples as every writer takes them: mixed down to one channel, and
// converted from any delivered type to the integers or doubles an encoder
// takes. One rule for each, whatever the part's format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "wave/Format.h"

namespace corvella::wave {

// samples[i] = (samples[2i] + samples[2i+1]) / 2 for every frame i, the sum
// in 32 bits and the division truncating toward zero. Ascending order never
// overwrites a sample before it is used.
void MixToMono(std::int16_t* samples, std::size_t frames);

// The same for frames of any number of channels and any sample type, as
// little-endian bytes: each frame becomes the mean of its samples, the sum
// divided by the channel count truncating toward zero (8-bit samples mixed
// as signed values and stored back with their offset of 128); floats are
// mixed in double precision and stored at their own size.
void MixDown(void* samples, std::size_t frames, int channels, SampleType type);

// The same mean over samples already converted, in place: integers (at the
// recording's own width) rounded toward zero, doubles as they are.
template <typename T>
void MixFrames(T* samples, std::size_t frames, int channels) {
  const auto n = static_cast<std::size_t>(channels);
  for (std::size_t f = 0; f < frames; ++f) {
    if constexpr (std::is_floating_point_v<T>) {
      double sum = 0;
      for (std::size_t c = 0; c < n; ++c) sum += samples[f * n + c];
      samples[f] = static_cast<T>(sum / channels);
    } else {
      std::int64_t sum = 0;
      for (std::size_t c = 0; c < n; ++c) sum += samples[f * n + c];
      samples[f] = static_cast<T>(sum / channels);
    }
  }
}

// Samples of any delivered type (host byte order) as 32-bit integers with
// each value at the top: an integer sample shifted up from its container's
// width; a float clamped to [-1, 1] (not a number as 0) and scaled to
// 2^31 - 1, rounded to the nearest.
void ToLeftAligned(const std::uint8_t* in, SampleType type, std::size_t count, std::int32_t* out);
// How far ToLeftAligned's integers lie above the recording's own `bits`-bit
// values (0 for floats, which keep their 32-bit scale).
int LeftShiftOf(SampleType type, int bits);
// Samples of any delivered type as doubles of full scale 1.
void ToDoubles(const std::uint8_t* in, SampleType type, std::size_t count, double* out);

}  // namespace corvella::wave
