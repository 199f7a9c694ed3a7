#include "cli/Finding.h"

#include <algorithm>
#include <cmath>

#include "cli/Text.h"
#include "detect/Units.h"
#include "split/ListText.h"

namespace corvella::cli {
namespace {

std::string Seconds(std::int64_t frames, std::int64_t rate) {
  return Fixed(detect::Seconds(frames, rate), 2) + " s";
}

std::string Place(std::int64_t frame, std::int64_t rate) {
  return Clock(detect::Seconds(frame, rate));
}

// A length as a sleeve gives it: "3:05", "1:02:17".
std::string Minutes(double seconds) {
  const auto whole = static_cast<long long>(std::llround(std::max(0.0, seconds)));
  const auto two = [](long long value) {
    return (value < 10 ? "0" : "") + std::to_string(value);
  };
  if (whole >= 3600)
    return std::to_string(whole / 3600) + ":" + two(whole / 60 % 60) + ":" + two(whole % 60);
  return std::to_string(whole / 60) + ":" + two(whole % 60);
}

// Why a recording's parts cannot take the titles: the counts differ.
std::string TitleMismatch(std::size_t titles, std::size_t parts) {
  return "the track list has " + std::to_string(titles) + (titles == 1 ? " title" : " titles") +
         " and the recording " + std::to_string(parts) + (parts == 1 ? " part" : " parts") +
         " (--tracks finds as many tracks as there are titles)";
}

// Where a track list's times and the recording disagree, in the list's
// words.
std::string Misfit(const batch::ListMisfit& misfit, const split::Request& request) {
  if (misfit.title == 0) {
    return "the track list's durations add up to " + Minutes(misfit.expected) +
           ", and the recording's sound lasts " + Minutes(misfit.found) +
           ": a title too many or too few, or a duration wrong?";
  }
  std::string title = "title " + std::to_string(misfit.title);
  if (misfit.title <= request.titles.size())
    title += " (\"" + request.titles[misfit.title - 1].title + "\")";
  return title + " should begin " + Minutes(misfit.expected) +
         " after the first by the track list's times, and the recording has no silence near "
         "there: check the list's times with `list -f html`";
}

// What a doubtful result looks like, and what to try instead.
std::string Doubted(const split::Doubt& doubt, const wave::SourceInfo& info) {
  const std::int64_t rate = info.rate;
  switch (doubt.kind) {
    case split::Doubt::Kind::OneForAll:
      return "one part holds the whole recording (" +
             Minutes(detect::Seconds(doubt.frames, rate)) +
             "): if it holds several pieces, the silences between them are louder than the "
             "noise floor; `levels` suggests the options for it, `--tracks N` finds N tracks "
             "whatever their silences, `list -f html` shows it";
    case split::Doubt::Kind::ManyTiny:
      return std::to_string(doubt.parts) + " parts, half of them shorter than " +
             Seconds(doubt.frames, rate) +
             ": the noise floor may lie inside the music, or the gap be shorter than its "
             "pauses; `levels` suggests the options for it, `list -f html` shows it";
    case split::Doubt::Kind::ShortCut:
      return std::to_string(doubt.parts) + " tracks need a cut at a silence of " +
             Seconds(doubt.frames, rate) + " at " + Place(doubt.at, rate) +
             ", far shorter than the others (typically " + Seconds(doubt.typical, rate) +
             "): the recording may hold fewer tracks; check them with `list -f html` before "
             "splitting";
    case split::Doubt::Kind::ShortTrack:
      return std::to_string(doubt.parts) + " tracks make one of " + Seconds(doubt.frames, rate) +
             " at " + Place(doubt.at, rate) + ", far shorter than the others (typically " +
             Minutes(detect::Seconds(doubt.typical, rate)) +
             "): the recording may hold fewer tracks; check them with `list -f html` before "
             "splitting";
  }
  return {};
}

}  // namespace

bool ReadTrackList(Job& job, split::TrackList& list) {
  const Options& options = job.options;
  if (options.names.empty()) return true;
  std::string text;
  wave::Error error = split::ReadListFile(options.names, "a track list", text);
  if (!error) {
    error = split::ParseTrackList(text, options.files.empty() ? "" : options.files.front(), list);
  }
  if (error) job.RefuseRun(options.names == "-" ? "stdin" : options.names, error);
  return !error;
}

split::Request RequestFor(const Options& options, const split::TrackList& list,
                          const std::string& path, const std::string& extension) {
  split::Request request;
  request.detect = options.Detection();
  request.minPart = options.minPart;
  request.padBefore = options.padBefore;
  request.padAfter = options.padAfter;
  request.tracks = options.tracks;
  request.floorDb = options.FloorDb();
  request.titles = split::TitlesOf(list, {options.artist, options.album, options.date});
  request.anchors = list.Anchors();
  request.listSeconds = list.Total();
  request.titlesFrames = list.frames;
  request.titlesRate = list.rate;
  request.path = path;
  request.extension = extension;
  return request;
}

wave::Error Worded(const wave::Error& error, const Options& options, const split::Request& request,
                   const split::Found& found) {
  if (error == wave::ErrorCode::TitlesMismatch)
    return {error.code, TitleMismatch(request.titles.size(), found.parts.size())};
  if (error != wave::ErrorCode::TracksNotFound) return error;
  const int wanted = request.tracks && *request.tracks > 0
                         ? *request.tracks
                         : static_cast<int>(request.titles.size());
  const int most = found.choice ? found.choice->mostParts : 0;
  std::string why = "cannot be parted into " + std::to_string(wanted) +
                    (wanted == 1 ? " track: " : " tracks: ");
  if (most == 0) {
    why += request.floorDb ? "nothing in it is louder than the noise floor"
                           : "there is no sound in it";
  } else {
    why += "at most " + std::to_string(most) + (most == 1 ? " part" : " parts") +
           (request.floorDb ? " at this noise floor" : " at any noise floor");
    why += options.minPart > 0 ? " with parts of --min-part or longer"
                               : " with parts of a second or longer";
  }
  return {error.code, why};
}

wave::Error Find(Job& job, const std::string& file, wave::Source& source,
                 const split::Request& request, detect::Progress& progress, split::Found& found,
                 const split::PartSink& sink) {
  const wave::Error error = split::FindParts(source, request, progress, found, sink);
  if (found.fragile) {
    const split::Fragility& fragile = *found.fragile;
    const std::int64_t rate = source.Info().rate;
    job.console.Report(
        file, "warning: the choice of tracks is fragile: the silence at " +
                  Place(fragile.runnerUpStart, rate) + " (" +
                  Seconds(fragile.runnerUpLength, rate) +
                  (fragile.runnerUpLength >= fragile.chosenLength
                       ? ") is as long as the one chosen at "
                       : ") is nearly as long as the one chosen at ") +
                  Place(fragile.chosenStart, rate) + " (" + Seconds(fragile.chosenLength, rate) +
                  "); check the tracks with list before splitting");
  }
  for (const batch::ListMisfit& misfit : found.misfits)
    job.console.Report(file, "warning: " + Misfit(misfit, request));
  if (found.anchored) {
    job.console.Note(file, "the tracks are parted at the silences the track list's times point "
                             "to, not at the clearest ones");
  }
  if (found.doubt) job.console.Report(file, "warning: " + Doubted(*found.doubt, source.Info()));
  return Worded(error, job.options, request, found);
}

std::string GapLengths(const std::vector<detect::PartSpan>& parts, std::int64_t rate) {
  std::string text;
  for (std::size_t k = 1; k < parts.size(); ++k) {
    if (k > 1) text += ", ";
    text += Seconds(parts[k].start - parts[k - 1].end, rate);
  }
  return text;
}

}  // namespace corvella::cli
