// `levels`: the recording's levels, and a noise floor between its noise and
// its music. The window peaks stream into a histogram: the memory is the
// same for a recording of any length or rate.
#include "batch/PartWalk.h"
#include "cli/Commands.h"
#include "cli/Levels.h"
#include "cli/Text.h"
#include "detect/Levels.h"
#include "detect/Units.h"

namespace corvella::cli {
namespace {

// "10 ms", "10.02 ms", "1000 ms": a window's real length.
std::string WindowLength(std::int64_t frames, std::int64_t rate) {
  std::string text = Fixed(1000.0 * detect::Seconds(frames, rate > 0 ? rate : 44100), 2);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text + " ms";
}

}  // namespace

int Levels(Job& job) {
  Console& console = job.console;
  bool failed = false;
  for (const std::string& file : job.options.files) {
    if (console.Stopped()) break;
    Console::Bar bar(console, file);
    std::unique_ptr<wave::Source> source = job.Open(file);
    if (!source) {
      failed = true;
      continue;
    }
    const wave::SourceInfo& info = source->Info();
    // Windows of 10 ms, and at least a frame at very low rates.
    const std::int64_t windowFrames =
        std::max<std::int64_t>(1, detect::FramesFromSeconds(0.01, info.rate));
    // Deeper recordings have their noise far below 16-bit silence.
    LevelHistogram levels(info.bits > 16 || wave::IsFloat(info.sampleType) ? -150 : -96);
    const wave::Error error = detect::ForEachWindowPeak(
        *source, windowFrames, bar, [&](double peak, std::int64_t) { levels.Add(peak); });
    if (error) {
      if (error != wave::ErrorCode::Stopped) console.Report(file, error);
      failed = true;
      continue;
    }
    const LevelEstimate estimate = EstimateLevels(levels);
    detect::DetectParams params = job.options.Detection();
    params.noiseFloor = detect::NoiseFloorFromDb(estimate.thresholdDb);
    params.thresholdDb = estimate.thresholdDb;
    detect::Scanner scanner(*source, params, bar);
    const int parts = batch::WalkParts(scanner, [](const detect::PartSpan&, int) {}).parts;
    if (console.Stopped()) break;
    bar.Clear();

    std::ostream& out = console.out();
    out << Printable(file) << ": " << info.rate << " Hz, " << info.channels
        << (info.channels == 1 ? " channel, " : " channels, ")
        << Fixed(detect::Seconds(info.frames, info.rate), 1) << " s, " << levels.Windows()
        << " windows of " << WindowLength(windowFrames, info.rate) << "\n";
    if (estimate.found) {
      out << "  noise floor: " << Fixed(estimate.noiseDb, 1) << " dBFS (quiet passages, "
          << Fixed(100.0 * estimate.quietShare, 1) << "% of the recording)\n"
          << "  music:       from " << Fixed(estimate.musicDb, 1) << " dBFS\n";
    } else {
      out << "  no clear silence: the quiet passages do not stand apart from the music\n";
    }
    WriteHistogram(out, levels, estimate);
    out << "  suggested threshold: " << Fixed(estimate.thresholdDb, 1) << " dBFS (--noise-floor "
        << params.noiseFloor << "), giving " << parts << (parts == 1 ? " part" : " parts")
        << " with a " << Fixed(detect::GapSeconds(params.gapThreshold), 2) << " s gap\n"
        << "suggested: --threshold-db " << Fixed(estimate.thresholdDb, 1) << "\n";
    if (!console.Deliver()) return console.OutputStatus();
  }
  return job.Status(failed);
}

}  // namespace corvella::cli
