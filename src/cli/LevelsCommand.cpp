// `levels`: the recording's levels, and a noise floor between its noise and
// its music.
#include "batch/PartWalk.h"
#include "cli/Commands.h"
#include "cli/Levels.h"
#include "cli/Session.h"
#include "cli/Text.h"
#include "detect/Levels.h"
#include "detect/Units.h"

namespace corvella::cli {

int Levels(const Options& options, Console& console) {
  bool failed = false;
  for (const std::string& file : options.files) {
    if (console.Stopped()) break;
    Console::Bar bar(console, file);
    std::unique_ptr<wave::WaveSource> source = OpenSource(console, file);
    if (!source) {
      failed = true;
      continue;
    }
    const wave::SourceInfo& info = source->Info();
    std::vector<double> peaks;
    const wave::Error error =
        detect::ForEachWindowPeak(*source, detect::FramesFromSeconds(0.01, info.rate), bar,
                                  [&](double peak, std::int64_t) { peaks.push_back(peak); });
    if (error) {
      if (error != wave::ErrorCode::Stopped) console.Report(file, error);
      failed = true;
      continue;
    }
    const LevelEstimate estimate = EstimateLevels(peaks);
    detect::DetectParams params = options.Detection();
    params.noiseFloor = detect::NoiseFloorFromDb(estimate.thresholdDb);
    params.thresholdDb = estimate.thresholdDb;
    detect::Scanner scanner(*source, params, bar);
    const int parts = batch::WalkParts(scanner, [](const detect::PartSpan&, int) {}).parts;
    if (console.Stopped()) break;
    bar.Clear();

    std::ostream& out = console.out();
    out << Printable(file) << ": " << info.rate << " Hz, " << info.channels
        << (info.channels == 1 ? " channel, " : " channels, ")
        << Fixed(detect::Seconds(info.frames, info.rate), 1) << " s, " << peaks.size()
        << " windows of 10 ms\n";
    if (estimate.found) {
      out << "  noise floor: " << Fixed(estimate.noiseDb, 1) << " dBFS (quiet passages, "
          << Fixed(100.0 * estimate.quietShare, 1) << "% of the recording)\n"
          << "  music:       from " << Fixed(estimate.musicDb, 1) << " dBFS\n";
    } else {
      out << "  no clear silence: the quiet passages do not stand apart from the music\n";
    }
    WriteHistogram(out, peaks, estimate);
    out << "  suggested threshold: " << Fixed(estimate.thresholdDb, 1) << " dBFS (--noise-floor "
        << params.noiseFloor << "), giving " << parts << (parts == 1 ? " part" : " parts")
        << " with a " << Fixed(detect::GapSeconds(params.gapThreshold), 2) << " s gap\n"
        << "suggested: --threshold-db " << Fixed(estimate.thresholdDb, 1) << "\n";
    if (!console.Deliver()) return console.OutputStatus();
  }
  return ExitStatus(console, failed);
}

}  // namespace corvella::cli
