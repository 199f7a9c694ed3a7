// Field helpers for RIFF headers (little-endian) and the few AIFF fields
// read (big-endian). Every multi-byte field of a file is decoded and encoded
// through these, never by overlaying structs.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace corvella::wave {

inline std::uint16_t ReadLe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t ReadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint64_t ReadLe64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(ReadLe32(p)) |
         (static_cast<std::uint64_t>(ReadLe32(p + 4)) << 32);
}

// AIFF's fields are big-endian.
inline std::uint32_t ReadBe32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

// A signed 24-bit sample, widened.
inline std::int32_t ReadLe24(const std::uint8_t* p) {
  const auto u = static_cast<std::uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16));
  return static_cast<std::int32_t>(u << 8) >> 8;
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

inline void WriteLe64(std::uint8_t* p, std::uint64_t v) {
  WriteLe32(p, static_cast<std::uint32_t>(v));
  WriteLe32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

// A chunk identifier as it is stored: its four characters in file order,
// read as a little-endian 32-bit value.
constexpr std::uint32_t FourCC(const char (&id)[5]) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(id[0])) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(id[1])) << 8) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(id[2])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(id[3])) << 24);
}

// Samples travel between the file and the sample buffers as raw bytes. On a
// big-endian host, samples of 2, 4 or 8 bytes are swapped in place after
// reading and before writing; 1- and 3-byte samples are always read bytewise.
inline void SamplesFromLittleEndian(void* samples, std::size_t count, int width) {
  if constexpr (std::endian::native == std::endian::big) {
    auto* bytes = static_cast<std::uint8_t*>(samples);
    if (width == 2 || width == 4 || width == 8) {
      for (std::size_t i = 0; i < count; ++i, bytes += width) {
        for (int a = 0, b = width - 1; a < b; ++a, --b) std::swap(bytes[a], bytes[b]);
      }
    }
  } else {
    (void)samples, (void)count, (void)width;
  }
}

inline void SamplesToLittleEndian(void* samples, std::size_t count, int width) {
  SamplesFromLittleEndian(samples, count, width);
}

}  // namespace corvella::wave
