// The command line run in-process: outputs, exit status, paths and errors.
#include <csignal>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cmath>
#include <nlohmann/json.hpp>

#include "support/CliRun.h"

namespace corvella::test {
namespace {

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::current_path(dir.path());
    Samples two(2 * 100000, 0);
    for (int f = 1000; f < 20000; ++f) two[2 * f] = 5000;
    for (int f = 60000; f < 70000; ++f) two[2 * f + 1] = -5000;
    std::filesystem::create_directories(dir / "in/parts");
    dir.Put("in/two.wav", SimpleWav(2, two));
    dir.Put("quiet.wav", SimpleWav(1, Samples(1000, 3)));
    dir.Put("bad.wav", Bytes(64, 0));
  }
  ShellResult Run(const std::vector<std::string>& args) { return RunCli(args, stop); }
  TempDir dir;
  std::atomic<int> stop{0};
};

TEST_F(Cli, CountPrintsTheResultTextsAndReportsRefusals) {
  ShellResult r = Run({"count", "in/two.wav", "bad.wav", "quiet.wav", "missing.wav"});
  EXPECT_EQ(r.status, 1);
  // A file refused or unreadable has no count: only its error is printed.
  EXPECT_EQ(r.out,
            "File \"in/two.wav\" contains 2 parts!\nNo parts in file \"quiet.wav\" found!\n");
  EXPECT_EQ(r.err,
            "corvella-cli: bad.wav: Not a valid WAV file! (it begins with 00 00 00 00, not RIFF)\n"
            "corvella-cli: missing.wav: Unable to open file! (no such file)\n");
  // Every refusal says why, the files that are no WAV file at all too.
  dir.Put("empty.wav", Bytes{});
  dir.Put("notes.wav", Bytes{'t', 'o', ' ', 'd', 'o', '\n', 'x'});
  dir.Put("movie.wav", Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '});
  r = Run({"count", "empty.wav", "notes.wav", "movie.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "corvella-cli: empty.wav: Not a valid WAV file! (the file is empty)\n"
            "corvella-cli: notes.wav: Not a valid WAV file! (text, beginning \"to do\")\n"
            "corvella-cli: movie.wav: Not a valid WAV file! (a RIFF file of the form \"AVI \", not "
            "WAVE)\n");
  EXPECT_EQ(Run({"count", "--gap-threshold", "44100", "in/two.wav"}).out,
            "File \"in/two.wav\" contains 1 parts!\n");
}

TEST_F(Cli, SplitResolvesRelativePathsFromWhereItStarted) {
  ShellResult r = Run({"split", "--mono", "-o", "in/parts", "in/two.wav"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "in/parts/two_001.wav\nin/parts/two_002.wav\n");
  EXPECT_EQ(PartChannels(dir / "in/parts/two_002.wav"), 1);
  EXPECT_EQ(PartData(dir / "in/parts/two_002.wav"), SampleBytes(Samples(10000, -2500)));
  // The same recording named twice in one run: its parts are written once.
  r = Run({"split", "-o", "in/parts", "in/two.wav", "./in/../in/two.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "in/parts/two_001.wav\nin/parts/two_002.wav\n");
  // A folder that is not there is made, with its parents, and said so; one
  // that cannot be made is refused before anything is written, saying why.
  r = Run({"split", "-q", "-o", "new/deeper", "in/two.wav"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(PartData(dir / "new/deeper/two_002.wav"), PartData(dir / "in/parts/two_002.wav"));
  r = Run({"split", "-o", "fresh", "in/two.wav"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "corvella-cli: fresh: created the folder for the parts\n");
  EXPECT_EQ(r.out, "fresh" + kJoin + "two_001.wav\nfresh" + kJoin + "two_002.wav\n");
  r = Run({"split", "-o", "in/two.wav/parts", "in/two.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("corvella-cli: in/two.wav/parts: cannot create the folder for the parts (", 0),
            0u)
      << r.err;
#ifndef _WIN32
  EXPECT_EQ(r.err,
            "corvella-cli: in/two.wav/parts: cannot create the folder for the parts (not a folder)\n");
#endif
  EXPECT_EQ(r.out, "");
}

TEST_F(Cli, UsageErrorsExitWithTwoAndHelpShowsExamples) {
  // Each says what is wrong in one line, and where to read more.
  // Each says what is wrong in one line, what was most likely meant, and
  // the help to read: the command's own where one was named.
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "a command is needed: count, list, split or levels"},
      {{"count"}, "FILE is required"},
      {{"divide", "x.wav"}, "'divide' is not a command: count, list, split or levels"},
      {{"splitt", "x.wav"}, "'splitt' is not a command; did you mean 'split'?"},
      {{"help", "lvels"}, "'lvels' is not a command; did you mean 'levels'?"},
      {{"count", "--noise-floor", "0", "x.wav"}, "--noise-floor: '0' is not in 1 to 32767"},
      {{"count", "--gap", "nan", "x.wav"}, "--gap: a number is needed, not 'nan'"},
      {{"split", "--bogus", "x.wav"}, "The following argument was not expected: --bogus"},
      {{"split", "--thresold-db", "-40", "x.wav"},
       "The following argument was not expected: --thresold-db; did you mean --threshold-db?"},
      {{"count", "-n", "5", "--threshold-db", "-40", "x.wav"},
       "--noise-floor excludes --threshold-db"},
      {{"split", "--tracks", "3", "--gap", "2", "x.wav"}, "--gap excludes --tracks"},
      {{"count", "-"}, "count needs the whole recording: only split reads one still coming in "
                       "on stdin (-)"}};
  for (const auto& [args, message] : cases) {
    ShellResult r = Run(args);
    EXPECT_EQ(r.status, 2) << message;
    const bool command = !args.empty() && (args[0] == "count" || args[0] == "split");
    EXPECT_EQ(r.err, "corvella-cli: " + message + "\nRun 'corvella-cli " +
                         (command ? args[0] + " " : "") + "--help' for more information.\n");
    EXPECT_EQ(r.out, "");
  }
  // help, help COMMAND and -V answer as --help and --version do.
  EXPECT_EQ(Run({"help"}).out, Run({"--help"}).out);
  const ShellResult splitHelp = Run({"help", "split"});
  EXPECT_EQ(splitHelp.status, 0);
  EXPECT_EQ(splitHelp.out, Run({"split", "--help"}).out);
  EXPECT_EQ(Run({"-V"}).out, Run({"--version"}).out);
  // Every help fits a terminal: 60 lines of 80 columns, with examples.
  EXPECT_NE(Run({"--help"}).out.find("Quick start:"), std::string::npos);
  for (const char* command : {"", "count", "split", "list", "levels"}) {
    const std::string help = *command ? Run({command, "--help"}).out : Run({"--help"}).out;
    std::istringstream lines(help);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
      EXPECT_LE(line.size(), 80u) << command << ": " << line;
    EXPECT_LE(count, 60) << command;
    if (*command) {
      EXPECT_NE(help.find("Examples:"), std::string::npos) << command;
    }
    EXPECT_EQ(help.find("Excludes:"), std::string::npos) << command;
  }
  stop = SIGINT;
  EXPECT_EQ(Run({"split", "in/two.wav"}).status, 130);
  EXPECT_FALSE(std::filesystem::exists(dir / "two_001.wav"));
}

#ifndef _WIN32
// What a terminal shows of `typed`: each line as the carriage returns and
// overwriting leave it, trailing blanks dropped.
std::vector<std::string> Screen(const std::string& typed) {
  std::vector<std::string> lines;
  std::string line;
  std::size_t column = 0;
  for (char c : typed) {
    if (c == '\r') {
      column = 0;
    } else if (c == '\n') {
      while (!line.empty() && line.back() == ' ') line.pop_back();
      lines.push_back(line);
      line.clear();
      column = 0;
    } else {
      if (column < line.size()) {
        line[column] = c;
      } else {
        line.push_back(c);
      }
      ++column;
    }
  }
  return lines;
}

// On a terminal, with the progress bar on stderr and the names on stdout,
// every name stands on a line of its own: the bar is taken away first.
TEST_F(Cli, OnATerminalNamesNeverFollowTheBar) {
  Samples long_(2 * 44100 * 40, 0);
  for (int piece = 0; piece < 4; ++piece) {
    for (int f = piece * 441000 + 44100; f < piece * 441000 + 352800; ++f)
      long_[2 * static_cast<std::size_t>(f)] = static_cast<std::int16_t>((f % 100) * 100);
  }
  dir.Put("long.wav", SimpleWav(2, long_));
  for (const std::string command : {"split -o out", "list", "count", "count -q"}) {
    const ShellResult r = Shell("cd '" + dir.path() + "' && script -qec \"'" +
                                std::string(CORVELLA_CLI) + "' " + command + " long.wav\" /dev/null");
    ASSERT_EQ(r.status, 0) << r.err;
    // A bar, but not under -q.
    EXPECT_EQ(r.out.find("% [") != std::string::npos, command.find("-q") == std::string::npos)
        << command;
    for (const std::string& line : Screen(r.out)) {
      EXPECT_EQ(line.find("% ["), std::string::npos) << command << ": " << line;
    }
    if (command.rfind("split", 0) == 0) {
      const std::vector<std::string> screen = Screen(r.out);
      for (int k = 1; k <= 4; ++k) {
        const std::string name = "out/long_00" + std::to_string(k) + ".wav";
        EXPECT_NE(std::find(screen.begin(), screen.end(), name), screen.end()) << name;
      }
    }
  }
}
#endif

// -q on every command: the results, the errors and what puts a result in
// doubt; no notes of what was done, no names of parts.
TEST_F(Cli, QuietOnEveryCommand) {
  Bytes cut = ReadFile(dir / "in/two.wav");
  cut.resize(cut.size() - 1001);  // a recorder that stopped: salvaged, said so
  dir.Put("cut.wav", cut);
  for (const char* command : {"count", "list", "levels", "split"}) {
    SCOPED_TRACE(command);
    const bool split = std::string(command) == "split";
    std::vector<std::string> loudArgs = {command, "--salvage", "cut.wav", "missing.wav"};
    std::vector<std::string> quietArgs = {command, "-q", "--salvage", "cut.wav", "missing.wav"};
    if (split) {
      loudArgs.insert(loudArgs.begin() + 1, {"-o", "in/parts"});
      quietArgs.insert(quietArgs.begin() + 1, {"-o", "in"});
    }
    const ShellResult loud = Run(loudArgs);
    const ShellResult quiet = Run(quietArgs);
    EXPECT_EQ(quiet.status, loud.status);
    EXPECT_EQ(quiet.err, loud.err);
    EXPECT_NE(quiet.err.find("cut.wav: salvaged: "), std::string::npos) << quiet.err;
    EXPECT_EQ(quiet.out, split ? "" : loud.out);
  }
  const ShellResult made = Run({"split", "-o", "new/folder", "in/two.wav"});
  EXPECT_EQ(made.err, "corvella-cli: new/folder: created the folder for the parts\n");
  const ShellResult quietly = Run({"split", "-q", "-o", "new/other", "in/two.wav"});
  EXPECT_EQ(quietly.err, "");
  EXPECT_EQ(quietly.out, "");
}

// --format json on count, levels and split, as a script reads it: every
// object parses, refusals are objects with the sentence and the reason,
// split's parts are those list gives, and levels' suggestion gives its count.
TEST_F(Cli, JsonForScriptsOnEveryCommand) {
  using nlohmann::json;
  const auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), CORVELLA_CLI);
    return RunProgram(args);
  };
  Ran r = run({"count", "-f", "json", "in/two.wav", "bad.wav", "missing.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("bad.wav: Not a valid WAV file!"), std::string::npos) << r.err;
  json counted = json::parse(r.out);
  ASSERT_EQ(counted.size(), 3u) << r.out;
  EXPECT_EQ(counted[0], json({{"file", "in/two.wav"}, {"parts", 2}}));
  EXPECT_EQ(counted[1]["error"], "Not a valid WAV file!");
  EXPECT_EQ(counted[1]["reason"], "it begins with 00 00 00 00, not RIFF");
  EXPECT_EQ(counted[2]["error"], "Unable to open file!");
  EXPECT_EQ(json::parse(run({"count", "-f", "json", "missing.wav"}).out).size(), 1u);
  // A count that does not match the track list comes with the mismatch.
  dir.Put("three.txt", Bytes{'a', '\n', 'b', '\n', 'c', '\n'});
  r = run({"count", "-f", "json", "--names", "three.txt", "in/two.wav"});
  EXPECT_EQ(r.status, 1);
  const json mismatch = json::parse(r.out).at(0);
  EXPECT_EQ(mismatch["parts"], 2) << r.out;
  EXPECT_TRUE(mismatch.contains("error")) << r.out;

  r = run({"levels", "-f", "json", "in/two.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  const json levels = json::parse(r.out).at(0);
  EXPECT_EQ(levels["parts"], 2);
  EXPECT_EQ(levels["rate"], 44100);
  std::vector<std::string> suggested{"count", "-f", "json"};
  std::istringstream words(levels["suggested"].get<std::string>());
  for (std::string word; words >> word;) suggested.push_back(word);
  suggested.push_back("in/two.wav");
  EXPECT_EQ(json::parse(run(suggested).out).at(0)["parts"], 2) << levels.dump();
  // Two tones of 3 s (the programme's level hears no DC), 1.5 s between.
  Samples tones(2 * 330750, 0);
  for (int f = 0; f < 330750; ++f) {
    if (f < 132300 || f >= 198450)
      tones[2 * f] = tones[2 * f + 1] = static_cast<std::int16_t>(8000 * std::sin(f * 0.0627));
  }
  dir.Put("tones.wav", SimpleWav(2, tones));
  r = run({"levels", "-f", "json", "--tracks", "2", "tones.wav"});
  const json tracks = json::parse(r.out).at(0);
  EXPECT_EQ(tracks["tracks"], 2) << r.out;
  EXPECT_EQ(tracks["gaps"].size(), 1u);

  // split: a line a part, as each is written, and one a refusal; quiet or not.
  const json listed = json::parse(run({"list", "-f", "json", "-o", "out", "in/two.wav"}).out);
  for (const char* quiet : {"", "-q"}) {
    std::vector<std::string> args{"split", "-f", "json", "-o", "out", "in/two.wav", "bad.wav"};
    if (*quiet) args.push_back(quiet);
    r = run(args);
    EXPECT_EQ(r.status, 1);
    std::istringstream lines(r.out);
    std::vector<json> objects;
    for (std::string line; std::getline(lines, line);) objects.push_back(json::parse(line));
    ASSERT_EQ(objects.size(), 3u) << r.out;
    for (std::size_t k = 0; k < 2; ++k) {
      const json& part = objects[k];
      const json& expected = listed[0]["parts"][k];
      EXPECT_EQ(part["file"], "in/two.wav");
      EXPECT_EQ(part["part"], k + 1);
      EXPECT_EQ(part["path"], expected["output"]);
      EXPECT_EQ(part["start_frame"], expected["start_frame"]);
      EXPECT_EQ(part["end_frame"], expected["end_frame"]);
      EXPECT_EQ(part["start"], expected["start"]);
      const auto frames = part["end_frame"].get<std::int64_t>() - part["start_frame"].get<std::int64_t>();
      EXPECT_EQ(std::filesystem::file_size(dir / part["path"].get<std::string>()),
                44u + 4u * static_cast<std::uintmax_t>(frames));
    }
    EXPECT_EQ(objects[2]["file"], "bad.wav");
    EXPECT_EQ(objects[2]["error"], "Not a valid WAV file!");
  }
  // Plain output stays as it was: the paths alone, as the JSON gives them.
  EXPECT_EQ(run({"split", "-o", "out", "in/two.wav"}).out,
            listed[0]["parts"][0]["output"].get<std::string>() + "\n" +
                listed[0]["parts"][1]["output"].get<std::string>() + "\n");

  // A run refused as a whole says why on stdout too: an array of one object
  // for count, levels and list, a line for split; stderr as before.
  for (const char* command : {"count", "levels", "list", "split"}) {
    r = run({command, "-f", "json", "--names", "no-such-list.txt", "in/two.wav"});
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_NE(r.err.find("no-such-list.txt: "), std::string::npos) << command << r.err;
    const json refused = json::parse(r.out);
    const json& object = std::string(command) == "split" ? refused : refused.at(0);
    EXPECT_EQ(object["subject"], "no-such-list.txt") << command << r.out;
    EXPECT_EQ(object["error"], "no such file") << command << r.out;
  }
  r = run({"split", "-f", "json", "--no-clobber", "-o", "out", "in/two.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(json::parse(r.out)["error"], "is there already (--no-clobber): nothing written") << r.out;
  // A label track whose one part lies past the recording's end.
  const std::string labels = "100.000000\t200.000000\tlate\n";
  dir.Put("cuts.txt", Bytes(labels.begin(), labels.end()));
  r = run({"split", "-f", "json", "--cuts", "cuts.txt", "-o", "cut", "in/two.wav"});
  EXPECT_EQ(r.status, 1);
  std::istringstream refusals(r.out);
  std::vector<json> said;
  for (std::string line; std::getline(refusals, line);) said.push_back(json::parse(line));
  ASSERT_FALSE(said.empty()) << r.out << r.err;
  EXPECT_EQ(said.back()["error"], "nothing written: the cut list does not fit the recordings") << r.out;
  EXPECT_EQ(said.front()["file"], "in/two.wav") << r.out;
  r = run({"split", "-f", "json", "--follow", "no-such-recording.wav", "-o", "live"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(json::parse(r.out)["subject"], "no-such-recording.wav") << r.out << r.err;
}

#ifndef _WIN32
// Shell completion as a user's shell loads it: the scripts the program
// prints, sourced into bash and fish, complete a command, an option, an
// option's value, a folder and a file with a space in its name; zsh reads
// its script without error; every option --help shows is in every script
// (they come from the same definitions), and the PowerShell script the
// Windows zip carries is the one the program prints.
TEST_F(Cli, ShellCompletionFromTheOptionsHelpShows) {
  const auto script = [&](const std::string& shell) {
    const Ran ran = RunProgram({CORVELLA_CLI, "--completion", shell});
    EXPECT_EQ(ran.status, 0) << shell << ": " << ran.err;
    dir.Put("completion." + shell, Bytes(ran.out.begin(), ran.out.end()));
    return ran.out;
  };
  std::filesystem::create_directory(dir / "my tapes");
  dir.Put("side a.wav", Bytes{});
  const std::string bash = script("bash");
  const auto completeBash = [&](const std::string& words) {
    return Shell("cd '" + dir.path() + "' && bash -c 'source ./completion.bash; COMP_WORDS=(" +
                 words + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _corvella_cli; "
                 "printf \"%s|\" \"${COMPREPLY[@]}\"'")
        .out;
  };
  EXPECT_EQ(completeBash("corvella-cli spl"), "split|");
  EXPECT_EQ(completeBash("corvella-cli split --thr"), "--threshold-db|");
  EXPECT_EQ(completeBash("corvella-cli split --to \"\""), "flac|wav|mp3|opus|");
  // --to=<TAB> and --to=f<TAB>, as bash cuts them at "=".
  EXPECT_EQ(completeBash("corvella-cli split --to ="), "flac|wav|mp3|opus|");
  EXPECT_EQ(completeBash("corvella-cli split --to = f"), "flac|");
  EXPECT_EQ(completeBash("corvella-cli levels --format = j"), "json|");
  EXPECT_EQ(completeBash("corvella-cli levels -f \"\""), "text|json|");
  EXPECT_EQ(completeBash("corvella-cli split -o my"), "my tapes|");
  EXPECT_EQ(completeBash("corvella-cli count side"), "side a.wav|");
  EXPECT_EQ(completeBash("corvella-cli help le"), "levels|");
  // A bare --tracks (the titles of a list count them) takes nothing after it.
  EXPECT_EQ(completeBash("corvella-cli split --tracks --names"), "--names|");

  const std::string fish = script("fish");
  const auto completeFish = [&](const std::string& line) {
    return Shell("cd '" + dir.path() + "' && fish -c 'source ./completion.fish; complete -C \"" +
                 line + "\"'")
        .out;
  };
  EXPECT_EQ(completeFish("corvella-cli spl").rfind("split\t", 0), 0u) << completeFish("corvella-cli spl");
  EXPECT_NE(completeFish("corvella-cli split --thr").find("--threshold-db\t"), std::string::npos);
  const std::string to = completeFish("corvella-cli split --to ");
  EXPECT_NE(to.find("flac\t"), std::string::npos) << to;
  EXPECT_NE(to.find("wav\t"), std::string::npos) << to;
  EXPECT_EQ(completeFish("corvella-cli split -o my"), "my tapes/\tDirectory\n");
  EXPECT_EQ(completeFish("corvella-cli count side"), "side a.wav\n");

  const std::string zsh = script("zsh");
  const ShellResult zshRead = Shell("zsh -n '" + (dir / "completion.zsh") + "'");
  EXPECT_EQ(zshRead.status, 0) << zshRead.err;
  const std::string powershell = script("powershell");
  const Bytes shipped = ReadFile(std::string(CORVELLA_SOURCE_DIR) + "/packaging/windows/corvella-cli.ps1");
  EXPECT_TRUE(powershell == std::string(shipped.begin(), shipped.end()))
      << "packaging/windows/corvella-cli.ps1 is not what corvella-cli --completion powershell prints";

  for (const char* command : {"count", "split", "list", "levels"}) {
    const std::string help = RunProgram({CORVELLA_CLI, command, "--help"}).out;
    std::istringstream words(help);
    for (std::string word; words >> word;) {
      const auto at = word.find("--");
      if (at == std::string::npos) continue;
      word = word.substr(at);
      word = word.substr(0, word.find_first_not_of("abcdefghijklmnopqrstuvwxyz-", 2));
      if (word.size() < 3) continue;
      for (const std::string* text : {&bash, &fish, &zsh, &powershell}) {
        const std::string bare = text == &fish ? "-l " + word.substr(2) : word;
        EXPECT_NE(text->find(bare), std::string::npos) << command << " " << word;
      }
    }
  }
  EXPECT_EQ(RunProgram({CORVELLA_CLI, "--completion", "tcsh"}).status, 2);
}
#endif

#ifndef _WIN32
// The manual page's summary of each command is its --help, word for word:
// rewritten from the program as built, the page comes out unchanged.
TEST_F(Cli, TheManualSaysWhatHelpSays) {
  const std::string source = CORVELLA_SOURCE_DIR;
  std::filesystem::copy_file(source + "/docs/corvella-cli.1", dir / "page.1");
  const ShellResult updated = Shell("'" + source + "/tools/man-summaries' '" + CORVELLA_CLI +
                                    "' --update '" + (dir / "page.1") + "'");
  ASSERT_EQ(updated.status, 0) << updated.err;
  EXPECT_TRUE(ReadFile(dir / "page.1") == ReadFile(source + "/docs/corvella-cli.1"))
      << "docs/corvella-cli.1 is not what --help says: run tools/man-summaries "
         "build/src/cli/corvella-cli --update docs/corvella-cli.1";
  const Bytes bytes = ReadFile(dir / "page.1");
  const std::string page(bytes.begin(), bytes.end());
  EXPECT_NE(page.find(".SS corvella\\-cli levels"), std::string::npos);
}
#endif

#ifndef _WIN32
// A folder the user may not write into: said once, naming it, and no
// further part or recording is tried. Run as a user without the right (as
// root, the program runs as nobody; root itself may write anywhere).
TEST_F(Cli, AFolderWithoutPermissionIsNamedOnce) {
  dir.Put("in/three.wav", ReadFile(dir / "in/two.wav"));
  std::filesystem::create_directory(dir / "locked");
  std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
  std::filesystem::permissions(dir / "in", std::filesystem::perms(0755));
  std::filesystem::permissions(dir / "locked", std::filesystem::perms(0555));
  // A copy of the program the other user may run wherever the build is.
  std::filesystem::copy_file(CORVELLA_CLI, dir / "corvella-cli");
  std::filesystem::permissions(dir / "corvella-cli", std::filesystem::perms(0755));
  std::string line = "cd '";
  line.append(dir.path());
  line.append("' && ");
  if (::geteuid() == 0) line.append("su nobody -s /bin/sh -c \"");
  line.append("./corvella-cli split -o locked in/two.wav in/three.wav");
  if (::geteuid() == 0) line.append("\"");
  const ShellResult r = Shell(line);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "corvella-cli: locked: cannot write the parts into this folder (permission denied)\n");
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(dir.Names("locked").empty());
}
#endif

// Parts replace files already there, as the window's do, and say how many;
// with --no-clobber nothing is written where a name is taken.
TEST_F(Cli, FilesInTheWayAreReplacedAndCountedOrLeftAlone) {
  ASSERT_EQ(Run({"split", "-q", "-o", "out", "in/two.wav"}).status, 0);
  ShellResult r = Run({"split", "-o", "out", "in/two.wav"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "corvella-cli: out: replaced 2 files that were there\n");

  dir.Put("out/two_002.wav", Bytes{'m', 'i', 'n', 'e'});
  std::filesystem::remove(dir / "out/two_001.wav");
  r = Run({"split", "--no-clobber", "-o", "out", "in/two.wav"});
  EXPECT_EQ(r.status, 1);
#ifdef _WIN32
  const std::string taken = "out\\two_002.wav";
#else
  const std::string taken = "out/two_002.wav";
#endif
  EXPECT_EQ(r.err, "corvella-cli: " + taken + ": is there already (--no-clobber): nothing written\n");
  EXPECT_EQ(dir.Names("out"), std::vector<std::string>{"two_002.wav"});
  EXPECT_EQ(ReadFile(dir / "out/two_002.wav"), (Bytes{'m', 'i', 'n', 'e'}));
  // The same from a cut list, checked before the first part is written.
  const ShellResult listed = Run({"list", "-f", "csv", "in/two.wav"});
  ASSERT_EQ(listed.status, 0);
  dir.Put("cuts.csv", Bytes(listed.out.begin(), listed.out.end()));
  r = Run({"split", "--no-clobber", "--cuts", "cuts.csv", "-o", "out", "in/two.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("two_002.wav\" is there already (--no-clobber)"), std::string::npos) << r.err;
  EXPECT_EQ(dir.Names("out"), std::vector<std::string>{"two_002.wav"});
}

TEST_F(Cli, LongPathsGiveWholeLines) {
  // A recording 1000 characters deep, and parts named into a folder as long.
  std::string deep = "in";
  while (deep.size() < 1000) deep += "/" + std::string(150, 'x');
  std::filesystem::create_directories(dir / deep);
  std::filesystem::copy_file(dir / "in/two.wav", dir / (deep + "/two.wav"));
  const std::string file = deep + "/two.wav";

  ShellResult r = Run({"levels", file});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
            file + ": 44100 Hz, 2 channels, 2.3 s, 227 windows of 10 ms");
  r = Run({"list", "-o", deep, file});
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 4u) << r.out;
  EXPECT_TRUE(rows[2].ends_with(deep + "/two_001.wav")) << rows[2];
  EXPECT_TRUE(rows[3].ends_with(deep + "/two_002.wav")) << rows[3];
#ifndef _WIN32  // under wine the path becomes a Linux one, which cannot be this long
  // Deeper than the kernel takes in one path, by a path relative to here.
  while (deep.size() < 4200) deep += "/" + std::string(200, 'y');
  WriteDeep(dir.path(), deep + "/two.wav", ReadFile(dir / "in/two.wav"));
  dir.Put("two.wav", SimpleWav(1, Samples(10, 0)));  // where a shortened path would lead
  EXPECT_EQ(Run({"count", deep + "/two.wav"}).out,
            "File \"" + deep + "/two.wav\" contains 2 parts!\n");
#endif
}

}  // namespace
}  // namespace corvella::test
