#include "cli/Cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "cli/Commands.h"
#include "cli/Completion.h"
#include "cli/HelpFormat.h"
#include "cli/Job.h"
#include "cli/Options.h"
#include "cli/Text.h"

namespace corvella::cli {
namespace {

const char kExamples[] =
    "Quick start:\n"
    "  corvella-cli levels tape.wav            what floor and gap suit it\n"
    "  corvella-cli split -o side-a tape.wav   a part file per piece\n"
    "  corvella-cli split --tracks --names a.txt --to flac -o tracks side-a.wav\n"
    "  arecord -f cd -t wav | corvella-cli split - -o side-a\n"
    "Run 'corvella-cli COMMAND --help' for a command's options, and\n"
    "'man corvella-cli' for everything.\n"
#ifdef _WIN32
    "\nOn Windows quote names with spaces; either slash separates folders:\n"
    "  corvella-cli.exe split -o D:\\tracks \"D:\\tapes\\side a.wav\"\n"
    "\nExit status: 0 all done, 1 a file refused or a part not written, 2 a usage\n"
    "error, 130 after Ctrl-C or Ctrl-Break, 129 when the console is closed.";
#else
    "\nExit status: 0 all done, 1 a file refused or a part not written, 2 a usage\n"
    "error, 130 after Ctrl-C (143 after SIGTERM, 129 after SIGHUP).";
#endif

const char kCountExamples[] =
    "Examples:\n"
    "  corvella-cli count side-a.wav side-b.wav\n"
    "  corvella-cli count --threshold-db -45 --gap 1.5 *.flac";
const char kSplitExamples[] =
    "Examples:\n"
    "  corvella-cli split --gap 2 --min-part 20 -o tracks tape.wav\n"
    "  corvella-cli split --tracks --names side-a.txt --to flac -o tracks side-a.wav\n"
    "      (side-a.txt: Artist:, Album:, Date: lines, then one title a line)\n"
    "  arecord -f cd -t wav | corvella-cli split - -o side-a --min-part 20";
const char kListExamples[] =
    "Examples:\n"
    "  corvella-cli list --format labels lp.wav > lp.txt  (edit; split --cuts lp.txt)\n"
    "  corvella-cli list --format html side-a.wav side-b.wav > sides.html\n"
    "  corvella-cli list --tracks 7 side-b.wav";
const char kLevelsExamples[] =
    "Examples:\n"
    "  corvella-cli levels tape.wav\n"
    "  corvella-cli split $(corvella-cli levels tape.wav | tail -1 | cut -d: -f2) \\\n"
    "      tape.wav";

// How many single-letter changes turn `a` into `b`.
std::size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The one of `known` that `typed` most likely meant, or nothing when none
// is close: at most two changes, and fewer than half its letters.
std::string Closest(const std::string& typed, const std::vector<std::string>& known) {
  std::string best;
  std::size_t bestDistance = 3;
  for (const std::string& name : known) {
    const std::size_t d = Distance(typed, name);
    if (d < bestDistance && 2 * d < std::max<std::size_t>(name.size(), 2)) {
      best = name;
      bestDistance = d;
    }
  }
  return best;
}

// The long options a command takes, as typed: "--gap", ...
std::vector<std::string> LongOptions(const CLI::App& command) {
  std::vector<std::string> names;
  for (const CLI::Option* option : command.get_options()) {
    for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
  }
  return names;
}

}  // namespace

int Run(int argc, const char* const* argv, Console& console, wave::FileApi& files) {
  CLI::App app{
      "Corvella cuts recordings into parts at the silences between them: WAV of every "
      "kind, FLAC, MP3, AIFF, Wave64, CAF, Ogg and Opus; parts in the source's own format.",
      "corvella-cli"};
  app.formatter(std::make_shared<HelpFormat>());
  app.footer(kExamples);
  app.require_subcommand(1);
  // The command the user named, if any: its own help is where to read on.
  const std::vector<std::string> words(argv + std::min(argc, 1), argv + argc);
  const std::vector<std::string> commands = {"count", "list", "split", "levels"};
  const bool named = !words.empty() &&
                     std::find(commands.begin(), commands.end(), words[0]) != commands.end();
  const std::string help = named ? "corvella-cli " + words[0] + " --help" : "corvella-cli --help";
  // A word that may be mistyped gets what it most likely meant.
  std::string hint;
  // As any command line says it: the program's name first, and what the
  // user typed shown so that it cannot drive the terminal.
  app.failure_message([&](const CLI::App*, const CLI::Error& e) {
    std::string message = "corvella-cli: ";
    message += Printable(e.what());
    message += hint;
    message += "\nRun '";
    message += help;
    message += "' for more information.\n";
    return message;
  });
  app.set_version_flag("-V,--version", "corvella-cli 1.07");

  Options options;
  CLI::App* count = app.add_subcommand("count", "Print how many parts each recording holds");
  AddDetectionOptions(*count, options);
  AddPlanOptions(*count, options, false);
  AddTrackOptions(*count, options, false);
  AddJsonOption(*count, options);
  AddFiles(*count, options);
  count->footer(kCountExamples);

  CLI::App* split =
      app.add_subcommand("split", "Write each part to a file of its own");
  AddDetectionOptions(*split, options);
  AddPlanOptions(*split, options, true);
  split->add_option("-o,--output-dir", options.outputDir, "Folder for the parts, made if missing")
      ->type_name("DIR")
      ->group("Output");
  split
      ->add_option("--to", options.to, "Parts as flac, wav, mp3 or opus (the source's)")
      ->check(CLI::IsMember({"flac", "wav", "mp3", "opus"}))
      ->type_name("FORMAT")
      ->group("Output");
  split->add_option("--quality", options.quality, "MP3 at a variable bitrate, 0 best to 9 (2)")
      ->check(CLI::Range(0, 9))
      ->type_name("Q")
      ->group("Output");
  split->add_option("--bitrate", options.bitrate, "MP3 at a constant bitrate, or Opus's, in kbit/s")
      ->check(CLI::Range(6, 512))
      ->type_name("KBPS")
      ->group("Output");
  split->add_flag("-m,--mono", options.mono, "Mix each part down to one channel")->group("Output");
  split
      ->add_flag("--keep-metadata", options.keepMetadata,
                 "Carry the source's chunks and tags into each part")
      ->group("Output");
  split->add_flag("-q,--quiet", options.quiet, "Print no names, notes or progress bar")->group("Output");
  AddJsonOption(*split, options);
  split
      ->add_flag("--no-clobber", options.noClobber,
                 "Write nothing if a part's name is taken")
      ->group("Output");
  auto* cuts = split->add_option("--cuts", options.cuts, "Cut where a cut list says (- for stdin)");
  cuts->type_name("FILE")->group("Parts")->check([](const std::string& path) {
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
  split->get_option("FILE")->description("Recordings, or - alone: one coming in on stdin");

  split->footer(kSplitExamples);

  CLI::App* list = app.add_subcommand("list", "Print the parts that split would write");
  AddDetectionOptions(*list, options);
  AddPlanOptions(*list, options, true);
  AddFormatOption(*list, options);
  AddTrackOptions(*list, options, true);
  list->add_option("--scale", options.scale, "Level scale of svg and html: db or linear (db)")
      ->check(CLI::IsMember({"db", "linear"}))
      ->type_name("SCALE")
      ->group("Output");
  list->add_option("-o,--output-dir", options.outputDir, "Folder the output names are given in")
      ->type_name("DIR")
      ->group("Output");
  AddFiles(*list, options);
  list->footer(kListExamples);

  CLI::App* levels = app.add_subcommand(
      "levels", "Measure the levels; suggest a noise floor and gap");
  AddDetectionOptions(*levels, options);
  AddTrackOptions(*levels, options, false);
  AddJsonOption(*levels, options);
  AddFiles(*levels, options);
  levels->footer(kLevelsExamples);
  for (CLI::App* command : {count, list, levels}) {
    command->add_flag("-q,--quiet", options.quiet, "Print no notes or progress bar")
        ->group("Output");
  }
  for (CLI::App* command : {count, split, list, levels}) command->get_help_ptr()->group("");

  try {
    // "help" and "help COMMAND", as git takes them; a word that is no
    // command named as such, with the one it most likely meant.
    if (!words.empty() && words[0] == "help") {
      if (words.size() == 1) throw CLI::CallForHelp();
      if (std::find(commands.begin(), commands.end(), words[1]) != commands.end()) {
        console.out() << app.get_subcommand(words[1])->help("corvella-cli");
        return console.Deliver() ? kExitOk : console.OutputStatus();
      }
      const std::string meant = Closest(words[1], commands);
      throw CLI::ValidationError("'" + words[1] + "' is not a command" +
                                 (meant.empty() ? ": count, list, split or levels"
                                                : "; did you mean '" + meant + "'?"));
    }
    // The shell completion scripts, from these very definitions.
    if (!words.empty() && words[0] == "--completion") {
      const std::vector<std::string>& shells = CompletionShells();
      if (words.size() != 2 || std::find(shells.begin(), shells.end(), words[1]) == shells.end())
        throw CLI::ValidationError("--completion takes one of bash, zsh, fish or powershell");
      console.out() << CompletionScript(app, words[1]);
      return console.Deliver() ? kExitOk : console.OutputStatus();
    }
    if (words.empty())
      throw CLI::ValidationError("a command is needed: count, list, split or levels");
    if (!named && words[0].rfind('-', 0) != 0) {
      const std::string meant = Closest(words[0], commands);
      throw CLI::ValidationError("'" + words[0] + "' is not a command" +
                                 (meant.empty() ? ": count, list, split or levels"
                                                : "; did you mean '" + meant + "'?"));
    }
    if (named) {
      // An option the command does not take: the one it most likely meant.
      const std::vector<std::string> known = LongOptions(*app.get_subcommand(words[0]));
      for (const std::string& word : words) {
        if (word.rfind("--", 0) != 0 || word.size() < 3) continue;
        const std::string name = word.substr(0, word.find('='));
        if (std::find(known.begin(), known.end(), name) != known.end()) continue;
        const std::string meant = Closest(name, known);
        if (!meant.empty()) hint = "; did you mean " + meant + "?";
        break;
      }
    }
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

  if (options.quiet) console.BeQuiet();
  Job job{options, console, files};
  if (count->parsed()) return Count(job);
  if (list->parsed()) return List(job);
  if (levels->parsed()) return Levels(job);
  return Split(job);
}

}  // namespace corvella::cli
