// Writes demo recordings for a first look at Corvella: short tracks of tones
// separated by silences with faint hiss, as a tape transfer would have.
//   corvella-demo FOLDER [--long MINUTES]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "WavHeader.h"

namespace {

bool WriteWav(const std::string& path, int channels, int rate, const std::vector<std::int16_t>& s) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const auto header = WavHeader(channels, rate, static_cast<std::uint32_t>(s.size() * 2));
  out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
  for (std::int16_t v : s) {
    const auto u = static_cast<std::uint16_t>(v);
    out.put(static_cast<char>(u & 0xFF));
    out.put(static_cast<char>(u >> 8));
  }
  return static_cast<bool>(out);
}

// A recording of `tracks` tracks, each a run of notes with short rests
// (shorter than the default 0.5 s gap), and `gapSeconds` of hiss between tracks.
std::vector<std::int16_t> Session(int channels, int rate, int tracks, double trackSeconds,
                                  double gapSeconds, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> hiss(-12, 12);  // about -69 dBFS: well under the floor
  std::uniform_int_distribution<int> pitch(0, 11);
  std::vector<std::int16_t> s;
  auto silence = [&](double seconds) {
    for (long i = 0; i < static_cast<long>(seconds * rate) * channels; ++i) {
      s.push_back(static_cast<std::int16_t>(hiss(random)));
    }
  };
  silence(0.8);
  for (int t = 0; t < tracks; ++t) {
    const double length = trackSeconds * (0.7 + 0.3 * ((t * 7) % 5) / 4.0);
    for (double done = 0; done < length;) {
      const double note = 0.25 + 0.05 * pitch(random);
      const double freq = 220.0 * std::pow(2.0, pitch(random) / 12.0);
      const long frames = static_cast<long>(note * rate);
      for (long i = 0; i < frames; ++i) {
        const double time = static_cast<double>(i) / rate;
        const double envelope = std::min(1.0, time * 40) * std::exp(-3.0 * time);
        const double wave = std::sin(2 * M_PI * freq * time) + 0.3 * std::sin(4 * M_PI * freq * time);
        for (int c = 0; c < channels; ++c) {
          const double pan = channels == 2 ? (c == 0 ? 0.9 : 0.6 + 0.1 * (t % 4)) : 1.0;
          s.push_back(static_cast<std::int16_t>(9000 * envelope * wave * pan + hiss(random)));
        }
      }
      silence(0.12);  // a rest inside the track
      done += note + 0.12;
    }
    silence(gapSeconds);
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: corvella-demo FOLDER [--long MINUTES]\n");
    return 2;
  }
  const std::string folder = argv[1];
  std::filesystem::create_directories(folder);
  bool ok = WriteWav(folder + "/side-a.wav", 2, 44100, Session(2, 44100, 4, 6.0, 1.5, 1)) &&
            WriteWav(folder + "/voice-notes.wav", 1, 22050, Session(1, 22050, 3, 4.0, 1.2, 2));
  if (argc >= 4 && std::string(argv[2]) == "--long") {
    // A long recording, for watching progress and Cancel at work.
    const double minutes = std::atof(argv[3]);
    const int tracks = std::max(1, static_cast<int>(minutes * 60 / 32));
    ok = ok && WriteWav(folder + "/long-tape.wav", 2, 44100, Session(2, 44100, tracks, 30.0, 2.0, 3));
  }
  if (!ok) {
    std::fprintf(stderr, "corvella-demo: cannot write into %s\n", folder.c_str());
    return 1;
  }
  return 0;
}
