// Clicks taken out for judging only: a loud burst no longer than the click
// length, with nothing else loud around it for a while (record crackle, a
// tap, a cough's edge), reads as silence. Music and speech keep loud frames
// spread over every stretch of that while, so they stay. One rule, judged as
// frames come (a stream) or over any stretch of a file (the scanner's
// source with its clicks taken out).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
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

 private:
  LoudRule rule_;
  int channels_;
  std::int64_t frameBytes_;
  int silence_;
  ClickSpan span_;
  std::int64_t taken_ = 0, judged_ = 0;
  std::vector<std::uint8_t> waiting_, ready_;  // frames [judged_, taken_); those judged last
  std::deque<std::int64_t> loud_;              // the loud frames from judged_ - alone on
  std::ptrdiff_t at_ = 0;                      // in loud_: the first at or after the frame judged
  std::ptrdiff_t reach_ = 0;                   // in loud_: the last within reach of it
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
  DetectParams params_;
  ClickSpan span_;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace corvella::detect
