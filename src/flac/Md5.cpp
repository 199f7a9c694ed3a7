#include "flac/Md5.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace corvella::flac {
namespace {

constexpr std::uint32_t Rotate(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

std::uint32_t Word(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

// The sines' table and the shifts of RFC 1321's four rounds.
constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
    0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
    0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
    0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
    0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
    0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
    0xeb86d391};
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

}  // namespace

// Step I of the 64: the four words take turns, as RFC 1321's rounds write out.
template <int I>
inline void Step(std::uint32_t (&v)[4], const std::uint32_t (&x)[16]) {
  std::uint32_t& a = v[(64 - I) % 4];
  const std::uint32_t b = v[(65 - I) % 4], c = v[(66 - I) % 4], d = v[(67 - I) % 4];
  std::uint32_t f = 0;
  int g = 0;
  if constexpr (I < 16) {
    f = d ^ (b & (c ^ d));
    g = I;
  } else if constexpr (I < 32) {
    f = c ^ (d & (b ^ c));
    g = (5 * I + 1) % 16;
  } else if constexpr (I < 48) {
    f = b ^ c ^ d;
    g = (3 * I + 5) % 16;
  } else {
    f = c ^ (b | ~d);
    g = (7 * I) % 16;
  }
  a = b + Rotate(a + f + kSine[I] + x[g], kShift[I / 16][I % 4]);
}

void Md5::Blocks(const std::uint8_t* data, std::size_t count) {
  for (; count > 0; --count, data += 64) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = Word(data + 4 * i);
    std::uint32_t v[4] = {state_[0], state_[1], state_[2], state_[3]};
    [&]<std::size_t... I>(std::index_sequence<I...>) {
      (Step<static_cast<int>(I)>(v, x), ...);
    }(std::make_index_sequence<64>{});
    for (int i = 0; i < 4; ++i) state_[i] += v[i];
  }
}

void Md5::Update(const std::uint8_t* data, std::size_t size) {
  length_ += size;
  if (held_ > 0) {
    const std::size_t take = std::min(size, 64 - held_);
    std::memcpy(pending_ + held_, data, take);
    held_ += take;
    data += take;
    size -= take;
    if (held_ < 64) return;
    Blocks(pending_, 1);
    held_ = 0;
  }
  Blocks(data, size / 64);
  data += size / 64 * 64;
  size %= 64;
  std::memcpy(pending_, data, size);
  held_ = size;
}

Md5::Digest Md5::Finish() {
  const std::uint64_t bits = length_ * 8;
  std::uint8_t tail[72] = {0x80};
  const std::size_t pad = (held_ < 56 ? 56 : 120) - held_;
  for (int i = 0; i < 8; ++i) tail[pad + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (8 * i));
  Update(tail, pad + 8);
  Digest digest{};
  for (int i = 0; i < 16; ++i) digest[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(state_[i / 4] >> (8 * (i % 4)));
  return digest;
}

namespace {

// Packs samples of `Width` bytes; a loop of its own for each width, so that
// the compiler can do many at once.
template <int Width>
std::size_t Pack(const std::int32_t* samples, std::size_t count, int shift, std::uint8_t* out) {
  for (std::size_t i = 0; i < count; ++i) {
    const auto value = static_cast<std::uint32_t>(samples[i] >> shift);
    for (int b = 0; b < Width; ++b)
      out[i * Width + static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(value >> (8 * b));
  }
  return count * Width;
}

}  // namespace

void HashSamples(Md5& md5, const std::int32_t* samples, std::size_t count, int bits) {
  const int width = (bits + 7) / 8;
  const int shift = 32 - bits;
  // Packed a few thousand at a time, on the stack: called once a frame
  // where frames are decoded one by one.
  constexpr std::size_t kStep = 4096;
  std::array<std::uint8_t, kStep * 4> bytes;
  while (count > 0) {
    const std::size_t n = std::min(count, kStep);
    const std::size_t made = width == 1   ? Pack<1>(samples, n, shift, bytes.data())
                             : width == 2 ? Pack<2>(samples, n, shift, bytes.data())
                             : width == 3 ? Pack<3>(samples, n, shift, bytes.data())
                                          : Pack<4>(samples, n, shift, bytes.data());
    md5.Update(bytes.data(), made);
    samples += n;
    count -= n;
  }
}

}  // namespace corvella::flac
