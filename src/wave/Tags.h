// The tags a part may carry over from its recording, as the recording holds
// them (Vorbis comments in UTF-8; a WAV file's LIST-INFO in whatever
// character set its writer used).
#pragma once

#include <string>

namespace corvella::wave {

struct Tags {
  std::string artist, album, date, genre, comment;
};

}  // namespace corvella::wave
