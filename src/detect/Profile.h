// A recording's level as a listener tells programme from the noise between
// pieces: for every 10 ms window, the power of the channels' mean with DC,
// rumble and the mains hum taken out (a high-pass filter at 100 Hz on the
// means of sub-blocks of a millisecond, what varies within a sub-block
// taken as it is), the highest frequencies, where hiss and surface noise
// lie, counted 12 dB down, over its quieter sub-blocks, so that a click of a
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

  // The work comes in two stages, which may run on two threads: the sums of
  // the channels' mean over each sub-block (of a millisecond or so) touch
  // every sample; the filter and the windows follow from the sums alone.
  struct Piece {
    std::int64_t frames = 0;
    double sum = 0;      // of the frames' mean of the channels
    double squares = 0;  // of its squares
    // The frames are also taken in groups of a few, from the sub-block's
    // start: the squares of each whole group's sum over its frames; the
    // frames that end a group begun before the piece (closing it where
    // `headCloses`), and those that begin one it does not end.
    double groupSquares = 0;
    double headSum = 0, tailSum = 0;
    std::int64_t headFrames = 0, tailFrames = 0;
    bool headCloses = false;
  };
  // The first stage: frames [first, first + frames) of the recording, as
  // the source delivers them, as pieces of sub-blocks (a block's ends may
  // hold part of one).
  void Sum(const void* samples, std::int64_t first, std::int64_t frames,
           std::vector<Piece>& pieces) const;
  // The second: the pieces in the recording's order; hands each window
  // completed on to `window` with its level in dB.
  void Add(const std::vector<Piece>& pieces, const std::function<void(double db)>& window);
  // Both, for the next `frames` frames.
  void Add(const void* samples, std::int64_t frames, const std::function<void(double db)>& window);
  // Hands on the last window, shorter, where frames are left.
  void Finish(const std::function<void(double db)>& window);

 private:
  // Where the sub-block that holds frame `at` of a window ends.
  std::int64_t SubBlockEnd(std::int64_t at) const;
  void CloseGroup();
  void CloseSubBlock();
  void CloseWindow(const std::function<void(double db)>& window);

  wave::SourceInfo info_;
  std::int64_t windowFrames_;
  std::int64_t subFrames_;
  std::int64_t subBlocks_;  // a window's; its last takes the remainder
  std::int64_t group_;      // frames a group
  // A second-order Butterworth high-pass, run on the sub-blocks' means.
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
  Piece sub_;                 // the sub-block under way
  double openSum_ = 0;        // the group under way
  std::int64_t openFrames_ = 0;
  std::vector<double> subs_;  // the powers of the window's sub-blocks so far
  std::int64_t inWindow_ = 0;
  std::int64_t subIndex_ = 0;  // the sub-block under way, in its window
  std::int64_t subEnd_ = 0;    // and where it ends
  std::int64_t taken_ = 0;  // frames taken by the one-call Add
  std::vector<Piece> pieces_;
  mutable std::vector<double> doubles_;
  mutable std::vector<float> mono_;
  mutable std::vector<std::int16_t> s16_;
  mutable std::vector<std::int32_t> mono32_;
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
