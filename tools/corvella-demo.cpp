// Writes demo recordings for a first look at Corvella: short tracks of tones
// separated by silences with faint hiss, as a tape transfer would have.
//   corvella-demo FOLDER [--long MINUTES]
#include <CLI/CLI.hpp>
#include <algorithm>
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
  out.write(reinterpret_cast<const char*>(header.data()),
            static_cast<std::streamsize>(header.size()));
  for (std::int16_t v : s) {
    const auto u = static_cast<std::uint16_t>(v);
    out.put(static_cast<char>(u & 0xFF));
    out.put(static_cast<char>(u >> 8));
  }
  return static_cast<bool>(out);
}

// A recording of `tracks` tracks, each a run of notes with short rests
// (shorter than the default 0.5 s gap), and `gapSeconds` of hiss between
// tracks. With `totalSeconds`, as many tracks as fit, and hiss to make the
// recording exactly that long.
std::vector<std::int16_t> Session(int channels, int rate, int tracks, double trackSeconds,
                                  double gapSeconds, unsigned seed, double totalSeconds = 0) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> hiss(-12, 12);  // about -69 dBFS: well under the floor
  std::uniform_int_distribution<int> pitch(0, 11);
  std::vector<std::int16_t> s;
  auto seconds = [&] { return static_cast<double>(s.size() / channels) / rate; };
  auto silence = [&](double length) {
    for (long i = 0; i < static_cast<long>(length * rate) * channels; ++i) {
      s.push_back(static_cast<std::int16_t>(hiss(random)));
    }
  };
  silence(0.8);
  for (int t = 0; totalSeconds > 0 || t < tracks; ++t) {
    double length = trackSeconds * (0.7 + 0.3 * ((t * 7) % 5) / 4.0);
    if (totalSeconds > 0) {
      // The last track ends a gap before the end; a short tape gets a short one.
      const double room = totalSeconds - seconds() - gapSeconds - 1.0;
      if (room < 1.0 && t > 0) break;
      length = std::min(length, std::max(room, 0.5));
    }
    for (double done = 0; done < length;) {
      const double note = 0.25 + 0.05 * pitch(random);
      const double freq = 220.0 * std::pow(2.0, pitch(random) / 12.0);
      const long frames = static_cast<long>(note * rate);
      for (long i = 0; i < frames; ++i) {
        const double time = static_cast<double>(i) / rate;
        const double envelope = std::min(1.0, time * 40) * std::exp(-3.0 * time);
        const double wave =
            std::sin(2 * M_PI * freq * time) + 0.3 * std::sin(4 * M_PI * freq * time);
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
  if (totalSeconds > 0) {
    const auto wanted = static_cast<std::size_t>(std::llround(totalSeconds * rate)) * channels;
    if (s.size() > wanted) s.resize(wanted);
    while (s.size() < wanted) s.push_back(static_cast<std::int16_t>(hiss(random)));
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Writes demo recordings for Corvella: side-a.wav (4 tracks, stereo) and "
      "voice-notes.wav (3 takes, mono, 22050 Hz), and with --long a tape of that many "
      "minutes, long-tape.wav.",
      "corvella-demo"};
  std::string folder;
  double minutes = 0;
  app.add_option("FOLDER", folder, "Where the recordings go (made if missing)")->required();
  app.add_option("--long", minutes, "Also write long-tape.wav, exactly this many minutes long")
      ->check(CLI::Range(0.05, 600.0))
      ->type_name("MINUTES");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }

  std::error_code error;
  std::filesystem::create_directories(folder, error);
  bool ok = WriteWav(folder + "/side-a.wav", 2, 44100, Session(2, 44100, 4, 6.0, 1.5, 1)) &&
            WriteWav(folder + "/voice-notes.wav", 1, 22050, Session(1, 22050, 3, 4.0, 1.2, 2));
  if (minutes > 0) {
    // A long recording, for watching progress and Cancel at work.
    ok = ok && WriteWav(folder + "/long-tape.wav", 2, 44100,
                        Session(2, 44100, 0, 30.0, 2.0, 3, minutes * 60));
  }
  if (!ok) {
    std::fprintf(stderr, "corvella-demo: cannot write into %s\n", folder.c_str());
    return 1;
  }
  return 0;
}
