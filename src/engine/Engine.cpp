#include "engine/Engine.h"

#include <limits>

#include "wave/ByteOrder.h"

namespace corvella {

Engine::Engine(EngineHost& host, FileApi& files) : host_(host), files_(files) {}

Engine::~Engine() { CloseWave(); }

std::int64_t Engine::FrameCount() const {
  if (Channels <= 0) return 0;
  return (DataSize / 2) / Channels;
}

std::int64_t Engine::GapFrames() const {
  const std::int64_t threshold = GapThreshold < 0 ? 0 : GapThreshold;
  if (SamplesPerSec <= 0) return threshold;
  // Rates up to 44100 Hz divide by the whole number of 44100 Hz ticks per
  // frame; faster rates scale, so the gap keeps its length in seconds.
  if (SamplesPerSec <= 44100) return threshold / (44100 / SamplesPerSec);
  return threshold * SamplesPerSec / 44100;
}

int Engine::ProgressOf(std::int64_t position) const {
  const std::int64_t frames = FrameCount();
  if (frames <= 0) return 0;
  const std::int64_t percent = position * 100 / frames;
  return percent > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                    : static_cast<int>(percent);
}

void Engine::SeekFrame(std::int64_t frame) {
  WaveHandle->Seek(DataOffset + frame * Channels * 2, SeekOrigin::FromStart);
}

}  // namespace corvella
