// MPEG audio parts made of the source's own frames, nothing re-encoded.
// A Layer III part begins with an Info (CBR) or Xing (VBR) frame whose LAME
// extension gives the encoder's delay and padding, so that a gapless
// decoder gives exactly the part's samples as they are in a decode of the
// whole recording: the frames the first ones need (the two before them and
// those holding their bit-reservoir data) come along and are skipped by the
// delay, and where the delay field cannot reach that far, a silent frame
// made for the purpose carries the reservoir bytes instead. Layer I and II
// parts are the whole frames holding the part, one more before it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mp3/Mp3Source.h"
#include "wave/Error.h"
#include "wave/PartWriter.h"
#include "wave/Tags.h"

namespace corvella::mp3 {

struct Mp3PartOptions {
  wave::KeptFiles* keep = nullptr;
  std::function<bool()> stopRequested;
  // An ID3v2.4 tag: the title, the track as n/N, artist, album, date,
  // genre and comment.
  std::string title;
  int track = 0, tracks = 0;
  wave::Tags tags;
  // Carry the frames of the source's ID3v2 tag (pictures and all) into the
  // part's, its own title, track and names in their place.
  bool keepTags = false;
};

// Writes frames of samples [start, end) of `source` as the file `name` in
// `folder`.
wave::Error WritePart(Mp3Source& source, std::int64_t start, std::int64_t end, wave::Folder& folder,
                      const std::string& name, const Mp3PartOptions& options,
                      wave::FileId* written = nullptr);

// The ID3v2.4 tag an MP3 part begins with (the title, the track as n/N or
// n where `tracks` is 0, artist, album, date, genre and comment, in
// UTF-8); empty when there is nothing to say. For encoded parts as for
// copied ones.
std::vector<std::uint8_t> Id3v24Tag(const Mp3PartOptions& options);

// The CRC-16 of the LAME extension (polynomial 0x8005, reflected, from 0).
std::uint16_t LameCrc(const std::uint8_t* bytes, std::size_t count, std::uint16_t crc = 0);

}  // namespace corvella::mp3
