// Little-endian field helpers for RIFF headers. Every multi-byte field of a
// WAV file is decoded and encoded through these, never by overlaying structs.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace corvella {

inline std::uint16_t ReadLe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t ReadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void WriteLe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void WriteLe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

// A chunk identifier as it is stored: its four characters in file order,
// read as a little-endian 32-bit value.
constexpr std::uint32_t FourCC(const char (&id)[5]) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(id[0])) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(id[1])) << 8) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(id[2])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(id[3])) << 24);
}

// Samples travel between the file and the sample buffer as raw bytes. On a
// big-endian host they are swapped in place after reading and before writing.
inline void SamplesFromLittleEndian(std::int16_t* samples, std::size_t count) {
  if constexpr (std::endian::native == std::endian::big) {
    for (std::size_t i = 0; i < count; ++i) {
      auto v = static_cast<std::uint16_t>(samples[i]);
      samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>((v >> 8) | (v << 8)));
    }
  } else {
    (void)samples;
    (void)count;
  }
}

inline void SamplesToLittleEndian(std::int16_t* samples, std::size_t count) {
  SamplesFromLittleEndian(samples, count);
}

}  // namespace corvella
