// Finding where each part of a source begins and ends.
//
// Both searches read the source block by block into the sample buffer and,
// after every block, set the progress, let pending events run and test the
// Cancel toggle. Within a block they judge many samples at once.
#include <algorithm>

#include "detect/LoudScan.h"
#include "engine/Engine.h"

namespace corvella {

std::int64_t Engine::FindPartStart(std::int64_t begin, bool& endOfData) {
  const std::int64_t frames = FrameCount();
  SeekFrame(begin);
  std::int64_t p = begin;
  std::int64_t got = 0;
  for (;;) {
    got = ReadBlock();
    const std::int64_t n = got > 0 ? got / 2 / Channels : 0;
    const auto samples = static_cast<std::size_t>(n * Channels);
    const std::size_t loud = FirstLoudSample(SampleBuffer.data(), samples, NoiseFloor);
    const bool found = loud < samples;
    p += found ? static_cast<std::int64_t>(loud) / Channels : n;
    host_.SetProgress(ProgressOf(p));
    host_.ProcessMessages();
    if (found || got <= 0 || host_.CancelDown()) break;
  }
  if (got <= 0) endOfData = true;
  if (p >= frames) {
    p = frames;
    endOfData = true;
  }
  return p;
}

// The end search follows e, one past the last loud frame, and q, the next
// frame to judge; the part ends before judging q once q - e exceeds the gap G.
// Every frame up to e + G is judged whatever it holds, so the frames from q
// to e + G are taken as one stretch: only its last loud frame matters.
std::int64_t Engine::FindPartEnd(std::int64_t start, std::int64_t& scanPosition,
                                 bool& endOfData) {
  const std::int64_t gap = GapFrames();
  std::int64_t e = start + 1;  // frame `start` is loud
  std::int64_t q = start + 1;
  SeekFrame(start + 1);
  std::int64_t got = 0;
  for (;;) {
    got = ReadBlock();
    const std::int64_t n = got > 0 ? got / 2 / Channels : 0;
    const std::int64_t base = q;  // the block's first frame
    while (q < base + n && q - e <= gap) {
      const std::int64_t last = std::min(e + gap, base + n - 1);
      const std::int16_t* stretch = SampleBuffer.data() + (q - base) * Channels;
      const auto samples = static_cast<std::size_t>((last - q + 1) * Channels);
      const std::size_t loud = LastLoudSample(stretch, samples, NoiseFloor);
      if (loud < samples) e = q + static_cast<std::int64_t>(loud) / Channels + 1;
      q = last + 1;
    }
    host_.SetProgress(ProgressOf(q));
    host_.ProcessMessages();
    if (q - e > gap || got <= 0 || host_.CancelDown()) break;
  }
  if (got <= 0) endOfData = true;
  if (e * 2 * Channels > DataSize) {
    e = FrameCount();
    endOfData = true;
  }
  scanPosition = q;
  return e;
}

}  // namespace corvella
