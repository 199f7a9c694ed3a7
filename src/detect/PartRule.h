// The rule that finds parts, judged over frames as they are given: a part
// begins at a loud frame and ends before more than the gap length of silent
// frames. The scanner drives it over a file block by block, a stream frame
// by frame as the frames arrive; fed the same frames in any pieces, it finds
// the same parts.
#pragma once

#include <cstdint>
#include <vector>

#include "detect/LoudScan.h"
#include "detect/Params.h"
#include "wave/Source.h"

namespace corvella::detect {

// The loud frames of the frames in hand, as the rule asks for them: only
// where the answer matters, so that a file's loud stretches need not be
// read whole.
class LoudFrames {
 public:
  virtual ~LoudFrames() = default;
  // The first loud frame in [from, to), or `to` when there is none.
  virtual std::int64_t FirstLoud(std::int64_t from, std::int64_t to) = 0;
  // The last loud frame in [from, to), or `to` when there is none.
  virtual std::int64_t LastLoud(std::int64_t from, std::int64_t to) = 0;
};

// Frames held in memory as samples in host byte order, the first of them
// frame `first`.
class LoudFramesInMemory final : public LoudFrames {
 public:
  LoudFramesInMemory(const void* samples, std::int64_t first, int channels, int width,
                     const LoudRule& rule)
      : samples_(static_cast<const std::uint8_t*>(samples)),
        first_(first),
        channels_(channels),
        width_(width),
        rule_(rule) {}
  std::int64_t FirstLoud(std::int64_t from, std::int64_t to) override;
  std::int64_t LastLoud(std::int64_t from, std::int64_t to) override;

 private:
  const std::uint8_t* At(std::int64_t frame) const {
    return samples_ + (frame - first_) * channels_ * width_;
  }
  const std::uint8_t* samples_;
  std::int64_t first_;
  int channels_;
  int width_;
  const LoudRule& rule_;
};

class PartRule {
 public:
  struct Event {
    enum class Kind { Start, End } kind;
    // Start: the part's first loud frame. End: the frame the end became
    // known at (the first one the next search judges).
    std::int64_t at = 0;
    PartSpan part;  // End: the part, [first loud, one past last loud)
  };
  // Where the judging stands: the next frame to judge, and in a part, its
  // first loud frame and one past its last loud frame so far.
  struct State {
    std::int64_t position = 0;
    bool inPart = false;
    std::int64_t start = 0;
    std::int64_t loudEnd = 0;
  };

  // `gapFrames`: the longest silence inside a part.
  explicit PartRule(std::int64_t gapFrames) : gap_(gapFrames) {}

  // Judges the frames from Position() up to `end`, asking `frames` where
  // they are loud, and appends what became known to `events`; with
  // `firstEvent`, stops at the first thing that becomes known, the
  // position then just past it.
  void Judge(LoudFrames& frames, std::int64_t end, std::vector<Event>& events,
             bool firstEvent = false);
  // The data ended: a part under way ends at its last loud frame.
  void Finish(std::vector<Event>& events);

  const State& Now() const { return state_; }
  // Goes back to, or on to, a state: a search that starts afresh.
  void Resume(const State& state) { state_ = state; }
  std::int64_t Position() const { return state_.position; }
  bool InPart() const { return state_.inPart; }
  // In a part: one past its last loud frame so far.
  std::int64_t LoudEnd() const { return state_.loudEnd; }
  std::int64_t GapFrames() const { return gap_; }

 private:
  std::int64_t gap_;
  State state_;
};

}  // namespace corvella::detect
