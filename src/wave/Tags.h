// The tags a part may carry over from its recording, as the recording holds
// them (Vorbis comments in UTF-8; a WAV file's LIST-INFO in whatever
// character set its writer used).
#pragma once

#include <string>

namespace corvella::wave {

struct Tags {
  std::string artist, album, date, genre, comment;
};

// What a track list gives one part: its title and the side's names (UTF-8),
// and its place among the parts.
struct TrackTags {
  std::string title, artist, album, date;
  int number = 0, count = 0;
};

}  // namespace corvella::wave
