// The command line's options: the detection as the window's two bars (or in
// dBFS and seconds), what becomes of the parts, where they go.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "batch/Plan.h"
#include "detect/Params.h"

namespace corvella::cli {

enum class ListFormat { Text, Csv, Json, Labels, Cue, Svg, Html };

struct Options {
  int noiseFloor = 104;
  std::optional<double> thresholdDb;
  int gapThreshold = 22050;
  std::optional<double> gapSeconds;
  int ignoreClicks = 0;  // milliseconds
  double minPart = 0;
  double padBefore = 0;
  double padAfter = 0;
  bool mono = false;
  bool keepMetadata = false;
  std::string to;  // "flac", "wav", "mp3", "opus", or "" for the source's own format
  std::optional<int> quality;  // --quality: MP3 and Opus at a variable bitrate
  int bitrate = 0;             // --bitrate: at a constant one, kbit/s
  bool quiet = false;
  bool noClobber = false;  // refuse to replace a file already there
  bool salvage = false;  // read cut-off recordings up to their last whole frame
  std::string outputDir;
  std::string cuts;  // split --cuts: a cut list's path, or "-" for stdin
  std::string format = "text";
  std::string scale = "db";  // list's pictures: "db" or "linear"
  // --tracks N: exactly N parts at the clearest silences; 0 where it is
  // the number of titles --names gives.
  std::optional<int> tracks;
  std::string names;  // --names: a track list's path, or "-" for stdin
  std::optional<std::string> artist, album, date;
  // A recording still coming in: "-" as the only FILE reads stdin,
  // --follow a file another program is writing.
  std::string follow;
  std::string raw;                   // --raw RATE:CHANNELS:FORMAT
  std::optional<std::string> streamName;  // --name
  bool nameTime = false;             // --name-time
  double idle = 0;                   // --idle SECONDS, 0 for none
  double buffer = 60;                // --buffer SECONDS
  bool Streamed() const { return !follow.empty() || (files.size() == 1 && files[0] == "-"); }
  bool gapGiven = false;    // the gap was set on the command line
  bool floorGiven = false;  // so was the noise floor
  // The noise floor given, in dBFS.
  std::optional<double> FloorDb() const;
  std::vector<std::string> files;

  detect::DetectParams Detection() const;
  // Whether --min-part or padding change the parts found.
  bool Planned() const { return minPart > 0 || padBefore > 0 || padAfter > 0; }
  batch::PlanOptions Plan(std::int64_t rate) const;
  ListFormat Format() const;
};

void AddDetectionOptions(CLI::App& command, Options& options);
void AddPlanOptions(CLI::App& command, Options& options, bool padding);
void AddFiles(CLI::App& command, Options& options, bool required = true);
// split's options for a recording still coming in: --follow, --raw, --name,
// --name-time, --idle, --buffer.
void AddStreamOptions(CLI::App& command, Options& options);
// What a recording still coming in cannot be split with; "" when it can.
std::string StreamConflict(const CLI::App& command, const Options& options);
void AddFormatOption(CLI::App& command, Options& options);
// -f/--format text|json, for the commands whose output is text or JSON.
void AddJsonOption(CLI::App& command, Options& options);
// --tracks and --names; with `tagging`, --artist, --album and --date.
void AddTrackOptions(CLI::App& command, Options& options, bool tagging);
// A bare --tracks (no count after it) as CLI11 takes it: "--tracks=titles".
std::vector<std::string> WithTrackCounts(int argc, const char* const* argv);
// What the options cannot mean together once parsed; "" when they can.
std::string OptionConflict(const Options& options);

}  // namespace corvella::cli
