// What decides where parts are: how loud silence may be, how long a
// silence must last to end a part. Passed by value.
#pragma once

#include <cstdint>
#include <optional>

namespace corvella::detect {

struct DetectParams {
  // The largest amplitude on the 16-bit scale that is still silence.
  int noiseFloor = 104;
  // The floor as a level in dBFS, when it was given so: recordings of other
  // sample widths take it exactly, 16-bit ones as `noiseFloor`.
  std::optional<double> thresholdDb;
  // The silence that ends a part, in 1/44100 second.
  int gapThreshold = 22050;
  // When above 0, loud bursts of at most this many milliseconds with nothing
  // loud around them for a while are judged as silence: clicks and crackle.
  int ignoreClicksMs = 0;
};

// One part: its frames [start, end), and its loudest sample once measured,
// as a fraction of full scale.
struct PartSpan {
  std::int64_t start = 0;
  std::int64_t end = 0;
  double peak = 0;
  bool operator==(const PartSpan&) const = default;
};

}  // namespace corvella::detect
