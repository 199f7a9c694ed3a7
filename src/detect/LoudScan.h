// The loudness test over runs of samples, many samples at a time. A sample
// is loud when its amplitude, taken in 32 bits (so -32768 counts as 32768),
// exceeds the noise floor; a frame is loud when any of its samples is.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvella {

// Index of the first loud sample in samples[0, count), or count if none.
std::size_t FirstLoudSample(const std::int16_t* samples, std::size_t count, int noiseFloor);
// Index of the last loud sample in samples[0, count), or count if none.
std::size_t LastLoudSample(const std::int16_t* samples, std::size_t count, int noiseFloor);

}  // namespace corvella
