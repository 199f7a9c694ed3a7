// The loudness test over runs of samples, many samples at a time. A sample
// is loud when its magnitude exceeds the recording's limit; a frame is loud
// when any of its samples is.
#pragma once

#include <cstddef>
#include <cstdint>

#include "detect/Params.h"
#include "wave/Source.h"

namespace corvella::detect {

// The limit for one recording, in the units its samples are delivered in.
struct LoudRule {
  wave::SampleType type = wave::SampleType::S16;
  // Integer samples: loud when the magnitude, taken wide enough that the
  // most negative value counts, is greater than this.
  std::int64_t limit = 0;
};

LoudRule RuleFor(const wave::SourceInfo& info, const DetectParams& params);

// Index of the first loud sample in samples[0, count), or count if none.
std::size_t FirstLoudSample(const void* samples, std::size_t count, const LoudRule& rule);
// Index of the last loud sample in samples[0, count), or count if none.
std::size_t LastLoudSample(const void* samples, std::size_t count, const LoudRule& rule);

}  // namespace corvella::detect
