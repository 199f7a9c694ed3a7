#include "formats/DecodedWave.h"

#include <algorithm>
#include <vector>

#include "wave/Samples.h"

namespace corvella::formats {
namespace {

constexpr std::int64_t kBlockFrames = 16384;

}  // namespace

wave::ShapeRequest DecodedShape(const wave::SourceInfo& info, bool mono, std::uint32_t defaultMask) {
  wave::ShapeRequest wanted;
  wanted.rate = info.rate;
  wanted.channels = mono ? 1 : info.channels;
  wanted.bits = info.bits <= 8 ? 8 : info.bits <= 16 ? 16 : info.bits <= 24 ? 24 : 32;
  wanted.validBits = info.bits;
  const std::uint32_t mask = mono ? 0x4 : info.channelMask != 0 ? info.channelMask : defaultMask;
  wanted.channelMask = mask;
  wanted.extensible = wanted.channels > 2 || (info.bits != 8 && info.bits != 16) ||
                    (!mono && info.channelMask != 0 && info.channelMask != defaultMask);
  return wanted;
}

wave::Error WriteDecodedWave(wave::Source& reader, std::int64_t start, std::int64_t end,
                             const wave::ShapeRequest& wanted, wave::Folder& folder,
                             const std::string& name, const wave::WriteOptions& options,
                             wave::FileId* written) {
  const wave::SourceInfo& info = reader.Info();
  wave::Shape shape;
  if (wave::Error error = wave::MakeShape(wanted, shape)) return error;
  wave::WriteOptions plain = options;
  plain.mono = false;  // mixed here, at the recording's own width
  wave::Error error;
  std::unique_ptr<wave::GrowingPart> part =
      wave::GrowingPart::Start(*shape.source, start, folder, name, plain, error);
  if (!part) return error;
  const int shift = wave::LeftShiftOf(info.sampleType, info.bits);
  const int up = wanted.bits - info.bits;  // left-justified in the container
  const int width = wanted.bits / 8;
  const bool mix = wanted.channels == 1 && info.channels > 1;
  const std::int64_t frameBytes = info.FrameBytes();
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(kBlockFrames * frameBytes));
  std::vector<std::int32_t> samples(static_cast<std::size_t>(kBlockFrames * info.channels));
  std::vector<std::uint8_t> out(static_cast<std::size_t>(kBlockFrames * wanted.channels * width));
  for (std::int64_t frame = start; frame < end;) {
    if (options.stopRequested && options.stopRequested()) return wave::ErrorCode::Stopped;
    const std::int64_t count = std::min(end - frame, kBlockFrames);
    const std::int64_t bytes = count * frameBytes;
    if (reader.ReadSamples(frame * frameBytes, raw.data(), bytes) != bytes)
      return {wave::ErrorCode::UnableToRead, reader.Failure()};
    const auto taken = static_cast<std::size_t>(count * info.channels);
    wave::ToLeftAligned(raw.data(), info.sampleType, taken, samples.data());
    for (std::size_t i = 0; i < taken; ++i) samples[i] >>= shift;
    if (mix) wave::MixFrames(samples.data(), static_cast<std::size_t>(count), info.channels);
    const auto values = static_cast<std::size_t>(count * wanted.channels);
    for (std::size_t i = 0; i < values; ++i) {
      const auto v = static_cast<std::uint32_t>(samples[i]) << up;
      std::uint8_t* at = out.data() + i * static_cast<std::size_t>(width);
      if (width == 1) {
        at[0] = static_cast<std::uint8_t>((v & 0xFF) + 128);
      } else {
        for (int b = 0; b < width; ++b) at[b] = static_cast<std::uint8_t>(v >> (8 * b));
      }
    }
    if (!part->Append(out.data(), count)) break;
    frame += count;
  }
  return part->Finish(name, written);
}

}  // namespace corvella::formats
