#include "engine/Engine.h"

#include <algorithm>
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

bool Engine::ReadFrames(std::int64_t start, std::int64_t end,
                        const std::function<void(std::int16_t*, std::size_t)>& use) {
  const std::int64_t framesPerBlock = kSampleBufferSamples / Channels;
  for (std::int64_t frame = start; frame < end;) {
    const std::int64_t count = std::min(end - frame, framesPerBlock);
    const std::int64_t bytes = count * Channels * 2;
    if (WaveHandle->ReadAt(DataOffset + frame * Channels * 2, SampleBuffer.data(), bytes) != bytes) {
      return false;
    }
    const auto samples = static_cast<std::size_t>(count * Channels);
    SamplesFromLittleEndian(SampleBuffer.data(), samples);
    use(SampleBuffer.data(), samples);
    frame += count;
  }
  return true;
}

}  // namespace corvella
