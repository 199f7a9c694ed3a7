// The detection rule stated plainly, frame by frame, with no blocks and no
// cleverness: the yardstick the engine's scanner is compared against.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace corvella::test {

struct Span {
  std::int64_t start;
  std::int64_t end;  // one past the last loud frame
  bool operator==(const Span&) const = default;
};

// A frame is loud when any sample's amplitude (in 32 bits) exceeds the floor.
// A part runs from a loud frame to just past the last loud frame before more
// than `gap` silent frames in a row, or before the end of the data.
std::vector<Span> ModelParts(const std::vector<std::int16_t>& samples, int channels, int noiseFloor,
                             std::int64_t gap);
// Whether one stored sample (little-endian, `width` bytes) is loud for the
// noise floor N: a b-bit integer x (8-bit ones unsigned, offset by 128) when
// |x| * 2^16 > N * 2^b, a float when |x| * 32768 > N or it is not a number.
bool LoudStoredSample(const std::uint8_t* sample, int width, bool isFloat, int noiseFloor);

// The same rule over frames already judged loud or silent.
std::vector<Span> ModelParts(const std::vector<bool>& loud, std::int64_t gap);

// A random recording of 16-bit samples whose runs of loud and silent frames
// cluster around the gap; loud runs have holes, and their loud samples sit
// just above the floor.
std::vector<std::int16_t> RandomRecording(std::mt19937& random, int channels, std::int64_t frames,
                                          int floor, std::int64_t gap);

}  // namespace corvella::test
