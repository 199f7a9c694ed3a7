// Measuring levels: the peak of each part, and of each short window.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "detect/Params.h"
#include "detect/Progress.h"
#include "wave/Error.h"
#include "wave/Source.h"

namespace corvella::detect {

// The loudest sample among `count` samples of a block, as a fraction of full
// scale (the most negative 16-bit value, -32768, gives 1).
double PeakOf(const void* samples, std::size_t count, const wave::SourceInfo& info);

// Fills each part's peak. UnableToRead when the samples cannot be read.
wave::Error MeasurePeaks(wave::Source& source, std::vector<PartSpan>& parts);

// Hands `window` the peak of every `windowFrames` frames of the recording in
// order, the last window being shorter when the frames run out, with the
// number of frames it covered. Reports progress once per block. Returns
// UnableToRead, or Stopped when the progress asked to stop.
// Who takes every block of samples as well, alongside the windows' peaks,
// on a thread of its own: `Take` hands it each block in order before the
// block's windows are measured; the samples stay as they are until it calls
// `done` (from any thread, for the blocks in the order taken), after which
// their memory serves again. The pass ends only once every block taken is
// done.
class BlockTaker {
 public:
  virtual ~BlockTaker() = default;
  virtual void Take(const void* samples, std::int64_t frames, std::function<void()> done) = 0;
};

wave::Error ForEachWindowPeak(wave::Source& source, std::int64_t windowFrames, Progress& progress,
                              const std::function<void(double peak, std::int64_t frames)>& window,
                              BlockTaker* taker = nullptr);

// One pass over every frame that measures, as it goes: the peak of each of
// the `columns.size()` equal stretches of the recording (a picture's
// columns, frames [c F/n, (c+1) F/n)), the peak of every `windowFrames`
// frames (handed to `window` in order with its length, the last shorter), and the
// peak of each part `nextPart` hands out (in order, without overlap; it may
// wait for the part to be known; false when there is no more), appended to
// `parts` once measured. Returns UnableToRead, or Stopped when the progress
// asked. With `taker`, every block of samples is handed to it as well, in
// order.
wave::Error MeasureAll(wave::Source& source, Progress& progress, std::vector<double>& columns,
                       std::int64_t windowFrames,
                       const std::function<void(double peak, std::int64_t frames)>& window,
                       const std::function<bool(PartSpan& part)>& nextPart,
                       std::vector<PartSpan>& parts, BlockTaker* taker = nullptr);

}  // namespace corvella::detect
