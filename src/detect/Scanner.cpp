// Finding where each part of a source begins and ends.
#include <cstdlib>

#include "engine/Engine.h"

namespace corvella {
namespace {

// A frame is loud when any of its samples has an amplitude above the floor;
// the amplitude is taken in 32 bits, so -32768 counts as 32768.
inline bool IsLoud(const std::int16_t* frame, int channels, int noiseFloor) {
  for (int c = 0; c < channels; ++c) {
    if (std::abs(static_cast<std::int32_t>(frame[c])) > noiseFloor) return true;
  }
  return false;
}

}  // namespace

std::int64_t Engine::FindPartStart(std::int64_t begin, bool& endOfData) {
  const std::int64_t frames = FrameCount();
  SeekFrame(begin);
  std::int64_t p = begin;
  std::int64_t got = 0;
  for (;;) {
    got = ReadBlock();
    const std::int64_t n = got > 0 ? got / 2 / Channels : 0;
    bool found = false;
    std::int64_t j = 0;
    for (; j < n; ++j) {
      if (IsLoud(&SampleBuffer[static_cast<std::size_t>(j * Channels)], Channels, NoiseFloor)) {
        found = true;
        break;
      }
    }
    p += j;
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

std::int64_t Engine::FindPartEnd(std::int64_t start, std::int64_t& scanPosition,
                                 bool& endOfData) {
  const std::int64_t gap = GapFrames();
  std::int64_t e = start + 1;  // one past the last loud frame; frame `start` is loud
  std::int64_t q = start + 1;  // the next frame to judge
  SeekFrame(start + 1);
  std::int64_t got = 0;
  for (;;) {
    got = ReadBlock();
    const std::int64_t n = got > 0 ? got / 2 / Channels : 0;
    for (std::int64_t i = 0; i < n && q - e <= gap; ++i) {
      ++q;
      if (IsLoud(&SampleBuffer[static_cast<std::size_t>(i * Channels)], Channels, NoiseFloor)) {
        e = q;
      }
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
