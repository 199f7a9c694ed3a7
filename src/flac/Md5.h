// MD5 (RFC 1321), for the signature a FLAC stream carries over its samples:
// checked here in order while the frames are decoded on several cores.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace corvella::flac {

class Md5 {
 public:
  using Digest = std::array<std::uint8_t, 16>;

  void Update(const std::uint8_t* data, std::size_t size);
  // The digest of everything given; the object is spent after it.
  Digest Finish();

 private:
  void Blocks(const std::uint8_t* data, std::size_t count);

  std::uint32_t state_[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
  std::uint64_t length_ = 0;  // bytes given
  std::uint8_t pending_[64] = {};
  std::size_t held_ = 0;      // bytes of pending_ in use
};

// Adds interleaved samples, each `bits` wide and held shifted to the top of
// 32, as FLAC's signature takes them: little-endian, in whole bytes.
void HashSamples(Md5& md5, const std::int32_t* samples, std::size_t count, int bits);

}  // namespace corvella::flac
