#include "cli/Tracks.h"

#include "cli/CutList.h"
#include "cli/Text.h"
#include "detect/Levels.h"
#include "detect/Units.h"

namespace corvella::cli {
namespace {

// Seconds.
constexpr double kShortestTrack = 1.0;

std::string Seconds(std::int64_t frames, std::int64_t rate) {
  return Fixed(detect::Seconds(frames, rate), 2) + " s";
}

std::string Place(std::int64_t frame, std::int64_t rate) {
  return Clock(detect::Seconds(frame, rate));
}

}  // namespace

bool ReadTrackNames(Job& job, TrackNames& names) {
  const Options& options = job.options;
  if (options.names.empty()) return true;
  std::string text;
  std::string error = ReadListFile(options.names, "a track list", text);
  if (error.empty()) {
    error = ParseTrackNames(text, options.files.empty() ? "" : options.files.front(), names);
  }
  if (!error.empty()) job.console.Report(options.names == "-" ? "stdin" : options.names, error);
  return error.empty();
}

int TracksWanted(const Options& options, const TrackNames& names) {
  return options.tracks && *options.tracks > 0 ? *options.tracks
                                               : static_cast<int>(names.tracks.size());
}

bool FindTracks(Job& job, const std::string& file, wave::Source& source, detect::Progress& progress,
                int wanted, FoundTracks& found, std::string& refusal,
                std::vector<double>* columns) {
  const wave::SourceInfo& info = source.Info();
  const Options& options = job.options;
  batch::TrackRequest request;
  request.tracks = wanted;
  request.floorDb = options.FloorDb();
  found.survey.emplace(info, detect::GapFrames(options.Detection().gapThreshold, info.rate),
                       request.floorDb);
  wave::Error error;
  if (columns) {
    std::vector<detect::PartSpan> none;
    error = detect::MeasureAll(
        source, progress, *columns, found.survey->WindowFrames(),
        [&](double peak, std::int64_t) { found.survey->Add(peak); },
        [](detect::PartSpan&) { return false; }, none);
    if (!error) found.survey->Finish();
  } else {
    error = batch::SurveyWindows(source, progress, *found.survey);
  }
  // A track lasts a second at least: a click or a breath in the noise
  // is none, whatever the floor.
  request.minFrames =
      detect::FramesFromSeconds(options.minPart > 0 ? options.minPart : kShortestTrack, info.rate);
  if (!error) error = batch::FindTracks(source, *found.survey, request, found.tracks);
  if (error == wave::ErrorCode::UnableToRead) error = Job::ReadFailure(source);
  if (error) {
    if (error != wave::ErrorCode::Stopped) {
      job.console.Report(file, error);
      refusal = wave::MessageOf(error);
    }
    return false;
  }
  const detect::TrackChoice& choice = found.tracks.choice;
  if (!choice.found) {
    std::string why = "cannot be parted into " + std::to_string(wanted) +
                      (wanted == 1 ? " track: " : " tracks: ");
    if (choice.mostParts == 0) {
      why += request.floorDb ? "nothing in it is louder than the noise floor"
                             : "there is no sound in it";
    } else {
      why += "at most " + std::to_string(choice.mostParts) +
             (choice.mostParts == 1 ? " part" : " parts") +
             (request.floorDb ? " at this noise floor" : " at any noise floor");
      why += options.minPart > 0 ? " with parts of --min-part or longer"
                                 : " with parts of a second or longer";
    }
    job.console.Report(file, why);
    refusal = why;
    return false;
  }
  if (choice.Fragile()) {
    // The shortest silence taken, and the longest one left.
    const auto& parts = found.tracks.parts;
    std::size_t shortest = 0;
    for (std::size_t k = 1; k + 1 < parts.size(); ++k) {
      if (parts[k + 1].start - parts[k].end < parts[shortest + 1].start - parts[shortest].end)
        shortest = k;
    }
    const std::int64_t window = found.survey->WindowFrames();
    job.console.Report(
        file,
        "warning: the choice of tracks is fragile: the silence at " +
            Place(choice.runnerUp->first * window, info.rate) + " (" +
            Seconds(choice.runnerUp->windows * window, info.rate) +
            (choice.runnerUp->windows * window >= parts[shortest + 1].start - parts[shortest].end
                 ? ") is as long as the one chosen at "
                 : ") is nearly as long as the one chosen at ") +
            Place(parts[shortest].end, info.rate) + " (" +
            Seconds(parts[shortest + 1].start - parts[shortest].end, info.rate) +
            "); check the tracks with list before splitting");
  }
  return true;
}

std::string GapLengths(const std::vector<detect::PartSpan>& parts, std::int64_t rate) {
  std::string text;
  for (std::size_t k = 1; k < parts.size(); ++k) {
    if (k > 1) text += ", ";
    text += Seconds(parts[k].start - parts[k - 1].end, rate);
  }
  return text;
}

std::string TitleMismatch(std::size_t titles, std::size_t parts) {
  if (titles == parts) return "";
  return "the track list has " + std::to_string(titles) + (titles == 1 ? " title" : " titles") +
         " and the recording " + std::to_string(parts) + (parts == 1 ? " part" : " parts") +
         " (--tracks finds as many tracks as there are titles)";
}

std::vector<PartNames> NamesOfParts(const Options& options, const TrackNames& names) {
  std::vector<PartNames> parts;
  for (const TrackTitle& track : names.tracks) {
    PartNames part;
    part.title = track.title;
    part.artist = options.artist          ? *options.artist
                  : !track.artist.empty() ? track.artist
                                          : names.artist;
    part.album = options.album.value_or(names.album);
    part.date = options.date.value_or(names.date);
    parts.push_back(std::move(part));
  }
  return parts;
}

}  // namespace corvella::cli
