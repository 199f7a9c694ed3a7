#include "cli/Cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "cli/Commands.h"
#include "cli/Job.h"
#include "cli/Options.h"
#include "cli/Text.h"

namespace corvella::cli {
namespace {

const char kExamples[] =
    "\nExamples:\n"
    "  corvella-cli count side-a.wav side-b.wav\n"
    "  corvella-cli split --output-dir tracks side-a.wav\n"
    "  corvella-cli split --mono --threshold-db -45 --gap 1.5 session.wav\n"
    "  corvella-cli split --min-part 2 --pad-before 0.2 --pad-after 0.5 -o tracks lp.wav\n"
    "  corvella-cli split --threshold-db -110 --keep-metadata field-recording-24bit.wav\n"
    "  corvella-cli split --to flac -o tracks side-a.wav\n"
    "  corvella-cli split --to wav tape-3.flac\n"
    "  corvella-cli split --salvage -o takes recorder-stopped.wav\n"
    "  corvella-cli list --format cue lp.wav > lp.cue\n"
    "  corvella-cli list --format html side-a.wav side-b.wav > sides.html\n"
    "  corvella-cli list --format labels lp.wav > lp.txt    (edit the labels, then:)\n"
    "  corvella-cli split --cuts lp.txt -o tracks lp.wav\n"
    "  corvella-cli list -f json lp.wav | corvella-cli split --cuts - lp.wav\n"
    "  corvella-cli split --tracks --names side-a.txt --to flac -o tracks side-a.wav\n"
    "      (side-a.txt: Artist:, Album:, Date: lines, then one title a line)\n"
    "  corvella-cli list --tracks 7 side-b.wav\n"
    "  corvella-cli levels tape.wav\n"
    "\nSplitting while it records (each part is named as soon as it has ended):\n"
    "  arecord -f cd -t wav | corvella-cli split - -o side-a --min-part 20\n"
    "  corvella-cli split --follow capture.wav --idle 60 -o tracks\n"
    "  rtl_fm -M wbfm -f 99.5M -r 48000 - | corvella-cli split - --raw 48000:1:s16le \\\n"
    "      --name radio --name-time --gap 5 -o log\n"
#ifdef _WIN32
    "\nOn Windows, in cmd.exe (quote names with spaces; either slash separates folders):\n"
    "  corvella-cli.exe split -o D:\\tracks \"D:\\tapes\\side a.wav\"\n"
    "  corvella-cli.exe list --format csv \"%USERPROFILE%\\Music\\take.wav\" > take.csv\n"
    "In PowerShell the same, as .\\corvella-cli.exe in its own folder, and\n"
    "  corvella-cli.exe split --to flac -o tracks (Get-ChildItem *.wav).FullName\n"
    "Names in any script work, and paths longer than 260 characters.\n"
    "\nExit status: 0 when every file was processed and every part written, 1 when a file\n"
    "was refused, a part could not be written or the output failed, 2 for a usage error,\n"
    "130 after Ctrl-C or Ctrl-Break, 129 when the console is closed.\n";
#else
    "\nExit status: 0 when every file was processed and every part written, 1 when a file\n"
    "was refused, a part could not be written or the output failed, 2 for a usage error,\n"
    "130 after Ctrl-C (143 after SIGTERM, 129 after SIGHUP).\n";
#endif

}  // namespace

int Run(int argc, const char* const* argv, Console& console, wave::FileApi& files) {
  CLI::App app{
      "Corvella cuts recordings into parts at the silences between them.\n"
      "It reads WAV files as recorders write them: RIFF, RF64, BW64 and Wave64; 8-, 16-, 24- "
      "and 32-bit PCM and 32- and 64-bit float, plain or extensible; 1 to 64 channels. It "
      "reads FLAC of 4 to 32 bits through libFLAC, checking every frame and the MD5 "
      "signature; MP3 and MP2 through libmpg123; AIFF and CAF through libsndfile, and counts "
      "and lists Ogg and Opus. "
      "A damaged or cut-off file is refused, saying where (--salvage reads a cut-off one up "
      "to its last whole frame). Parts keep the source's format (a WAV part byte for byte "
      "its frames, RF64 where larger than 4 GiB) unless --to says otherwise.",
      "corvella-cli"};
  app.footer(kExamples);
  app.require_subcommand(1);
  // As any command line says it: the program's name first, and what the
  // user typed shown so that it cannot drive the terminal.
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    std::string message = "corvella-cli: ";
    message += Printable(e.what());
    message += "\nRun 'corvella-cli --help' for more information.\n";
    return message;
  });
  app.set_version_flag("--version", "corvella-cli 1.07");

  Options options;
  CLI::App* count = app.add_subcommand("count", "Print how many parts each recording holds");
  AddDetectionOptions(*count, options);
  AddPlanOptions(*count, options, false);
  AddTrackOptions(*count, options, false);
  AddFiles(*count, options);

  CLI::App* split =
      app.add_subcommand("split", "Write every part as NAME_001.wav, NAME_002.wav, ...");
  AddDetectionOptions(*split, options);
  AddPlanOptions(*split, options, true);
  split->add_flag("-m,--mono", options.mono, "Mix each part's channels down to one (their mean)");
  split->add_option("-o,--output-dir", options.outputDir, "Folder for the parts, made if missing (default: here)")
      ->type_name("DIR");
  split->add_flag("-q,--quiet", options.quiet, "Do not list the files written");
  split
      ->add_option("--to", options.to,
                   "Write the parts as FLAC or WAV instead of the source's format")
      ->check(CLI::IsMember({"flac", "wav"}))
      ->type_name("flac|wav");
  split->add_flag("--keep-metadata", options.keepMetadata,
                  "Carry the source's bext, iXML and LIST-INFO chunks into every part, the "
                  "broadcast time reference moved on to the part's start; with --to flac, every "
                  "chunk of a WAV, as flac --keep-foreign-metadata keeps them");
  auto* cuts = split->add_option("--cuts", options.cuts,
                                 "Write the parts a cut list names instead of finding them: list's "
                                 "JSON, CSV, label track or cue "
                                 "sheet, edited or not; - reads it from stdin");
  cuts->type_name("FILE")->check([](const std::string& path) {
    return path.empty() ? "a cut list's name, or - for stdin" : "";
  });
  AddTrackOptions(*split, options, true);
  for (const char* detection :
       {"--noise-floor", "--threshold-db", "--gap-threshold", "--gap", "--ignore-clicks",
        "--min-part", "--pad-before", "--pad-after", "--tracks", "--names"}) {
    cuts->excludes(split->get_option(detection));
  }
  AddStreamOptions(*split, options);
  AddFiles(*split, options, false);
  split->get_option("FILE")->description(
      "Recordings: WAV (RIFF, RF64, BW64), FLAC, MP3, MP2, AIFF, Wave64, CAF; Ogg and Opus "
      "(written only with --to); or - alone: a recording still coming in on stdin, split as it arrives");

  CLI::App* list = app.add_subcommand("list", "Print the parts that split would write");
  AddDetectionOptions(*list, options);
  AddPlanOptions(*list, options, true);
  AddFormatOption(*list, options);
  AddTrackOptions(*list, options, true);
  list->add_option("-o,--output-dir", options.outputDir, "Folder the output names are given in")
      ->type_name("DIR");
  AddFiles(*list, options);

  CLI::App* levels = app.add_subcommand(
      "levels", "Measure a recording's levels and suggest a noise floor between noise and music");
  AddDetectionOptions(*levels, options);
  AddTrackOptions(*levels, options, false);
  AddFiles(*levels, options);

  try {
    // In the reverse order CLI11 takes a list in.
    std::vector<std::string> args = WithTrackCounts(argc, argv);
    std::reverse(args.begin(), args.end());
    app.parse(args);
    for (CLI::App* command : {count, split, list, levels}) {
      if (!command->parsed()) continue;
      options.gapGiven =
          command->get_option("--gap")->count() + command->get_option("--gap-threshold")->count() >
          0;
      options.floorGiven = command->get_option("--noise-floor")->count() +
                               command->get_option("--threshold-db")->count() >
                           0;
      // levels with a track list suggests for its titles: a bare --tracks.
      if (command == levels && !options.names.empty() && !options.tracks) {
        if (options.gapGiven)
          throw CLI::ValidationError(
              "levels --names suggests a floor for the titles' tracks, and takes no --gap");
        options.tracks = 0;
      }
      if (const std::string conflict = OptionConflict(options); !conflict.empty())
        throw CLI::ValidationError(conflict);
      if (command == split) {
        if (const std::string conflict = StreamConflict(*split, options); !conflict.empty())
          throw CLI::ValidationError(conflict);
      } else if (std::find(options.files.begin(), options.files.end(), "-") !=
                 options.files.end()) {
        throw CLI::ValidationError(
            command->get_name() +
            " needs the whole recording: only split reads one still coming in on stdin (-)");
      }
    }
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e, console.out(), console.err());
    if (status == 0 && !console.Deliver()) return console.OutputStatus();
    return status == 0 ? kExitOk : kExitUsage;
  }

  Job job{options, console, files};
  if (count->parsed()) return Count(job);
  if (list->parsed()) return List(job);
  if (levels->parsed()) return Levels(job);
  return Split(job);
}

}  // namespace corvella::cli
