// A recording's level as a listener tells programme from the noise between
// pieces: for every 10 ms window, the power of the channels' mean after a
// high-pass filter (DC, rumble and the mains hum's fundamental taken out),
// taken over its quieter sub-blocks of a millisecond, so that a click of a
// few milliseconds does not make a quiet window loud nor crackle a gap. The
// noise between pieces then reads as a steady low level, whatever peaks it
// has, and a fade reads as falling smoothly to it.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "wave/Error.h"
#include "wave/Source.h"

namespace corvella::detect {

class LevelProfile {
 public:
  // The lowest level told apart, in dB: digital silence reads as this.
  static constexpr double kLowestDb = -140;

  // Windows of `windowFrames` frames of a recording shaped as `info`.
  LevelProfile(const wave::SourceInfo& info, std::int64_t windowFrames);

  // Takes the next `frames` frames (samples as the source delivers them)
  // and hands each window completed on to `window` with its level in dB.
  void Add(const void* samples, std::int64_t frames, const std::function<void(double db)>& window);
  // Hands on the last window, shorter, where frames are left.
  void Finish(const std::function<void(double db)>& window);

 private:
  void Group();
  void CloseSubBlock();
  void CloseWindow(const std::function<void(double db)>& window);

  wave::SourceInfo info_;
  std::int64_t windowFrames_;
  std::int64_t subFrames_;  // frames a sub-block
  std::int64_t group_ = 1;  // frames averaged before the filter
  // A second-order Butterworth high-pass.
  struct Section {
    double b0, b1, b2, a1, a2;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    double Run(double x) {
      const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
      x2 = x1, x1 = x, y2 = y1, y1 = y;
      return y;
    }
  };
  Section highPass_{};
  double groupSum_ = 0;
  std::int64_t inGroup_ = 0;
  double subPower_ = 0;
  std::int64_t inSub_ = 0;        // groups in the sub-block under way
  std::int64_t inSubFrames_ = 0;  // frames in it
  std::vector<double> subs_;      // the sub-blocks of the window under way
  std::int64_t inWindow_ = 0;
  std::vector<float> mono_;
  std::vector<std::int16_t> s16_;
};

// The levels of windows [first, first + count) of `source`, as a pass over
// the whole recording measures them: the filter begins a little earlier, so
// that the first of them is settled. UnableToRead when the samples cannot
// be read.
wave::Error ProfileOf(wave::Source& source, std::int64_t windowFrames, std::int64_t first,
                      std::int64_t count, std::vector<double>& levels);

// A running median of levels over `span` windows (odd), handed on with a
// delay of span / 2: what a smooth look at the profile sees, steady where
// the noise flickers, a burst shorter than half the span passed over.
class RunningMedian {
 public:
  explicit RunningMedian(std::int64_t span) : span_(span) {}
  void Add(double db, const std::function<void(double db)>& out);
  void Finish(const std::function<void(double db)>& out);

 private:
  void Emit(const std::function<void(double db)>& out);
  std::int64_t span_;
  std::deque<double> recent_;   // in order of arrival
  std::vector<double> sorted_;  // the same, in order of level
  std::int64_t seen_ = 0, emitted_ = 0;
};

}  // namespace corvella::detect
