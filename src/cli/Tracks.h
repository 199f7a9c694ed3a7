// What the commands share for --tracks and --names: the track list read
// once, a recording's tracks found and reported in the command line's words.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "batch/Analysis.h"
#include "cli/Job.h"
#include "cli/TrackNames.h"

namespace corvella::cli {

// The track list of --names (none without it), read once for the run;
// false after saying why it cannot be used ("corvella-cli: LIST: why").
bool ReadTrackNames(Job& job, TrackNames& names);

// The number of tracks asked for: --tracks N, or the titles' count.
int TracksWanted(const Options& options, const TrackNames& names);

// A recording's tracks as --tracks finds them, from its survey.
struct FoundTracks {
  std::optional<batch::WindowSurvey> survey;
  batch::Tracks tracks;
};

// Surveys `source` and finds its tracks; with `columns`, measures a
// picture's columns in the same pass. Reports why not and returns false
// with `refusal` set: the samples could not be read, or the recording does
// not give that many tracks ("at most M parts"); `refusal` stays empty when
// the run was stopped. Warns on stderr when the choice is fragile.
bool FindTracks(Job& job, const std::string& file, wave::Source& source, detect::Progress& progress,
                int wanted, FoundTracks& found, std::string& refusal,
                std::vector<double>* columns = nullptr);

// "2.31 s, 1.80 s, 3.02 s": the silences between the tracks.
std::string GapLengths(const std::vector<detect::PartSpan>& parts, std::int64_t rate);

// Why a recording's parts cannot take the titles: the counts differ; "" when
// they can.
std::string TitleMismatch(std::size_t titles, std::size_t parts);

// Each part's title and tags from the list and the options (--artist, ...
// before the list's own).
struct PartNames {
  std::string title, artist, album, date;
};
std::vector<PartNames> NamesOfParts(const Options& options, const TrackNames& names);

}  // namespace corvella::cli
