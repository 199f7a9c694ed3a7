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
                                "Loudest sample still silent, 1-32767 (default 104)")
                    ->check(Integer(1, 32767))
                    ->type_name("N")
                    ->group("Detection");
  command
      .add_option(
          "-t,--threshold-db", options.thresholdDb,
          "The noise floor in dBFS instead (default -50)")
      ->check(Number(-150.0, 0.0))
      ->type_name("DB")
      ->group("Detection")
      ->excludes(floor);
  auto* gap = command
                  .add_option("-g,--gap-threshold", options.gapThreshold,
                              "Gap that ends a part, in 1/44100 s (22050)")
                  ->check(Integer(1, 44100LL * 3600))
                  ->type_name("T")
                  ->group("Detection");
  command.add_option("--gap", options.gapSeconds, "The gap in seconds instead (default 0.5)")
      ->check(Number(0.00001, 3600.0))
      ->type_name("SECONDS")
      ->group("Detection")
      ->excludes(gap);
  command
      .add_option("--ignore-clicks", options.ignoreClicks,
                  "Clicks of at most MS ms count as silence (off)")
      ->check(Integer(1, 50))
      ->type_name("MS")
      ->group("Detection");
}

void AddPlanOptions(CLI::App& command, Options& options, bool padding) {
  command
      .add_option("--min-part", options.minPart,
                  "Drop parts shorter than this (default 0)")
      ->check(Number(0.0, 1e6))
      ->type_name("SECONDS")
      ->group("Parts");
  if (!padding) return;
  command
      .add_option("--pad-before", options.padBefore,
                  "Widen parts into the silence before (0)")
      ->check(Number(0.0, 1e6))
      ->type_name("SECONDS")
      ->group("Parts");
  command
      .add_option("--pad-after", options.padAfter,
                  "Widen parts into the silence after (0)")
      ->check(Number(0.0, 1e6))
      ->type_name("SECONDS")
      ->group("Parts");
}

void AddFiles(CLI::App& command, Options& options, bool required) {
  command
      .add_flag("--salvage", options.salvage,
                "Read a cut-off or damaged file as far as it goes")
      ->group("Input");
  command
      .add_option("FILE", options.files,
                  "Recordings: WAV, FLAC, MP3, AIFF, Wave64, CAF, ...")
      ->required(required);
}

void AddStreamOptions(CLI::App& command, Options& options) {
  command
      .add_option("--follow", options.follow,
                  "Split a WAV file while another program writes it")
      ->type_name("FILE")
      ->group("Streams");
  command
      .add_option("--raw", options.raw,
                  "Samples without a header, as 44100:2:s16le")
      ->type_name("SHAPE")
      ->group("Streams")
      ->check([](const std::string& text) {
        return stream::RawShape(text).error.detail;
      });
  command
      .add_option("--name", options.streamName,
                  "Parts of a stream are NAME_001.wav, ... (stream)")
      ->type_name("NAME")
      ->group("Streams")
      ->check([](const std::string& name) {
        return name.empty() || name.find('/') != std::string::npos ||
                       name.find('\\') != std::string::npos
                   ? "a name without folders"
                   : "";
      });
  command
      .add_flag("--name-time", options.nameTime, "Name each part by the time it began")
      ->group("Streams");
  command
      .add_option("--idle", options.idle,
                  "End --follow when the file stops growing (60)")
      ->type_name("SECONDS")
      ->group("Streams")
      ->check(Number(0.1, 1e6));
  command
      .add_option("--buffer", options.buffer,
                  "Audio held while the writing catches up (60)")
      ->type_name("SECONDS")
      ->group("Streams")
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
  if (options.to == "mp3" || options.to == "opus")
    return "--to " + options.to +
           " parts are encoded from the finished recording: split it once it is finished, or as "
           "WAV parts as it comes in";
  return "";
}

void AddFormatOption(CLI::App& command, Options& options) {
  command
      .add_option(
          "-f,--format", options.format,
          "text, csv, json, labels, cue, svg or html (text)")
      ->check(CLI::IsMember({"text", "csv", "json", "labels", "cue", "svg", "html"}))
      ->type_name("FORMAT")
      ->group("Output");
}

void AddJsonOption(CLI::App& command, Options& options) {
  command.add_option("-f,--format", options.format, "text or json (text)")
      ->check(CLI::IsMember({"text", "json"}))
      ->type_name("FORMAT")
      ->group("Output");
}

void AddTrackOptions(CLI::App& command, Options& options, bool tagging) {
  auto* tracks =
      command
          .add_option_function<std::string>(
              "--tracks",
              [&options](const std::string& text) {
                options.tracks = text == "titles" ? 0 : std::stoi(text);
              },
              "Exactly N parts, at the clearest N-1 gaps")
          ->type_name("N")
          ->group("Detection")
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
                      "Name and tag the parts from a track list")
          ->type_name("FILE")
          ->group("Naming and tags")
          ->check([](const std::string& path) {
            return path.empty() ? "a track list's name, or - for stdin" : "";
          });
  if (!tagging) return;
  // The tags go with the titles: parts without --names have none of them.
  command.add_option("--artist", options.artist, "Every part's ARTIST tag (with --names)")
      ->type_name("TEXT")
      ->group("Naming and tags")
      ->needs(names);
  command.add_option("--album", options.album, "Every part's ALBUM tag (with --names)")
      ->type_name("TEXT")
      ->group("Naming and tags")
      ->needs(names);
  command.add_option("--date", options.date, "Every part's DATE tag (with --names)")
      ->type_name("TEXT")
      ->group("Naming and tags")
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
  if ((options.quality || options.bitrate > 0) && options.to != "mp3" && options.to != "opus")
    return "--quality and --bitrate set the encoder of --to mp3 or --to opus";
  if (options.quality && options.to == "opus")
    return "--quality sets MP3's variable bitrate; Opus takes a --bitrate";
  if (options.quality && options.bitrate > 0)
    return "--quality sets a variable bitrate and --bitrate a constant one: give one of them";
  if (options.tracks == 0 && options.names.empty())
    return "--tracks needs a number of tracks, or --names to count the titles";
  if (!options.names.empty() && options.files.size() > 1)
    return "--names gives the titles of one recording: name one FILE";
  if (!options.names.empty() && options.names == options.cuts)
    return "--names and --cuts cannot both read stdin";
  return "";
}

}  // namespace corvella::cli
