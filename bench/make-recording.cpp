// Synthesises long benchmark recordings quickly: tracks of music-like sound
// (chords with a moving envelope and noise) separated by silent gaps.
//   make-recording PATH CHANNELS MINUTES TRACKS GAP_SECONDS [music|silent] [RATE] [s16|s24|f32]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Put(std::vector<unsigned char>& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A plain RIFF header: PCM (tag 1) or IEEE float (tag 3).
std::vector<unsigned char> Header(int channels, int rate, int width, bool isFloat,
                                  std::uint64_t dataBytes) {
  std::vector<unsigned char> h;
  auto id = [&](const char* text) { h.insert(h.end(), text, text + 4); };
  id("RIFF");
  Put(h, 36 + dataBytes, 4);
  id("WAVE");
  id("fmt ");
  Put(h, 16, 4);
  Put(h, isFloat ? 3 : 1, 2);
  Put(h, static_cast<std::uint64_t>(channels), 2);
  Put(h, static_cast<std::uint64_t>(rate), 4);
  Put(h, static_cast<std::uint64_t>(rate * channels * width), 4);
  Put(h, static_cast<std::uint64_t>(channels * width), 2);
  Put(h, static_cast<std::uint64_t>(8 * width), 2);
  id("data");
  Put(h, dataBytes, 4);
  return h;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(
        stderr,
        "usage: make-recording PATH CHANNELS MINUTES TRACKS GAP_SECONDS [music|silent] [RATE] "
        "[s16|s24|f32]\n");
    return 2;
  }
  const std::string path = argv[1];
  const int channels = std::atoi(argv[2]);
  const double minutes = std::atof(argv[3]);
  const int tracks = std::atoi(argv[4]);
  const double gapSeconds = std::atof(argv[5]);
  const bool silent = argc > 6 && std::string(argv[6]) == "silent";
  const int rate = argc > 7 ? std::atoi(argv[7]) : 44100;
  const std::string format = argc > 8 ? argv[8] : "s16";
  const bool isFloat = format == "f32";
  const int width = format == "s24" ? 3 : isFloat ? 4 : 2;
  const long frames = static_cast<long>(minutes * 60 * rate);
  const long gapFrames = static_cast<long>(gapSeconds * rate);
  const long trackFrames = (frames - (tracks + 1) * gapFrames) / tracks;

  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) {
    std::perror(path.c_str());
    return 1;
  }
  const auto header =
      Header(channels, rate, width, isFloat, static_cast<std::uint64_t>(frames) * channels * width);
  std::fwrite(header.data(), 1, header.size(), out);

  std::uint32_t noise = 12345;
  std::vector<unsigned char> block;
  block.reserve(static_cast<std::size_t>(rate * channels * width));
  for (long f = 0; f < frames;) {
    block.clear();
    for (int i = 0; i < rate && f < frames; ++i, ++f) {
      const long inCycle = (f - gapFrames) % (trackFrames + gapFrames);
      const bool music = !silent && f >= gapFrames && inCycle < trackFrames &&
                         f < gapFrames + tracks * (trackFrames + gapFrames);
      for (int c = 0; c < channels; ++c) {
        noise = noise * 1664525u + 1013904223u;
        int hiss = static_cast<int>((noise >> 16) % 41) - 20;  // about -64 dBFS
        double v = hiss;                                       // on the 16-bit scale
        if (music) {
          const double t = static_cast<double>(inCycle) / rate;
          const double envelope = 0.55 + 0.45 * std::sin(2 * M_PI * 0.3 * t + c);
          v += envelope *
                   (6000 * std::sin(2 * M_PI * 220 * t) + 3000 * std::sin(2 * M_PI * 277.2 * t) +
                    2000 * std::sin(2 * M_PI * 329.6 * t)) +
               static_cast<int>((noise >> 8) % 2001) - 1000;
        }
        if (isFloat) {
          const float sample = static_cast<float>(v / 32768.0);
          std::uint32_t bits;
          std::memcpy(&bits, &sample, 4);
          Put(block, bits, 4);
        } else {
          Put(block,
              static_cast<std::uint64_t>(static_cast<std::int64_t>(v) * (width == 3 ? 256 : 1)),
              width);
        }
      }
    }
    std::fwrite(block.data(), 1, block.size(), out);
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
