// Clicks taken out for judging only: a loud burst no longer than the click
// length, with nothing else loud around it for a while (record crackle, a
// tap, a cough's edge), reads as silence. Music and speech keep loud frames
// spread over every stretch of that while, so they stay. One rule, judged as
// frames come (a stream) or over any stretch of a file (the scanner's
// source with its clicks taken out).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "detect/LoudScan.h"
#include "detect/Params.h"
#include "wave/Source.h"

namespace corvella::detect {

// How long a click may last, and how long it must stand alone on either
// side, in frames: --ignore-clicks MS, and 20 ms or four clicks' length.
struct ClickSpan {
  std::int64_t click = 1;
  std::int64_t alone = 1;
};
ClickSpan ClickSpanFor(const wave::SourceInfo& info, const DetectParams& params);

// Takes frames as they come and hands them on judged: a loud frame is
// silence when every loud frame within `alone` frames of it lies within a
// click's length of the others. A frame is judged once the `alone` frames
// after it have come, or the recording has ended.
class FrameDeclicker {
 public:
  FrameDeclicker(const wave::SourceInfo& info, const DetectParams& params);

  // Takes the next frames (aligned, in host order); with `last`, the
  // recording ends after them. Leaves in Ready() the frames now judged,
  // clicks silenced.
  void Take(const std::uint8_t* samples, std::int64_t count, bool last);
  const std::vector<std::uint8_t>& Ready() const { return ready_; }
  std::int64_t ReadyFrames() const {
    return static_cast<std::int64_t>(ready_.size()) / frameBytes_;
  }
  const ClickSpan& Span() const { return span_; }
  // Judges a whole recording of `count` frames in place, as a fresh filter
  // taking them all at once would; the memory it holds is kept for the next.
  void JudgeAll(std::uint8_t* samples, std::int64_t count);

 private:
  // Notes whether each of `count` frames is loud.
  void Flag(const std::uint8_t* samples, std::int64_t count);
  // Silences the clicks among frames [from, until), held in `frames` from
  // `from` on, from the flags of the frames in hand.
  void Silence(std::int64_t from, std::int64_t until, std::uint8_t* frames);

  LoudRule rule_;
  int channels_;
  std::int64_t frameBytes_;
  int silence_;
  ClickSpan span_;
  std::int64_t taken_ = 0, judged_ = 0;
  std::vector<std::uint8_t> waiting_, ready_;  // frames [judged_, taken_); those judged last
  // Whether each frame from flagsFrom_ (judged_ - alone at the most) is loud.
  std::vector<std::uint8_t> loud_;
  std::int64_t flagsFrom_ = 0;
  // Over those frames: the nearest loud frame at or before, at or after.
  std::vector<std::int64_t> previous_, next_;
};

// A source with its clicks taken out, read at any offset: each read judges
// the frames it returns with as many around them as the rule looks at.
class Declicked final : public wave::Source {
 public:
  Declicked(wave::Source& inner, const DetectParams& params);

  std::int64_t ReadSamples(std::int64_t offset, void* out, std::int64_t count) override;
  bool Sequential() const override { return true; }

 private:
  wave::Source& inner_;
  ClickSpan span_;
  FrameDeclicker judge_;  // for every read
  std::vector<std::uint8_t> buffer_;
};

}  // namespace corvella::detect
