// The names of a side's tracks, as a user has them: typed from the sleeve
// one title a line, a cue sheet, or a listing's JSON with the names edited.
#pragma once

#include <string>
#include <vector>

#include <cstdint>
#include <optional>

#include "wave/Error.h"
#include "wave/Source.h"
#include "wave/Tags.h"

namespace corvella::split {

struct TrackTitle {
  std::string title;
  std::string artist;  // the track's own performer, where the list names one
  // Where a cue sheet's INDEX 01 puts the track, in 1/75 s.
  std::optional<std::int64_t> cueStart;
  // How long a list typed from a sleeve says the track lasts ("3:05"), in
  // seconds; where a listing's JSON puts it, in frames of its rate.
  std::optional<double> seconds;
  std::optional<std::int64_t> startFrame;
};

struct TrackList {
  std::vector<TrackTitle> tracks;
  // The side's, from header lines ("Artist: ...") or the cue sheet's.
  std::string artist, album, date;
  // The recording a listing's JSON was made from: its length and rate.
  std::optional<std::int64_t> frames, rate;

  // Where the list expects each track after the first to begin, in seconds
  // from the first one's beginning: from the durations of every track
  // before it, or from the starts a cue sheet or listing gives. Empty where
  // the list does not say for every track.
  std::vector<double> Anchors() const;
  // The durations of all the tracks together, where each has one.
  std::optional<double> Total() const;
};

// Reads a track list, its kind recognised from the content: JSON (as a
// listing writes it), a cue sheet, or plain text. Plain text takes one
// title a line; blank lines are skipped, and a track number before a title
// ("1. ", "01 - ", "A1 ", or "7 " on the seventh title) is left out, and so
// is a duration ("Title (3:05)", "Title [3:05]"; "Title 3:05" and "3:05
// Title" where every title has one); columns parted by tabs are read as
// side or number, title, duration and artist, in any order; lines
// "Artist:", "Album:" and "Date:" (or "Year:") before the first title give
// the side's. A cue sheet gives its tracks' TITLE and PERFORMER, the
// side's from before the first track, and REM DATE. JSON takes each part's
// "title", or else its output's name without the extension; where it lists
// several recordings, the one whose "file" has `file`'s name. The text must
// be UTF-8. Refused with why the list cannot be used, with the line where
// that showed.
wave::Error ParseTrackList(const std::string& text, const std::string& file, TrackList& list);

// Whether a listing's JSON was made from a recording of this length and
// rate: refused, saying both, where it says it was not.
wave::Error CheckListFits(const TrackList& list, const wave::SourceInfo& info);

// Tags the user gives for every part of the side, before the list's own.
struct SideTags {
  std::optional<std::string> artist, album, date;
};

// Each part's title and tags, one a title: the artist given, else the
// track's own performer, else the side's; the album and date given, else
// the side's.
std::vector<wave::TrackTags> TitlesOf(const TrackList& list, const SideTags& given);

}  // namespace corvella::split
