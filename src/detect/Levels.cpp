#include "detect/Levels.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>

#include "wave/ByteOrder.h"
#include "wave/VectorClones.h"

namespace corvella::detect {
namespace {

constexpr std::int64_t kBlockBytes = 131072;
// Blocks read ahead are larger: each one handed over wakes the other thread.
constexpr std::int64_t kAheadBlockBytes = 524288;

// Reads frames [start, end) block by block, handing each block's samples on
// until `use` says no more; false when a read falls short. With `readAhead`,
// long stretches are read on a second thread a few blocks ahead, so that
// reading (mostly the kernel's copying) and heavier measures go on at once;
// light ones run faster on blocks that are still in their core's cache.
// With `taker`, each block goes to it first, and its memory is not read
// into again before the taker is done with it.
bool ForEachBlock(wave::Source& source, std::int64_t start, std::int64_t end, bool readAhead,
                  const std::function<bool(const void*, std::int64_t frames)>& use,
                  BlockTaker* taker = nullptr) {
  const std::int64_t frameBytes = source.Info().FrameBytes();
  if (end - start <= 2 * kAheadBlockBytes / frameBytes) readAhead = false;
  const std::int64_t blockBytes = readAhead ? kAheadBlockBytes : kBlockBytes;
  const std::int64_t framesPerBlock = blockBytes / frameBytes;
  auto read = [&](std::int64_t frame, std::vector<double>& buffer) {
    const std::int64_t count = std::min(end - frame, framesPerBlock);
    const std::int64_t bytes = count * frameBytes;
    return source.ReadSamples(frame * frameBytes, buffer.data(), bytes) == bytes ? count : -1;
  };
  std::mutex mutex;
  std::condition_variable changed;
  // Blocks handed to the taker, and those it is done with.
  std::size_t taken = 0, released = 0;
  const auto give = [&](const void* samples, std::int64_t frames) {
    if (!taker) return;
    ++taken;
    taker->Take(samples, frames, [&] {
      // Told under the lock: once the last block is released, this
      // function may return and its mutex and condition go.
      std::lock_guard lock(mutex);
      ++released;
      changed.notify_all();
    });
  };
  const auto settled = [&](std::size_t blocks) {  // the taker done with all but `blocks`
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return taken - released <= blocks; });
  };
  if (!readAhead) {
    std::vector<double> buffer(kBlockBytes / sizeof(double));
    for (std::int64_t frame = start; frame < end;) {
      settled(0);
      const std::int64_t count = read(frame, buffer);
      if (count < 0) return false;
      give(buffer.data(), count);
      const bool more = use(buffer.data(), count);
      if (!more) break;
      frame += count;
    }
    settled(0);
    return true;
  }
  constexpr std::size_t kSlots = 6;
  struct Slot {
    std::vector<double> samples = std::vector<double>(kAheadBlockBytes / sizeof(double));
    std::int64_t frames = -1;  // -1: the read fell short
  };
  std::array<Slot, kSlots> slots;
  std::size_t filled = 0, used = 0;  // blocks so far, counted without end
  bool quit = false;
  // A slot serves again once this thread and the taker are both done with it.
  const auto free = [&] { return std::min(used, taker ? released : used); };
  std::thread reader([&] {
    for (std::int64_t frame = start; frame < end;) {
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return quit || filled - free() < kSlots; });
        if (quit) return;
      }
      Slot& slot = slots[filled % kSlots];
      slot.frames = read(frame, slot.samples);
      {
        std::lock_guard lock(mutex);
        ++filled;
      }
      changed.notify_all();
      if (slot.frames < 0) return;
      frame += slot.frames;
    }
  });
  bool whole = true;
  for (std::int64_t frame = start; frame < end;) {
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return filled > used; });
    }
    const Slot& slot = slots[used % kSlots];
    if (slot.frames < 0) {
      whole = false;
      break;
    }
    give(slot.samples.data(), slot.frames);
    const bool more = use(slot.samples.data(), slot.frames);
    frame += slot.frames;
    {
      std::lock_guard lock(mutex);
      ++used;
    }
    changed.notify_all();
    if (!more) break;
  }
  {
    std::lock_guard lock(mutex);
    quit = true;
  }
  changed.notify_all();
  reader.join();
  settled(0);
  return whole;
}

// The largest magnitude of 16-bit samples, -32768 counting as 32768: one
// unsigned maximum a sample, which the compiler makes wide.
CORVELLA_VECTOR_CLONES
int Peak16(const std::int16_t* s, std::size_t count) {
  std::uint16_t peak = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const auto u = static_cast<std::uint16_t>(s[i]);
    const auto magnitude =
        static_cast<std::uint16_t>(s[i] < 0 ? static_cast<std::uint16_t>(0 - u) : u);
    peak = std::max(peak, magnitude);
  }
  return peak;
}

// 24-bit samples as they lie in the file, three bytes each: the largest and
// the smallest value, each taken in the top 24 bits of a 32-bit one, so
// that the loop has no sign extension in it.
CORVELLA_VECTOR_CLONES
std::int64_t Peak24(const std::uint8_t* p, std::size_t count) {
  std::int32_t high = 0, low = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const auto v = static_cast<std::int32_t>((std::uint32_t{p[3 * i]} << 8) |
                                             (std::uint32_t{p[3 * i + 1]} << 16) |
                                             (std::uint32_t{p[3 * i + 2]} << 24));
    high = std::max(high, v);
    low = std::min(low, v);
  }
  return std::max<std::int64_t>(high >> 8, -std::int64_t{low >> 8});
}

CORVELLA_VECTOR_CLONES
std::int64_t Peak32(const std::int32_t* s, std::size_t count) {
  std::int32_t high = 0, low = 0;
  for (std::size_t i = 0; i < count; ++i) {
    high = std::max(high, s[i]);
    low = std::min(low, s[i]);
  }
  return std::max<std::int64_t>(high, -std::int64_t{low});
}

// Float magnitudes, compared as the integers their bits make with the sign
// cleared (IEEE 754 orders them alike), which vectorises where float
// comparisons would not. A sample that is not a number counts as an
// infinity: the detection rule judges it loud, so its window is as loud as
// can be.
template <typename Float, typename Bits>
CORVELLA_VECTOR_CLONES double PeakFloat(const Float* s, std::size_t count) {
  static_assert(sizeof(Float) == sizeof(Bits));
  constexpr Bits kMagnitude = std::numeric_limits<Bits>::max();  // every bit but the sign
  const Bits infinity = std::bit_cast<Bits>(std::numeric_limits<Float>::infinity());
  Bits peak = 0;
  for (std::size_t i = 0; i < count; ++i) {
    Bits bits;
    std::memcpy(&bits, s + i, sizeof bits);
    bits &= kMagnitude;
    peak = std::max(peak, std::min(bits, infinity));
  }
  return static_cast<double>(std::bit_cast<Float>(peak));
}

}  // namespace

double PeakOf(const void* samples, std::size_t count, const wave::SourceInfo& info) {
  const auto* p = static_cast<const std::uint8_t*>(samples);
  std::int64_t peak = 0;
  switch (info.sampleType) {
    case wave::SampleType::U8:
      for (std::size_t i = 0; i < count; ++i)
        peak = std::max<std::int64_t>(peak, std::abs(p[i] - 128));
      return static_cast<double>(peak) / 128.0;
    case wave::SampleType::S16:
      return Peak16(static_cast<const std::int16_t*>(samples), count) / 32768.0;
    case wave::SampleType::S24:
      return static_cast<double>(Peak24(p, count)) / 8388608.0;
    case wave::SampleType::S32:
      return static_cast<double>(Peak32(static_cast<const std::int32_t*>(samples), count)) /
             2147483648.0;
    case wave::SampleType::F32:
      return PeakFloat<float, std::int32_t>(static_cast<const float*>(samples), count);
    case wave::SampleType::F64:
      return PeakFloat<double, std::int64_t>(static_cast<const double*>(samples), count);
  }
  return 0;
}

wave::Error MeasurePeaks(wave::Source& source, std::vector<PartSpan>& parts) {
  const int channels = source.Info().channels;
  for (PartSpan& part : parts) {
    part.peak = 0;
    const bool read =
        ForEachBlock(source, part.start, part.end, false, [&](const void* s, std::int64_t frames) {
          part.peak = std::max(
              part.peak, PeakOf(s, static_cast<std::size_t>(frames * channels), source.Info()));
          return true;
        });
    if (!read) return {wave::ErrorCode::UnableToRead};
  }
  return {};
}

wave::Error ForEachWindowPeak(wave::Source& source, std::int64_t windowFrames, Progress& progress,
                              const std::function<void(double peak, std::int64_t frames)>& window,
                              BlockTaker* taker) {
  std::vector<double> noColumns;
  std::vector<PartSpan> noParts;
  return MeasureAll(
      source, progress, noColumns, windowFrames, window, [](PartSpan&) { return false; }, noParts,
      taker);
}

wave::Error MeasureAll(wave::Source& source, Progress& progress, std::vector<double>& columns,
                       std::int64_t windowFrames,
                       const std::function<void(double peak, std::int64_t frames)>& window,
                       const std::function<bool(PartSpan& part)>& nextPart,
                       std::vector<PartSpan>& parts, BlockTaker* taker) {
  const wave::SourceInfo& info = source.Info();
  const std::int64_t frames = info.frames;
  const auto count = static_cast<std::int64_t>(columns.size());
  std::fill(columns.begin(), columns.end(), 0.0);
  windowFrames = std::max<std::int64_t>(1, windowFrames);
  const std::int64_t width = info.FrameBytes();
  std::int64_t column = 0, windowEnd = windowFrames;
  PartSpan part;  // the part under way or next, while `inHand`
  bool inHand = nextPart(part);
  part.peak = 0;
  auto passed = [&](std::int64_t frame) {  // hands on the parts that end by `frame`
    while (inHand && part.end <= frame) {
      parts.push_back(part);
      inHand = nextPart(part);
      part.peak = 0;
    }
  };
  double windowPeak = 0;
  bool stopped = false;
  std::int64_t at = 0;  // the first frame of the block in hand
  const bool whole =
      ForEachBlock(source, 0, frames, true, [&](const void* samples, std::int64_t blockFrames) {
        const auto* bytes = static_cast<const std::uint8_t*>(samples);
        const std::int64_t end = at + blockFrames;
        for (std::int64_t f = at; f < end;) {
          // The next boundary of a column, a window or a part.
          passed(f);
          const std::int64_t columnEnd = count > 0 ? (column + 1) * frames / count : frames;
          const std::int64_t partEdge = !inHand ? frames : f < part.start ? part.start : part.end;
          const std::int64_t next = std::min({end, columnEnd, windowEnd, partEdge});
          const double peak = PeakOf(bytes + (f - at) * width,
                                     static_cast<std::size_t>((next - f) * info.channels), info);
          if (count > 0)
            columns[static_cast<std::size_t>(column)] =
                std::max(columns[static_cast<std::size_t>(column)], peak);
          windowPeak = std::max(windowPeak, peak);
          if (inHand && f >= part.start) part.peak = std::max(part.peak, peak);
          f = next;
          if (count > 0 && f == columnEnd && column + 1 < count) ++column;
          if (f == windowEnd) {
            window(windowPeak, windowFrames);
            windowPeak = 0;
            windowEnd += windowFrames;
          }
        }
        at = end;
        progress.Report(static_cast<int>(at * 100 / std::max<std::int64_t>(frames, 1)));
        progress.Pump();
        stopped = progress.StopRequested();
        return !stopped;
      }, taker);
  if (!whole) return {wave::ErrorCode::UnableToRead};
  if (stopped) return {wave::ErrorCode::Stopped};
  if (windowEnd - windowFrames < frames) window(windowPeak, frames - (windowEnd - windowFrames));
  passed(frames);
  return {};
}

}  // namespace corvella::detect
