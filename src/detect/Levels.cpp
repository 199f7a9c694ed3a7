// Measuring levels: the peak of each part, and of each short window.
#include <algorithm>
#include <cstdlib>

#include "engine/Engine.h"

namespace corvella {
namespace {

int PeakOf(const std::int16_t* samples, std::size_t count) {
  int peak = 0;
  for (std::size_t i = 0; i < count; ++i) peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
  return peak;
}

}  // namespace

bool Engine::MeasurePeaks(const std::string& fileName, std::vector<PartSpan>& parts) {
  if (!OpenWave(fileName)) return false;
  bool ok = true;
  for (PartSpan& part : parts) {
    part.peak = 0;
    ok = ok && ReadFrames(part.start, part.end, [&](std::int16_t* s, std::size_t n) {
      part.peak = std::max(part.peak, PeakOf(s, n));
    });
  }
  CloseWave();
  if (!ok) host_.ShowMessage(msg::kUnableToRead, msg::kErrorCaption);
  return ok;
}

bool Engine::WindowPeaks(const std::string& fileName, double seconds, std::vector<int>& peaks,
                         SourceSummary& summary) {
  peaks.clear();
  if (!OpenWave(fileName)) return false;
  summary = {Channels, SamplesPerSec, FrameCount()};
  const std::int64_t frames = FrameCount();
  const double rate = SamplesPerSec > 0 ? static_cast<double>(SamplesPerSec) : 44100.0;
  const std::int64_t window = std::max<std::int64_t>(1, static_cast<std::int64_t>(rate * seconds + 0.5));
  const std::int64_t framesPerBlock = kSampleBufferSamples / Channels;
  bool ok = true;
  int current = 0;
  std::int64_t inWindow = 0;  // frames of the current window seen so far
  for (std::int64_t frame = 0; ok && frame < frames && !host_.CancelDown();) {
    const std::int64_t count = std::min(frames - frame, framesPerBlock);
    ok = ReadFrames(frame, frame + count, [&](std::int16_t* s, std::size_t) {
      for (std::int64_t f = 0; f < count;) {
        const std::int64_t take = std::min(count - f, window - inWindow);
        current = std::max(current, PeakOf(s + f * Channels, static_cast<std::size_t>(take * Channels)));
        f += take;
        inWindow += take;
        if (inWindow == window) {
          peaks.push_back(current);
          current = 0;
          inWindow = 0;
        }
      }
    });
    frame += count;
    host_.SetProgress(ProgressOf(frame));
    host_.ProcessMessages();
  }
  if (inWindow > 0) peaks.push_back(current);
  host_.SetProgress(0);
  CloseWave();
  if (!ok) host_.ShowMessage(msg::kUnableToRead, msg::kErrorCaption);
  return ok && !host_.CancelDown();
}

}  // namespace corvella
