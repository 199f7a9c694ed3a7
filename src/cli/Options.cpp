#include "cli/Options.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "detect/Units.h"
#include "stream/StreamShape.h"

namespace corvella::cli {
namespace {

// A whole number in [low, high]; "104.7", "1e3" and "0x10" are refused as
// what they are, not as out of range.
CLI::Validator Integer(long long low, long long high) {
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        long long value = 0;
        const char* end = text.data() + text.size();
        const auto [at, error] = std::from_chars(text.data(), end, value);
        if (error != std::errc() || at != end) return "an integer is needed, not '" + text + "'";
        if (value < low || value > high) {
          return "'" + text + "' is not in " + std::to_string(low) + " to " + std::to_string(high);
        }
        return "";
      },
      "", "integer");
}

// A finite number in [low, high]; NaN and infinities are refused.
CLI::Validator Number(double low, double high) {
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        double value = 0;
        const char* end = text.data() + text.size();
        const auto [at, error] = std::from_chars(text.data(), end, value);
        if (error != std::errc() || at != end || !std::isfinite(value)) {
          return "a number is needed, not '" + text + "'";
        }
        if (value < low || value > high) {
          return "'" + text + "' is not in " + CLI::detail::to_string(low) + " to " +
                 CLI::detail::to_string(high);
        }
        return "";
      },
      "", "number");
}

}  // namespace

detect::DetectParams Options::Detection() const {
  detect::DetectParams params;
  params.noiseFloor = thresholdDb ? detect::NoiseFloorFromDb(*thresholdDb) : noiseFloor;
  params.thresholdDb = thresholdDb;
  params.gapThreshold = gapSeconds ? detect::GapThresholdFromSeconds(*gapSeconds) : gapThreshold;
  params.ignoreClicksMs = ignoreClicks;
  return params;
}

std::optional<double> Options::FloorDb() const {
  if (!floorGiven) return std::nullopt;
  return thresholdDb ? *thresholdDb : detect::AmplitudeDb(noiseFloor);
}

batch::PlanOptions Options::Plan(std::int64_t rate) const {
  return {detect::FramesFromSeconds(minPart, rate), detect::FramesFromSeconds(padBefore, rate),
          detect::FramesFromSeconds(padAfter, rate)};
}

ListFormat Options::Format() const {
  if (format == "csv") return ListFormat::Csv;
  if (format == "json") return ListFormat::Json;
  if (format == "labels") return ListFormat::Labels;
  if (format == "cue") return ListFormat::Cue;
  if (format == "svg") return ListFormat::Svg;
  if (format == "html") return ListFormat::Html;
  return ListFormat::Text;
}

void AddDetectionOptions(CLI::App& command, Options& options) {
  auto* floor = command
                    .add_option("-n,--noise-floor", options.noiseFloor,
                                "Largest sample amplitude that still counts as silence, 1 to 32767 "
                                "(default 104, -50 dBFS)")
                    ->check(Integer(1, 32767))
                    ->type_name("N");
  command
      .add_option(
          "-t,--threshold-db", options.thresholdDb,
          "The noise floor as a level in dBFS instead, -150 to 0: exactly so for 8-, 24- and "
          "32-bit and float recordings, the nearest amplitude for 16-bit ones")
      ->check(Number(-150.0, 0.0))
      ->type_name("DB")
      ->excludes(floor);
  auto* gap = command
                  .add_option("-g,--gap-threshold", options.gapThreshold,
                              "Silence that ends a part, in 1/44100 s units (default 22050)")
                  ->check(Integer(1, 44100LL * 3600))
                  ->type_name("T");
  command.add_option("--gap", options.gapSeconds, "Silence that ends a part, in seconds instead")
      ->check(Number(0.00001, 3600.0))
      ->type_name("SECONDS")
      ->excludes(gap);
  command
      .add_option("--ignore-clicks", options.ignoreClicks,
                  "Take loud bursts of at most MS milliseconds with nothing loud around them as "
                  "silence: record crackle, taps (off by default)")
      ->check(Integer(1, 50))
      ->type_name("MS");
}

void AddPlanOptions(CLI::App& command, Options& options, bool padding) {
  command
      .add_option("--min-part", options.minPart,
                  "Treat parts shorter than this as silence: not listed, written nor numbered")
      ->check(Number(0.0, 1e6))
      ->type_name("SECONDS");
  if (!padding) return;
  command
      .add_option("--pad-before", options.padBefore,
                  "Widen each part into the silence before it, at most to the middle of a gap")
      ->check(Number(0.0, 1e6))
      ->type_name("SECONDS");
  command
      .add_option("--pad-after", options.padAfter,
                  "Widen each part into the silence after it, at most to the middle of a gap")
      ->check(Number(0.0, 1e6))
      ->type_name("SECONDS");
}

void AddFiles(CLI::App& command, Options& options, bool required) {
  command.add_flag("--salvage", options.salvage,
                   "Read a recording whose data run past the end of its file (a recorder that "
                   "stopped, a copy cut short) up to its last whole frame, instead of refusing it");
  command
      .add_option("FILE", options.files,
                  "Recordings: WAV (RIFF, RF64, BW64), FLAC, AIFF, Wave64, CAF; Ogg, Opus and MP3 "
                  "(split writes those only with --to)")
      ->required(required);
}

void AddStreamOptions(CLI::App& command, Options& options) {
  command
      .add_option("--follow", options.follow,
                  "Split a WAV file that another program is still writing, as it grows: ends "
                  "when the writer has finished it, after --idle, or on Ctrl-C")
      ->type_name("FILE");
  command
      .add_option("--raw", options.raw,
                  "Read - or --follow as samples without a header: RATE:CHANNELS:FORMAT, FORMAT "
                  "one of u8, s16le, s24le, s32le, f32le, f64le (as 44100:2:s16le)")
      ->type_name("SHAPE")
      ->check([](const std::string& text) {
        return stream::RawShape(text).error.detail;
      });
  command
      .add_option("--name", options.streamName,
                  "Name the parts of - or --follow NAME_001.wav, ... (default: stream, or the "
                  "followed file's name)")
      ->type_name("NAME")
      ->check([](const std::string& name) {
        return name.empty() || name.find('/') != std::string::npos ||
                       name.find('\\') != std::string::npos
                   ? "a name without folders"
                   : "";
      });
  command.add_flag("--name-time", options.nameTime,
                   "Name each part by the clock time it began: NAME_2026-12-06_14-03-27.wav");
  command
      .add_option("--idle", options.idle,
                  "With --follow: end when the file has not grown for SECONDS (default 60)")
      ->type_name("SECONDS")
      ->check(Number(0.1, 1e6));
  command
      .add_option("--buffer", options.buffer,
                  "Read up to this much audio ahead of the parts' writing (default 60); should "
                  "writing fall further behind a live input, stop with an error: no sample is "
                  "ever dropped")
      ->type_name("SECONDS")
      ->check(Number(1.0, 3600.0));
}

std::string StreamConflict(const CLI::App& command, const Options& options) {
  const bool dash =
      std::find(options.files.begin(), options.files.end(), "-") != options.files.end();
  if (!options.follow.empty() && !options.files.empty())
    return "--follow names the recording: give no FILE besides it";
  if (options.follow == "-")
    return "--follow reads a file another program is writing; a recording on stdin is split "
           "with - alone";
  if (dash && options.files.size() > 1)
    return "- reads one recording from stdin: give no other FILE";
  if (!options.Streamed()) {
    if (options.files.empty()) return "FILE is required";
    for (const char* option : {"--raw", "--name", "--name-time", "--idle", "--buffer"}) {
      if (command.get_option(option)->count() > 0)
        return std::string(option) + " is for a recording still coming in: - or --follow";
    }
    return "";
  }
  if (command.get_option("--idle")->count() > 0 && options.follow.empty())
    return "--idle is for --follow";
  for (const char* option : {"--tracks", "--names", "--cuts"}) {
    if (command.get_option(option)->count() > 0)
      return std::string(option) +
             " needs the whole recording: split it once it is finished, not as it comes in";
  }
  if (options.to == "flac")
    return "--to flac tags each part with the count of all: split the recording once it is "
           "finished";
  return "";
}

void AddFormatOption(CLI::App& command, Options& options) {
  command
      .add_option(
          "-f,--format", options.format,
          "text, csv, json, labels (a label track), cue, svg (a picture of the cuts) or html "
          "(a page with the pictures, the parts and the levels)")
      ->check(CLI::IsMember({"text", "csv", "json", "labels", "cue", "svg", "html"}))
      ->type_name("FORMAT");
}

void AddTrackOptions(CLI::App& command, Options& options, bool tagging) {
  auto* tracks =
      command
          .add_option_function<std::string>(
              "--tracks",
              [&options](const std::string& text) {
                options.tracks = text == "titles" ? 0 : std::stoi(text);
              },
              "Exactly N parts, at the N-1 silences that part them most clearly, at the noise "
              "floor that parts them best unless one is given; a bare --tracks with --names: as "
              "many as it has titles")
          ->type_name("N")
          ->check([](const std::string& text) -> std::string {
            if (text == "titles") return "";
            int value = 0;
            const char* end = text.data() + text.size();
            const auto [at, error] = std::from_chars(text.data(), end, value);
            if (error != std::errc() || at != end || value < 1 || value > 999)
              return "a number of tracks from 1 to 999 is needed, not '" + text + "'";
            return "";
          });
  for (const char* gap : {"--gap-threshold", "--gap", "--ignore-clicks"}) {
    if (auto* option = command.get_option_no_throw(gap)) tracks->excludes(option);
  }
  auto* names =
      command
          .add_option("--names", options.names,
                      "Name the parts \"01 Title.ext\", ... from a track list: one title a line "
                      "(with Artist:, Album:, Date: lines first), a cue sheet, or list's JSON with "
                      "titles; - reads it from stdin")
          ->type_name("FILE")
          ->check([](const std::string& path) {
            return path.empty() ? "a track list's name, or - for stdin" : "";
          });
  if (!tagging) return;
  // The tags go with the titles: parts without --names have none of them.
  command.add_option("--artist", options.artist, "The ARTIST tag of every part (with --names)")
      ->type_name("TEXT")
      ->needs(names);
  command.add_option("--album", options.album, "The ALBUM tag of every part (with --names)")
      ->type_name("TEXT")
      ->needs(names);
  command.add_option("--date", options.date, "The DATE tag of every part (with --names)")
      ->type_name("TEXT")
      ->needs(names);
}

std::vector<std::string> WithTrackCounts(int argc, const char* const* argv) {
  std::vector<std::string> args;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--") options = false;
    if (options && arg == "--tracks") {
      // A count starts with a digit or a sign and a digit ("-1" and "3x" are
      // counts, refused as such); anything else is the next option or file.
      const std::string next = i + 1 < argc ? argv[i + 1] : "";
      const auto digit = [&](std::size_t at) {
        return at < next.size() && next[at] >= '0' && next[at] <= '9';
      };
      if (!digit(0) && !((next[0] == '-' || next[0] == '+') && digit(1))) arg = "--tracks=titles";
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::string OptionConflict(const Options& options) {
  if (options.tracks == 0 && options.names.empty())
    return "--tracks needs a number of tracks, or --names to count the titles";
  if (!options.names.empty() && options.files.size() > 1)
    return "--names gives the titles of one recording: name one FILE";
  if (!options.names.empty() && options.names == options.cuts)
    return "--names and --cuts cannot both read stdin";
  return "";
}

}  // namespace corvella::cli
