// The 44-byte header of a plain 16-bit PCM WAV file, for the tools that
// synthesise recordings.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline std::array<unsigned char, 44> WavHeader(int channels, int rate, std::uint32_t dataBytes) {
  std::array<unsigned char, 44> header{};
  auto text = [&](std::size_t at, const char(&id)[5]) {
    for (std::size_t i = 0; i < 4; ++i) header[at + i] = static_cast<unsigned char>(id[i]);
  };
  auto le = [&](std::size_t at, std::uint32_t value, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i)
      header[at + i] = static_cast<unsigned char>(value >> (8 * i));
  };
  text(0, "RIFF");
  le(4, 36 + dataBytes, 4);
  text(8, "WAVE");
  text(12, "fmt ");
  le(16, 16, 4);
  le(20, 1, 2);
  le(22, static_cast<std::uint32_t>(channels), 2);
  le(24, static_cast<std::uint32_t>(rate), 4);
  le(28, static_cast<std::uint32_t>(rate * channels * 2), 4);
  le(32, static_cast<std::uint32_t>(channels * 2), 2);
  le(34, 16, 2);
  text(36, "data");
  le(40, dataBytes, 4);
  return header;
}
