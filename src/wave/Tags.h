// The tags a part may carry over from its recording, as the recording holds
// them (Vorbis comments in UTF-8; a WAV file's LIST-INFO in whatever
// character set its writer used).
#pragma once

#include <cstdint>
#include <string>

#include "wave/FileApi.h"

namespace corvella::wave {

struct Tags {
  std::string artist, album, date, genre, comment;
};

// What a track list gives one part: its title and the side's names (UTF-8),
// and its place among the parts.
struct TrackTags {
  std::string title, artist, album, date;
  int number = 0, count = 0;
  std::string genre, comment;  // the recording's, where a format carries them
};

// Where what follows the ID3v2 tags at the start of the open file `fd`
// begins: past each tag, one after another (taggers sometimes leave two),
// up to a bound; 0 when the file does not begin with one.
std::int64_t PastId3v2Tags(FileApi& files, int fd);

}  // namespace corvella::wave
