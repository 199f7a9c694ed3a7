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

// Clicks are bursts of at most 5 ms.
constexpr int kClickMs = 5;
// A range of thresholds this wide giving the same parts is a sure suggestion.
constexpr double kSureDb = 6.0;

// "10 ms", "10.02 ms", "1000 ms": a window's real length.
std::string WindowLength(std::int64_t frames, std::int64_t rate) {
  std::string text = Fixed(1000.0 * detect::Seconds(frames, rate > 0 ? rate : 44100), 2);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text + " ms";
}

// "0.50", and short gaps to the tenth of a millisecond: "0.0050".
std::string GapText(double seconds) {
  return Fixed(seconds, seconds < 0.1 ? 4 : 2);
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
    detect::DetectParams params = job.options.Detection();
    PartSurvey survey(levels.Lowest(), windowFrames,
                      detect::GapFrames(params.gapThreshold, info.rate));
    wave::Error error =
        detect::ForEachWindowPeak(*source, windowFrames, bar, [&](double peak, std::int64_t) {
          levels.Add(peak);
          survey.Add(levels.Db(peak));
        });
    if (error == wave::ErrorCode::UnableToRead) error = Job::ReadFailure(*source);
    if (error) {
      if (error != wave::ErrorCode::Stopped) console.Report(file, error);
      failed = true;
      continue;
    }
    survey.Finish();
    const LevelEstimate estimate = EstimateLevels(levels);
    StableRange range = FindStableRange(survey, levels);
    double suggestion = 0;
    int parts = 0;
    // The count the suggestion gives, exactly. The clicks taken out by the
    // windows' test are not always the bursts --ignore-clicks passes over
    // (a burst as long as a window, two ticks close together): where the
    // option does not give the parts the range promised, the suggestion is
    // made without it.
    const int clicksGiven = params.ignoreClicksMs;
    auto suggest = [&] {
      suggestion = SuggestThreshold(estimate, range);
      params.noiseFloor = detect::NoiseFloorFromDb(suggestion);
      params.thresholdDb = suggestion;
      params.ignoreClicksMs = range.declicked ? kClickMs : clicksGiven;
      detect::Scanner scanner(*source, params, bar);
      parts = batch::WalkParts(scanner, [](const detect::PartSpan&, int) {}).parts;
    };
    suggest();
    if (range.declicked && parts != range.parts && !console.Stopped()) {
      range = FindStableRange(survey, levels, false);
      suggest();
    }
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
    WriteHistogram(out, levels, estimate, suggestion);
    if (range.found) {
      out << "  stable: " << range.parts << (range.parts == 1 ? " part" : " parts")
          << " for every threshold from " << Fixed(range.lowDb, 1) << " to "
          << Fixed(range.highDb, 1) << " dBFS (" << Fixed(range.Width(), 1) << " dB)"
          << (range.declicked ? ", with clicks taken for silence" : "") << "\n";
    }
    if (range.declicked) {
      out << "  clicks: " << survey.Clicks()
          << " short bursts stand alone in the quiet; --ignore-clicks " << kClickMs
          << " takes them for silence\n";
    }
    if (!range.found || range.Width() < kSureDb) {
      out << "  warning: no threshold range gives the same parts for long"
          << (range.found ? "" : " (none at all)")
          << "; the suggestion is a guess: check it with list before splitting\n";
    }
    out << "  suggested threshold: " << Fixed(suggestion, 1) << " dBFS (--noise-floor "
        << params.noiseFloor << "), giving " << parts << (parts == 1 ? " part" : " parts")
        << " with a " << GapText(detect::GapSeconds(params.gapThreshold)) << " s gap\n";
    // Options the other commands take as they stand.
    out << "suggested: --threshold-db " << Fixed(suggestion, 1);
    if (params.ignoreClicksMs > 0) out << " --ignore-clicks " << params.ignoreClicksMs;
    if (params.gapThreshold != Options().gapThreshold)
      out << " --gap-threshold " << params.gapThreshold;
    out << "\n";
    if (!console.Deliver()) return console.OutputStatus();
  }
  return job.Status(failed);
}

}  // namespace corvella::cli
