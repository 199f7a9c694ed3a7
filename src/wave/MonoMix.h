// Mixing frames down to one channel, in place.
#pragma once

#include <cstddef>
#include <cstdint>

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

}  // namespace corvella::wave
