// The ID3v2 tag at the start of an MP3: its frames walked field by field,
// carried into a part's tag, and its names read for parts encoded anew.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "wave/FileApi.h"
#include "wave/Tags.h"

namespace corvella::mp3 {

using Bytes = std::vector<std::uint8_t>;

// A size in four seven-bit bytes, as ID3v2.4 writes it.
void PutSyncSafe(Bytes& out, std::uint32_t v);

// The first tag of the open file `fd` (whole, from "ID3"), read as far as
// its size says and no further than `tagBytes`; empty where there is none.
Bytes FirstId3v2Tag(wave::FileApi& files, int fd, std::int64_t tagBytes);

// Calls `frame` with each frame of an ID3v2.3 or 2.4 tag: its id, its
// bytes, and whether they are compressed or encrypted (not to be read). A
// tag unsynchronised as a whole, or of version 2.2, gives none.
void ForEachId3Frame(const Bytes& tag,
                     const std::function<void(const std::string& id, const std::uint8_t* data,
                                              std::size_t size, bool packed)>& frame);

// The frames of `tag` as ID3v2.4 frames (sizes in seven-bit bytes, flags
// dropped), leaving out those named in `replaced` and packed ones.
Bytes Id3v24Frames(const Bytes& tag, const std::vector<std::string>& replaced);

// The artist, album, date, genre and comment the tag names, in UTF-8.
wave::Tags Id3Tags(const Bytes& tag);

}  // namespace corvella::mp3
