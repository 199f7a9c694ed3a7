// `list`: the parts split would write, with their peaks, in one of the
// listing formats.
#include "batch/OutputName.h"
#include "cli/Commands.h"
#include "cli/Finding.h"
#include "cli/Listing.h"
#include "cli/Picture.h"
#include "cli/Text.h"
#include "detect/Units.h"
#include "messages/Messages.h"

namespace corvella::cli {
namespace {

// A word as a shell takes it back: bare where it holds nothing a shell
// reads specially, else quoted (single quotes on POSIX shells, double
// quotes in Windows' shells, where a file name holds no double quote).
std::string ShellWord(const std::string& word) {
  const bool bare = !word.empty() && word.find_first_not_of(
                                         "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                         "0123456789_./:@%+=,-") == std::string::npos;
  if (bare) return word;
#ifdef _WIN32
  return "\"" + word + "\"";
#else
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
#endif
}

// Seconds as options take them: no trailing zeros.
std::string SecondsText(double seconds) {
  std::string text = Fixed(seconds, 6);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

// The split that writes the parts listed for `entry`: the options that
// chose them (the floor --tracks found, where it found one), its folder
// and names, ready to copy.
std::string SplitCommand(const Options& options, const ListedFile& entry) {
  std::string command = "corvella-cli split";
  const auto add = [&](const std::string& option, const std::string& value) {
    command.append(" ").append(option);
    if (!value.empty()) command.append(" ").append(value);
  };
  if (options.tracks && entry.tracksFloorDb) {
    add("--tracks", std::to_string(entry.parts.size()));
    add("--threshold-db", Fixed(*entry.tracksFloorDb, 1));
  } else {
    if (options.thresholdDb) {
      add("--threshold-db", SecondsText(*options.thresholdDb));
    } else if (options.floorGiven) {
      add("--noise-floor", std::to_string(options.noiseFloor));
    }
    if (options.gapSeconds) {
      add("--gap", SecondsText(*options.gapSeconds));
    } else if (options.gapGiven) {
      add("--gap-threshold", std::to_string(options.gapThreshold));
    }
    if (options.ignoreClicks > 0) add("--ignore-clicks", std::to_string(options.ignoreClicks));
  }
  if (options.minPart > 0) add("--min-part", SecondsText(options.minPart));
  if (options.padBefore > 0) add("--pad-before", SecondsText(options.padBefore));
  if (options.padAfter > 0) add("--pad-after", SecondsText(options.padAfter));
  // A list from stdin is read from stdin again.
  if (!options.names.empty()) add("--names", ShellWord(options.names));
  if (options.artist) add("--artist", ShellWord(*options.artist));
  if (options.album) add("--album", ShellWord(*options.album));
  if (options.date) add("--date", ShellWord(*options.date));
  if (options.salvage) add("--salvage", "");
  if (!options.outputDir.empty()) add("-o", ShellWord(options.outputDir));
  // A name that would read as an option (or as stdin) is given as a path.
  const bool optionLike = entry.file.rfind('-', 0) == 0;
  add(ShellWord(optionLike ? "./" + entry.file : entry.file), "");
  return command;
}

}  // namespace

int List(Job& job) {
  const Options& options = job.options;
  Console& console = job.console;
  bool failed = false;
  std::vector<ListedFile> listed;
  const detect::DetectParams params = options.Detection();
  const std::string folder = job.ShownFolder();
  const bool drawn = options.Format() == ListFormat::Svg || options.Format() == ListFormat::Html;
  split::TrackList list;
  if (!ReadTrackList(job, list)) return kExitFailed;
  for (const std::string& file : options.files) {
    if (console.Stopped()) break;
    ListedFile entry;
    entry.file = file;
    entry.noiseFloor = params.noiseFloor;
    entry.gapThreshold = params.gapThreshold;
    entry.minPart = options.minPart;
    entry.padBefore = options.padBefore;
    entry.padAfter = options.padAfter;
    Console::Bar bar(console, file);
    wave::Error error;
    std::unique_ptr<wave::Source> source = job.Open(file, &error);
    if (!source) {
      entry.error = messages::MessageOf(error);
      if (!messages::InOwnWords(error.code)) entry.reason = error.detail;
      failed = true;
      listed.push_back(std::move(entry));
      continue;
    }
    entry.channels = source->Info().channels;
    entry.rate = source->Info().rate;
    entry.frames = source->Info().frames;
    split::Request request = RequestFor(options, list, file);
    request.peaks = true;
    if (drawn) request.pictureColumns = kPictureColumns;
    request.gapGiven = options.gapGiven;
    split::Found found;
    error = Find(job, file, *source, request, bar, found);
    if (found.choice && found.choice->found) {
      entry.tracksFloorDb = found.choice->floorDb;
      entry.noiseFloor = detect::NoiseFloorFromDb(found.choice->floorDb);
    }
    entry.picture = std::move(found.picture);
    if (error) {
      // A file that could not be measured whole lists no parts at all.
      if (error != wave::ErrorCode::Stopped) console.Report(file, error);
      entry.error = messages::MessageOf(error);
      if (!messages::InOwnWords(error.code)) entry.reason = error.detail;
      failed = true;
    } else {
      for (const split::Part& part : found.parts) {
        ListedPart shown{part.number, part.span, batch::JoinPath(folder, part.name), {}, {}};
        if (part.track) {
          shown.title = part.track->title;
          shown.artist = part.track->artist;
        }
        entry.parts.push_back(std::move(shown));
      }
      if (!request.titles.empty()) {
        entry.artist = options.artist.value_or(list.artist);
        entry.album = request.titles.front().album;
        entry.date = request.titles.front().date;
      }
      if (drawn) entry.command = SplitCommand(options, entry);
    }
    entry.linear = options.scale == "linear";
    listed.push_back(std::move(entry));
  }
  if (console.Stopped()) return console.StopStatus();
  const std::string refused = ListingRefusal(options.Format(), listed);
  if (!refused.empty()) {
    console.Report("list", refused);
    return kExitFailed;
  }
  WriteListing(console.out(), options.Format(), listed);
  if (!console.Deliver()) return console.OutputStatus();
  return job.Status(failed);
}

}  // namespace corvella::cli
