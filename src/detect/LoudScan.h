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
  // Float samples: loud when the magnitude is greater than this, or is not
  // a number.
  double floatLimit = 0;
};

// The rule for a recording. On the 16-bit scale a noise floor N makes a
// b-bit integer sample x loud when |x| * 2^16 > N * 2^b, a float sample
// when |x| * 32768 > N. A floor given in dBFS, as a fraction A of full
// scale, makes them loud when |x| > A * 2^(b-1) and |x| > A; 16-bit
// recordings keep the floor rounded to N. Samples a decoder delivers
// widened to 32 bits are judged as their b-bit selves.
LoudRule RuleFor(const wave::SourceInfo& info, const DetectParams& params);

// Index of the first loud sample in samples[0, count), or count if none.
std::size_t FirstLoudSample(const void* samples, std::size_t count, const LoudRule& rule);
// Index of the last loud sample in samples[0, count), or count if none.
std::size_t LastLoudSample(const void* samples, std::size_t count, const LoudRule& rule);
// Whether each of `frames` frames of `channels` samples holds a loud one:
// out[f] is 1 or 0.
void FlagLoudFrames(const void* samples, std::size_t frames, int channels, const LoudRule& rule,
                    std::uint8_t* out);

}  // namespace corvella::detect
