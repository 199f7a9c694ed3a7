// The names of a side's tracks, as a user has them: typed from the sleeve
// one title a line, a cue sheet, or a listing's JSON with the names edited.
#pragma once

#include <string>
#include <vector>

namespace corvella::cli {

struct TrackTitle {
  std::string title;
  std::string artist;  // the track's own performer, where the list names one
};

struct TrackNames {
  std::vector<TrackTitle> tracks;
  // The side's, from header lines ("Artist: ...") or the cue sheet's.
  std::string artist, album, date;
};

// Reads a track list, its kind recognised from the content: JSON (as a
// listing writes it), a cue sheet, or plain text. Plain text takes one
// title a line; blank lines are skipped, and a track number before a title
// ("1. ", "01 - ", "A1 ", or "7 " on the seventh title) is left out; lines
// "Artist:", "Album:" and "Date:" (or "Year:") before the first title give
// the side's. A cue sheet gives its tracks' TITLE and PERFORMER, the
// side's from before the first track, and REM DATE. JSON takes each part's
// "title", or else its output's name without the extension; where it lists
// several recordings, the one whose "file" has `file`'s name. The text must
// be UTF-8. Returns "" or why the list cannot be used, with the line where
// that showed.
std::string ParseTrackNames(const std::string& text, const std::string& file, TrackNames& names);

}  // namespace corvella::cli
