#include "cli/Cli.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/CliHost.h"
#include "engine/Engine.h"

namespace corvella::cli {
namespace {

namespace fs = std::filesystem;

constexpr int kDefaultNoiseFloor = 104;
constexpr int kDefaultGapThreshold = 22050;

struct Options {
  int noiseFloor = kDefaultNoiseFloor;
  int gapThreshold = kDefaultGapThreshold;
  bool mono = false;
  bool quiet = false;
  std::string outputDir;
  std::vector<std::string> files;
};

void AddDetectionOptions(CLI::App& command, Options& options) {
  command
      .add_option("-n,--noise-floor", options.noiseFloor,
                  "Largest sample amplitude that still counts as silence (default 104, -50 dBFS)")
      ->check(CLI::Range(1, 32767))
      ->type_name("N");
  command
      .add_option("-g,--gap-threshold", options.gapThreshold,
                  "Silence that ends a part, in 1/44100 s units (default 22050, 0.5 s)")
      ->check(CLI::Range(1, 44100 * 3600))
      ->type_name("T");
  command.add_option("FILE", options.files, "16-bit PCM WAV recordings")->required();
}

fs::path Absolute(const std::string& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  return ec ? fs::path(path) : absolute;
}

// Runs `walk` over every file in order with the host set up for it. Stops
// early on Ctrl-C. Returns the exit status.
template <typename Walk>
int ForEachFile(const Options& options, CliHost& host, const std::atomic<bool>& interrupted,
                Walk walk) {
  // The engine moves the current folder around, so every relative path is
  // resolved before the first file is touched.
  std::vector<fs::path> absolutes;
  for (const std::string& file : options.files) absolutes.push_back(Absolute(file));
  bool failed = false;
  for (std::size_t i = 0; i < options.files.size(); ++i) {
    if (interrupted) break;
    const std::string& file = options.files[i];
    const fs::path& absolute = absolutes[i];
    host.BeginFile(file, absolute.string());
    walk(file, absolute.filename().string());
    host.EndFile();
    failed = failed || host.FileFailed();
  }
  if (interrupted) return kExitInterrupted;
  return failed ? kExitFailed : kExitOk;
}

int Count(const Options& options, std::ostream& out, CliHost& host,
          const std::atomic<bool>& interrupted) {
  Engine engine(host);
  return ForEachFile(options, host, interrupted, [&](const std::string& shown, const std::string& name) {
    engine.NoiseFloor = options.noiseFloor;
    engine.GapThreshold = options.gapThreshold;
    const int parts = engine.CountParts(name);
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

int Split(const Options& options, std::ostream& out, CliHost& host,
          const std::atomic<bool>& interrupted) {
  const std::string shownDir = options.outputDir;
  const fs::path destination = Absolute(options.outputDir.empty() ? "." : options.outputDir);
  std::error_code ec;
  if (!fs::is_directory(destination, ec)) {
    host.BeginFile(options.outputDir, destination.string());
    host.ShowMessage("No such folder for the parts!", msg::kErrorCaption);
    return kExitFailed;
  }
  host.SetMono(options.mono);
  host.SetDestFolder(destination.lexically_normal().string());
  if (!options.quiet) {
    host.OnWritten([&](const std::string& path) {
      const std::string name = fs::path(path).filename().string();
      out << (shownDir.empty() ? name : (fs::path(shownDir) / name).string()) << '\n';
      out.flush();
    });
  }
  Engine engine(host);
  return ForEachFile(options, host, interrupted, [&](const std::string&, const std::string& name) {
    engine.NoiseFloor = options.noiseFloor;
    engine.GapThreshold = options.gapThreshold;
    engine.ProcessParts(name, host.DestFolder(), true);
  });
}

const char kExamples[] =
    "\nExamples:\n"
    "  corvella-cli count side-a.wav side-b.wav\n"
    "  corvella-cli split --output-dir tracks side-a.wav\n"
    "  corvella-cli split --mono --noise-floor 200 --gap-threshold 44100 session.wav\n"
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

  CLI::App* split = app.add_subcommand("split", "Write every part as NAME_001.wav, NAME_002.wav, ...");
  AddDetectionOptions(*split, options);
  split->add_flag("-m,--mono", options.mono, "Mix stereo parts down to one channel");
  split->add_option("-o,--output-dir", options.outputDir, "Folder for the parts (default: here)")
      ->type_name("DIR");
  split->add_flag("-q,--quiet", options.quiet, "Do not list the files written");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e, out, err);
    return status == 0 ? kExitOk : kExitUsage;
  }

  CliHost host(err, progress, interrupted);
  if (count->parsed()) return Count(options, out, host, interrupted);
  return Split(options, out, host, interrupted);
}

}  // namespace corvella::cli
