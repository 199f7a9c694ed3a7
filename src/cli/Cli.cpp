#include "cli/Cli.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "batch/OutputName.h"
#include "cli/CliHost.h"
#include "cli/Levels.h"
#include "cli/Listing.h"
#include "cli/Plan.h"
#include "engine/Engine.h"

namespace corvella::cli {
namespace {

namespace fs = std::filesystem;

constexpr int kDefaultNoiseFloor = 104;
constexpr int kDefaultGapThreshold = 22050;

struct Options {
  int noiseFloor = kDefaultNoiseFloor;
  std::optional<double> thresholdDb;
  int gapThreshold = kDefaultGapThreshold;
  std::optional<double> gapSeconds;
  double minPart = 0, padBefore = 0, padAfter = 0;
  bool mono = false;
  bool quiet = false;
  std::string outputDir;
  ListFormat format = ListFormat::Text;
  std::vector<std::string> files;

  int NoiseFloor() const { return thresholdDb ? NoiseFloorFromDb(*thresholdDb) : noiseFloor; }
  int GapThreshold() const { return gapSeconds ? GapThresholdFromSeconds(*gapSeconds) : gapThreshold; }
  bool Planned() const { return minPart > 0 || padBefore > 0 || padAfter > 0; }
  PlanOptions Plan(std::int64_t rate) const {
    return {FramesFromSeconds(minPart, rate), FramesFromSeconds(padBefore, rate),
            FramesFromSeconds(padAfter, rate)};
  }
};

void AddDetectionOptions(CLI::App& command, Options& options) {
  auto* floor = command
                    .add_option("-n,--noise-floor", options.noiseFloor,
                                "Largest sample amplitude that still counts as silence, 1 to 32767 "
                                "(default 104, -50 dBFS)")
                    ->check(CLI::Range(1, 32767))
                    ->type_name("N");
  command
      .add_option("-t,--threshold-db", options.thresholdDb,
                  "The noise floor as a level in dBFS instead: the amplitude nearest to it")
      ->check(CLI::Range(-120.0, 0.0))
      ->type_name("DB")
      ->excludes(floor);
  auto* gap = command
                  .add_option("-g,--gap-threshold", options.gapThreshold,
                              "Silence that ends a part, in 1/44100 s units (default 22050)")
                  ->check(CLI::Range(1, 44100 * 3600))
                  ->type_name("T");
  command
      .add_option("--gap", options.gapSeconds, "Silence that ends a part, in seconds instead")
      ->check(CLI::Range(0.00001, 3600.0))
      ->type_name("SECONDS")
      ->excludes(gap);
}

void AddPlanOptions(CLI::App& command, Options& options, bool padding) {
  command
      .add_option("--min-part", options.minPart,
                  "Treat parts shorter than this as silence: not listed, written nor numbered")
      ->check(CLI::Range(0.0, 1e6))
      ->type_name("SECONDS");
  if (!padding) return;
  command
      .add_option("--pad-before", options.padBefore,
                  "Widen each part into the silence before it, at most to the middle of a gap")
      ->check(CLI::Range(0.0, 1e6))
      ->type_name("SECONDS");
  command
      .add_option("--pad-after", options.padAfter,
                  "Widen each part into the silence after it, at most to the middle of a gap")
      ->check(CLI::Range(0.0, 1e6))
      ->type_name("SECONDS");
}

void AddFiles(CLI::App& command, Options& options) {
  command.add_option("FILE", options.files, "16-bit PCM WAV recordings")->required();
}

fs::path Absolute(const std::string& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  return ec ? fs::path(path) : absolute;
}

void SetUp(Engine& engine, const Options& options) {
  engine.NoiseFloor = options.NoiseFloor();
  engine.GapThreshold = options.GapThreshold();
}

// Runs `walk(engine, shown, name)` over every file in order, with the host
// and the engine's parameters set up for it. Stops early on Ctrl-C. Returns
// the exit status.
template <typename Walk>
int ForEachFile(const Options& options, CliHost& host, const std::atomic<bool>& interrupted,
                Walk walk) {
  Engine engine(host);
  // The engine moves the current folder around, so every relative path is
  // resolved before the first file is touched.
  std::vector<fs::path> absolutes;
  for (const std::string& file : options.files) absolutes.push_back(Absolute(file));
  bool failed = false;
  for (std::size_t i = 0; i < options.files.size(); ++i) {
    if (interrupted) break;
    const std::string& file = options.files[i];
    host.BeginFile(file, absolutes[i].string());
    SetUp(engine, options);
    walk(engine, file, absolutes[i].filename().string());
    host.EndFile();
    failed = failed || host.FileFailed();
  }
  if (interrupted) return kExitInterrupted;
  return failed ? kExitFailed : kExitOk;
}

// The parts of a file after --min-part and padding; false when refused.
bool PlannedParts(Engine& engine, const Options& options, const std::string& name,
                  std::vector<PartSpan>& parts, SourceSummary& summary) {
  if (!engine.FindParts(name, parts, summary)) return false;
  parts = PlanParts(parts, summary.frames, options.Plan(summary.rate));
  return true;
}

int Count(const Options& options, std::ostream& out, CliHost& host,
          const std::atomic<bool>& interrupted) {
  return ForEachFile(options, host, interrupted, [&](Engine& engine, const std::string& shown,
                                                    const std::string& name) {
    int parts = 0;
    if (options.Planned()) {
      std::vector<PartSpan> spans;
      SourceSummary summary;
      PlannedParts(engine, options, name, spans, summary);
      parts = static_cast<int>(spans.size());
    } else {
      parts = engine.CountParts(name);
    }
    if (interrupted) return;
    host.EndFile();
    if (parts < 1) {
      out << "No parts in file \"" << shown << "\" found!\n";
    } else {
      out << "File \"" << shown << "\" contains " << parts << " parts!\n";
    }
    out.flush();
  });
}

// Checks the output folder; returns its full path, or nothing after saying why.
std::optional<std::string> Destination(const Options& options, CliHost& host) {
  const fs::path destination = Absolute(options.outputDir.empty() ? "." : options.outputDir);
  std::error_code ec;
  if (!fs::is_directory(destination, ec)) {
    host.BeginFile(options.outputDir, destination.string());
    host.ShowMessage("No such folder for the parts!", msg::kErrorCaption);
    return std::nullopt;
  }
  return destination.lexically_normal().string();
}

int Split(const Options& options, std::ostream& out, CliHost& host,
          const std::atomic<bool>& interrupted) {
  const std::optional<std::string> destination = Destination(options, host);
  if (!destination) return kExitFailed;
  host.SetMono(options.mono);
  host.SetDestFolder(*destination);
  if (!options.quiet) {
    host.OnWritten([&](const std::string& path) {
      const std::string name = fs::path(path).filename().string();
      out << (options.outputDir.empty() ? name : (fs::path(options.outputDir) / name).string()) << '\n';
      out.flush();
    });
  }
  return ForEachFile(options, host, interrupted, [&](Engine& engine, const std::string&,
                                                    const std::string& name) {
    if (!options.Planned()) {
      engine.ProcessParts(name, host.DestFolder(), true);
      return;
    }
    std::vector<PartSpan> parts;
    SourceSummary summary;
    if (PlannedParts(engine, options, name, parts, summary) && !interrupted) {
      engine.WriteParts(name, host.DestFolder(), parts);
    }
  });
}

int List(const Options& options, std::ostream& out, CliHost& host,
         const std::atomic<bool>& interrupted) {
  std::vector<ListedFile> listed;
  const int status = ForEachFile(options, host, interrupted, [&](Engine& engine,
                                                                const std::string& shown,
                                                                const std::string& name) {
    ListedFile file;
    file.file = shown;
    file.noiseFloor = engine.NoiseFloor;
    file.gapThreshold = engine.GapThreshold;
    file.minPart = options.minPart;
    file.padBefore = options.padBefore;
    file.padAfter = options.padAfter;
    std::vector<PartSpan> parts;
    if (PlannedParts(engine, options, name, parts, file.summary) &&
        engine.MeasurePeaks(name, parts)) {
      for (std::size_t k = 0; k < parts.size(); ++k) {
        const int number = static_cast<int>(k) + 1;
        file.parts.push_back({number, parts[k], BuildOutputPath(options.outputDir, name, number)});
      }
    } else {
      file.error = host.LastError().empty() ? "Cancelled!" : host.LastError();
    }
    listed.push_back(std::move(file));
  });
  if (status != kExitInterrupted) WriteListing(out, options.format, listed);
  return status;
}

int Levels(const Options& options, std::ostream& out, CliHost& host,
           const std::atomic<bool>& interrupted) {
  return ForEachFile(options, host, interrupted, [&](Engine& engine, const std::string& shown,
                                                    const std::string& name) {
    std::vector<int> peaks;
    SourceSummary summary;
    if (!engine.WindowPeaks(name, 0.01, peaks, summary)) return;
    const LevelEstimate estimate = EstimateLevels(peaks);
    const int floor = NoiseFloorFromDb(estimate.thresholdDb);
    engine.NoiseFloor = floor;
    const int parts = engine.CountParts(name);
    if (interrupted) return;
    host.EndFile();
    char line[256];
    std::snprintf(line, sizeof line, "%s: %lld Hz, %d %s, %.1f s, %zu windows of 10 ms\n",
                  shown.c_str(), static_cast<long long>(summary.rate), summary.channels,
                  summary.channels == 1 ? "channel" : "channels",
                  Seconds(summary.frames, summary.rate), peaks.size());
    out << line;
    if (estimate.found) {
      std::snprintf(line, sizeof line,
                    "  noise floor: %.1f dBFS (quiet passages, %.1f%% of the recording)\n"
                    "  music:       from %.1f dBFS\n",
                    estimate.noiseDb, 100.0 * estimate.quietShare, estimate.musicDb);
      out << line;
    } else {
      out << "  no clear silence: the quiet passages do not stand apart from the music\n";
    }
    WriteHistogram(out, peaks, estimate);
    std::snprintf(line, sizeof line,
                  "  suggested threshold: %.1f dBFS (--noise-floor %d), giving %d %s with a %.2f s gap\n"
                  "suggested: --threshold-db %.1f\n",
                  estimate.thresholdDb, floor, parts, parts == 1 ? "part" : "parts",
                  engine.GapThreshold / 44100.0, estimate.thresholdDb);
    out << line;
    out.flush();
  });
}

const char kExamples[] =
    "\nExamples:\n"
    "  corvella-cli count side-a.wav side-b.wav\n"
    "  corvella-cli split --output-dir tracks side-a.wav\n"
    "  corvella-cli split --mono --threshold-db -45 --gap 1.5 session.wav\n"
    "  corvella-cli split --min-part 2 --pad-before 0.2 --pad-after 0.5 -o tracks lp.wav\n"
    "  corvella-cli list --format cue lp.wav > lp.cue\n"
    "  corvella-cli levels tape.wav\n"
    "\nExit status: 0 when every file was processed and every part written, 1 when a file\n"
    "was refused or a part could not be written, 2 for a usage error, 130 after Ctrl-C.\n";

}  // namespace

int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool progress,
        const std::atomic<bool>& interrupted) {
  CLI::App app{"Corvella cuts 16-bit PCM WAV recordings into parts at the silences between them.",
               "corvella-cli"};
  app.footer(kExamples);
  app.require_subcommand(1);
  app.set_version_flag("--version", "corvella-cli 1.07");

  Options options;
  CLI::App* count = app.add_subcommand("count", "Print how many parts each recording holds");
  AddDetectionOptions(*count, options);
  AddPlanOptions(*count, options, false);
  AddFiles(*count, options);

  CLI::App* split = app.add_subcommand("split", "Write every part as NAME_001.wav, NAME_002.wav, ...");
  AddDetectionOptions(*split, options);
  AddPlanOptions(*split, options, true);
  split->add_flag("-m,--mono", options.mono, "Mix stereo parts down to one channel");
  split->add_option("-o,--output-dir", options.outputDir, "Folder for the parts (default: here)")
      ->type_name("DIR");
  split->add_flag("-q,--quiet", options.quiet, "Do not list the files written");
  AddFiles(*split, options);

  CLI::App* list = app.add_subcommand("list", "Print the parts that split would write");
  AddDetectionOptions(*list, options);
  AddPlanOptions(*list, options, true);
  list->add_option("-f,--format", options.format, "text, csv, json, labels (a label track) or cue")
      ->transform(CLI::CheckedTransformer(
          std::map<std::string, ListFormat>{{"text", ListFormat::Text},
                                            {"csv", ListFormat::Csv},
                                            {"json", ListFormat::Json},
                                            {"labels", ListFormat::Labels},
                                            {"cue", ListFormat::Cue}},
          CLI::ignore_case))
      ->type_name("FORMAT");
  list->add_option("-o,--output-dir", options.outputDir, "Folder the output names are given in")
      ->type_name("DIR");
  AddFiles(*list, options);

  CLI::App* levels = app.add_subcommand(
      "levels", "Measure a recording's levels and suggest a noise floor between noise and music");
  AddDetectionOptions(*levels, options);
  AddFiles(*levels, options);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e, out, err);
    return status == 0 ? kExitOk : kExitUsage;
  }

  CliHost host(err, progress, interrupted);
  if (count->parsed()) return Count(options, out, host, interrupted);
  if (list->parsed()) return List(options, out, host, interrupted);
  if (levels->parsed()) return Levels(options, out, host, interrupted);
  return Split(options, out, host, interrupted);
}

}  // namespace corvella::cli
