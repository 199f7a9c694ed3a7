// The 44-byte header of a plain 16-bit PCM WAV file, for the tools that
// synthesise recordings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline std::vector<unsigned char> WavHeader(int channels, int rate, std::uint32_t dataBytes) {
  std::vector<unsigned char> header;
  auto text = [&](const std::string& s) { header.insert(header.end(), s.begin(), s.end()); };
  auto le = [&](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) header.push_back(static_cast<unsigned char>(value >> (8 * i)));
  };
  text("RIFF");
  le(36 + dataBytes, 4);
  text("WAVEfmt ");
  le(16, 4);
  le(1, 2);
  le(static_cast<std::uint32_t>(channels), 2);
  le(static_cast<std::uint32_t>(rate), 4);
  le(static_cast<std::uint32_t>(rate * channels * 2), 4);
  le(static_cast<std::uint32_t>(channels * 2), 2);
  le(16, 2);
  text("data");
  le(dataBytes, 4);
  return header;
}
