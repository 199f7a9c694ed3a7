#include "detect/Levels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "wave/ByteOrder.h"
#include "wave/VectorClones.h"

namespace corvella::detect {
namespace {

constexpr std::int64_t kBlockBytes = 131072;

// Reads frames [start, end) block by block, handing each block's samples on;
// false when a read falls short.
bool ForEachBlock(wave::Source& source, std::int64_t start, std::int64_t end,
                  const std::function<bool(const void*, std::int64_t frames)>& use) {
  const wave::SourceInfo& info = source.Info();
  const std::int64_t frameBytes = info.FrameBytes();
  const std::int64_t framesPerBlock = kBlockBytes / frameBytes;
  std::vector<double> buffer(kBlockBytes / sizeof(double));
  for (std::int64_t frame = start; frame < end;) {
    const std::int64_t count = std::min(end - frame, framesPerBlock);
    const std::int64_t bytes = count * frameBytes;
    if (source.ReadSamples(frame * frameBytes, buffer.data(), bytes) != bytes) return false;
    if (!use(buffer.data(), count)) return true;
    frame += count;
  }
  return true;
}

// The largest magnitude of 16-bit samples, -32768 counting as 32768: one
// unsigned maximum a sample, which the compiler makes wide.
CORVELLA_VECTOR_CLONES
int Peak16(const std::int16_t* s, std::size_t count) {
  std::uint16_t peak = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const auto u = static_cast<std::uint16_t>(s[i]);
    const auto magnitude = static_cast<std::uint16_t>(s[i] < 0 ? static_cast<std::uint16_t>(0 - u) : u);
    peak = std::max(peak, magnitude);
  }
  return peak;
}

}  // namespace

double PeakOf(const void* samples, std::size_t count, const wave::SourceInfo& info) {
  const auto* p = static_cast<const std::uint8_t*>(samples);
  std::int64_t peak = 0;
  double floatPeak = 0;
  switch (info.sampleType) {
    case wave::SampleType::U8:
      for (std::size_t i = 0; i < count; ++i)
        peak = std::max<std::int64_t>(peak, std::abs(p[i] - 128));
      return static_cast<double>(peak) / 128.0;
    case wave::SampleType::S16:
      return Peak16(static_cast<const std::int16_t*>(samples), count) / 32768.0;
    case wave::SampleType::S24:
      for (std::size_t i = 0; i < count; ++i)
        peak = std::max<std::int64_t>(peak, std::abs(wave::ReadLe24(p + 3 * i)));
      return static_cast<double>(peak) / 8388608.0;
    case wave::SampleType::S32: {
      const auto* s = static_cast<const std::int32_t*>(samples);
      for (std::size_t i = 0; i < count; ++i)
        peak = std::max<std::int64_t>(peak, std::abs(std::int64_t{s[i]}));
      return static_cast<double>(peak) / 2147483648.0;
    }
    case wave::SampleType::F32: {
      const auto* s = static_cast<const float*>(samples);
      for (std::size_t i = 0; i < count; ++i)
        floatPeak = std::fmax(floatPeak, std::fabs(double{s[i]}));
      return floatPeak;
    }
    case wave::SampleType::F64: {
      const auto* s = static_cast<const double*>(samples);
      for (std::size_t i = 0; i < count; ++i) floatPeak = std::fmax(floatPeak, std::fabs(s[i]));
      return floatPeak;
    }
  }
  return 0;
}

wave::Error MeasurePeaks(wave::Source& source, std::vector<PartSpan>& parts) {
  const int channels = source.Info().channels;
  for (PartSpan& part : parts) {
    part.peak = 0;
    const bool read =
        ForEachBlock(source, part.start, part.end, [&](const void* s, std::int64_t frames) {
          part.peak = std::max(
              part.peak, PeakOf(s, static_cast<std::size_t>(frames * channels), source.Info()));
          return true;
        });
    if (!read) return {wave::ErrorCode::UnableToRead};
  }
  return {};
}

wave::Error ForEachWindowPeak(wave::Source& source, std::int64_t windowFrames, Progress& progress,
                              const std::function<void(double peak, std::int64_t frames)>& window) {
  const wave::SourceInfo& info = source.Info();
  const std::int64_t frames = info.frames;
  const std::int64_t width =
      info.channels * static_cast<std::int64_t>(wave::BytesOf(info.sampleType));
  windowFrames = std::max<std::int64_t>(1, windowFrames);
  double current = 0;
  std::int64_t inWindow = 0;  // frames of the current window seen so far
  bool stopped = false;
  std::int64_t done = 0;
  const bool read = ForEachBlock(source, 0, frames, [&](const void* s, std::int64_t count) {
    const auto* bytes = static_cast<const char*>(s);
    for (std::int64_t f = 0; f < count;) {
      const std::int64_t take = std::min(count - f, windowFrames - inWindow);
      current = std::max(
          current, PeakOf(bytes + f * width, static_cast<std::size_t>(take * info.channels), info));
      f += take;
      inWindow += take;
      if (inWindow == windowFrames) {
        window(current, inWindow);
        current = 0;
        inWindow = 0;
      }
    }
    done += count;
    progress.Report(static_cast<int>(done * 100 / std::max<std::int64_t>(frames, 1)));
    progress.Pump();
    stopped = progress.StopRequested();
    return !stopped;
  });
  if (!read) return {wave::ErrorCode::UnableToRead};
  if (stopped) return {wave::ErrorCode::Stopped};
  if (inWindow > 0) window(current, inWindow);
  return {};
}

}  // namespace corvella::detect
