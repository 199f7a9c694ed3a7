// Synthesises long benchmark recordings quickly: tracks of music-like sound
// (chords with a moving envelope and noise) separated by silent gaps.
//   make-recording PATH CHANNELS MINUTES TRACKS GAP_SECONDS [music|silent]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "WavHeader.h"

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: make-recording PATH CHANNELS MINUTES TRACKS GAP_SECONDS [music|silent]\n");
    return 2;
  }
  const std::string path = argv[1];
  const int channels = std::atoi(argv[2]);
  const double minutes = std::atof(argv[3]);
  const int tracks = std::atoi(argv[4]);
  const double gapSeconds = std::atof(argv[5]);
  const bool silent = argc > 6 && std::string(argv[6]) == "silent";
  const int rate = 44100;
  const long frames = static_cast<long>(minutes * 60 * rate);
  const long gapFrames = static_cast<long>(gapSeconds * rate);
  const long trackFrames = (frames - (tracks + 1) * gapFrames) / tracks;

  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) {
    std::perror(path.c_str());
    return 1;
  }
  const auto header = WavHeader(channels, rate, static_cast<std::uint32_t>(frames * channels * 2));
  std::fwrite(header.data(), 1, header.size(), out);

  std::uint32_t noise = 12345;
  std::vector<std::int16_t> block;
  block.reserve(static_cast<std::size_t>(rate * channels));
  for (long f = 0; f < frames;) {
    block.clear();
    for (int i = 0; i < rate && f < frames; ++i, ++f) {
      const long inCycle = (f - gapFrames) % (trackFrames + gapFrames);
      const bool music = !silent && f >= gapFrames && inCycle < trackFrames &&
                         f < gapFrames + tracks * (trackFrames + gapFrames);
      for (int c = 0; c < channels; ++c) {
        noise = noise * 1664525u + 1013904223u;
        int hiss = static_cast<int>((noise >> 16) % 41) - 20;  // about -64 dBFS
        double v = hiss;
        if (music) {
          const double t = static_cast<double>(inCycle) / rate;
          const double envelope = 0.55 + 0.45 * std::sin(2 * M_PI * 0.3 * t + c);
          v += envelope * (6000 * std::sin(2 * M_PI * 220 * t) + 3000 * std::sin(2 * M_PI * 277.2 * t) +
                           2000 * std::sin(2 * M_PI * 329.6 * t)) +
               static_cast<int>((noise >> 8) % 2001) - 1000;
        }
        block.push_back(static_cast<std::int16_t>(v));
      }
    }
    std::fwrite(block.data(), 2, block.size(), out);  // little-endian hosts only
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
