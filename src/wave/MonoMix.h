// Mixing frames down to one channel, in place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvella::wave {

// samples[i] = (samples[2i] + samples[2i+1]) / 2 for every frame i, the sum
// in 32 bits and the division truncating toward zero. Ascending order never
// overwrites a sample before it is used.
void MixToMono(std::int16_t* samples, std::size_t frames);

}  // namespace corvella::wave
