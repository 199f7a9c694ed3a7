#include "wave/Samples.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "wave/ByteOrder.h"
#include "wave/VectorClones.h"

namespace corvella::wave {
namespace {

constexpr std::size_t kGroup = 256;  // frames mixed in one go

inline std::int16_t Mix(std::int16_t left, std::int16_t right) {
  return static_cast<std::int16_t>((static_cast<std::int32_t>(left) + right) / 2);
}

// Frames whose output and input do not overlap, so the loop vectorises.
CORVELLA_VECTOR_CLONES
void MixApart(const std::int16_t* __restrict in, std::int16_t* __restrict out) {
  for (std::size_t i = 0; i < kGroup; ++i) out[i] = Mix(in[2 * i], in[2 * i + 1]);
}

}  // namespace

void MixToMono(std::int16_t* samples, std::size_t frames) {
  // Output frames [i, i + kGroup) read input samples [2i, 2i + 2 kGroup): the
  // two ranges are apart once i >= kGroup. The first group goes one by one.
  std::size_t i = 0;
  for (; i < frames && i < kGroup; ++i) samples[i] = Mix(samples[2 * i], samples[2 * i + 1]);
  for (; i + kGroup <= frames; i += kGroup) MixApart(samples + 2 * i, samples + i);
  for (; i < frames; ++i) samples[i] = Mix(samples[2 * i], samples[2 * i + 1]);
}

}  // namespace corvella::wave

namespace corvella::wave {
namespace {

template <typename Read, typename Write>
void MixEach(std::uint8_t* p, std::size_t frames, int channels, int width, Read read, Write write) {
  for (std::size_t f = 0; f < frames; ++f) {
    const std::uint8_t* in = p + f * static_cast<std::size_t>(channels * width);
    auto sum = read(in);
    for (int c = 1; c < channels; ++c) sum += read(in + c * width);
    write(p + f * static_cast<std::size_t>(width), sum / channels);
  }
}

}  // namespace

void MixDown(void* samples, std::size_t frames, int channels, SampleType type) {
  auto* p = static_cast<std::uint8_t*>(samples);
  if (type == SampleType::S16 && channels == 2) {
    SamplesFromLittleEndian(p, frames * 2, 2);
    MixToMono(reinterpret_cast<std::int16_t*>(p), frames);
    SamplesToLittleEndian(p, frames, 2);
    return;
  }
  switch (type) {
    case SampleType::U8:
      return MixEach(
          p, frames, channels, 1, [](const std::uint8_t* q) { return std::int64_t{q[0]} - 128; },
          [](std::uint8_t* q, std::int64_t v) { q[0] = static_cast<std::uint8_t>(v + 128); });
    case SampleType::S16:
      return MixEach(
          p, frames, channels, 2,
          [](const std::uint8_t* q) {
            return std::int64_t{static_cast<std::int16_t>(ReadLe16(q))};
          },
          [](std::uint8_t* q, std::int64_t v) { WriteLe16(q, static_cast<std::uint16_t>(v)); });
    case SampleType::S24:
      return MixEach(
          p, frames, channels, 3, [](const std::uint8_t* q) { return std::int64_t{ReadLe24(q)}; },
          [](std::uint8_t* q, std::int64_t v) {
            const auto u = static_cast<std::uint32_t>(v);
            q[0] = static_cast<std::uint8_t>(u), q[1] = static_cast<std::uint8_t>(u >> 8),
            q[2] = static_cast<std::uint8_t>(u >> 16);
          });
    case SampleType::S32:
      return MixEach(
          p, frames, channels, 4,
          [](const std::uint8_t* q) {
            return std::int64_t{static_cast<std::int32_t>(ReadLe32(q))};
          },
          [](std::uint8_t* q, std::int64_t v) { WriteLe32(q, static_cast<std::uint32_t>(v)); });
    case SampleType::F32:
      return MixEach(
          p, frames, channels, 4,
          [](const std::uint8_t* q) { return double{std::bit_cast<float>(ReadLe32(q))}; },
          [](std::uint8_t* q, double v) {
            WriteLe32(q, std::bit_cast<std::uint32_t>(static_cast<float>(v)));
          });
    case SampleType::F64:
      return MixEach(
          p, frames, channels, 8,
          [](const std::uint8_t* q) { return std::bit_cast<double>(ReadLe64(q)); },
          [](std::uint8_t* q, double v) { WriteLe64(q, std::bit_cast<std::uint64_t>(v)); });
  }
}

namespace {

std::int32_t FromFloat(double value) {
  return static_cast<std::int32_t>(
      std::lrint((std::isnan(value) ? 0.0 : std::clamp(value, -1.0, 1.0)) * 2147483647.0));
}

}  // namespace

void ToLeftAligned(const std::uint8_t* in, SampleType type, std::size_t count, std::int32_t* out) {
  for (std::size_t i = 0; i < count; ++i) {
    switch (type) {
      case SampleType::U8:
        out[i] = static_cast<std::int32_t>((in[i] - 128) * 16777216);
        break;
      case SampleType::S16: {
        std::int16_t v;
        std::memcpy(&v, in + 2 * i, 2);
        out[i] = static_cast<std::int32_t>(v * 65536);
        break;
      }
      case SampleType::S24:
        out[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(ReadLe24(in + 3 * i)) << 8);
        break;
      case SampleType::S32:
        std::memcpy(&out[i], in + 4 * i, 4);
        break;
      case SampleType::F32: {
        float f;
        std::memcpy(&f, in + 4 * i, 4);
        out[i] = FromFloat(f);
        break;
      }
      case SampleType::F64: {
        double d;
        std::memcpy(&d, in + 8 * i, 8);
        out[i] = FromFloat(d);
        break;
      }
    }
  }
}

int LeftShiftOf(SampleType type, int bits) {
  if (IsFloat(type)) return 0;
  return type == SampleType::S32 ? 32 - bits : 32 - 8 * BytesOf(type);
}

void ToDoubles(const std::uint8_t* in, SampleType type, std::size_t count, double* out) {
  for (std::size_t i = 0; i < count; ++i) {
    if (type == SampleType::F32) {
      float f;
      std::memcpy(&f, in + 4 * i, 4);
      out[i] = f;
    } else if (type == SampleType::F64) {
      std::memcpy(&out[i], in + 8 * i, 8);
    } else {
      std::int32_t v = 0;
      ToLeftAligned(in + i * static_cast<std::size_t>(BytesOf(type)), type, 1, &v);
      out[i] = v / 2147483648.0;
    }
  }
}

}  // namespace corvella::wave
