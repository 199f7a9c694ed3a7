#include "wave/Tags.h"

#include <cstring>

namespace corvella::wave {

std::int64_t PastId3v2Tags(FileApi& files, int fd) {
  // More tags one after another than any tagger writes.
  constexpr int kMostTags = 16;
  std::int64_t at = 0;
  std::uint8_t tag[10] = {};
  for (int tags = 0;
       tags < kMostTags && files.ReadAt(fd, tag, 10, at) == 10 && std::memcmp(tag, "ID3", 3) == 0;
       ++tags) {
    // The size in seven-bit bytes, and a footer of 10 bytes where flagged.
    at += 10 + ((tag[6] & 0x7F) << 21 | (tag[7] & 0x7F) << 14 | (tag[8] & 0x7F) << 7 |
                (tag[9] & 0x7F));
    if (tag[5] & 0x10) at += 10;
  }
  return at;
}

}  // namespace corvella::wave
