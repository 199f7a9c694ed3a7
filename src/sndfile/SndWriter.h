// Writing parts through libsndfile: in the source's own container and
// encoding (FLAC stays FLAC, AIFF stays AIFF, ...), or as FLAC or WAV when
// asked. The same safety as WAV parts: the file takes its name only when
// complete, and an older file of that name is kept on any failure.
#pragma once

#include <functional>
#include <string>

#include "sndfile/SndSource.h"
#include "wave/PartWriter.h"
#include "wave/Source.h"

namespace corvella::sndfile {

struct SndWriteOptions {
  int format = 0;  // libsndfile's format word for the part
  bool mono = false;
  const wave::KeptFiles* keep = nullptr;
  std::function<bool()> stopRequested;
  // FLAC parts are tagged: TITLE, TRACKNUMBER, TRACKTOTAL, and the source's
  // ARTIST, ALBUM, DATE, GENRE and COMMENT where it has them.
  std::string title;
  int track = 0;
  int tracks = 0;
  Tags tags;
};

// The format a part of a source takes: `target` "flac" or "wav", or "" for
// the source's own (`sourceFormat`, 0 for a WAV source). Unsupported, saying
// why, when the samples cannot go there: float samples into FLAC, samples
// of more than 24 bits into FLAC, a lossy recording back into itself.
wave::Error PartFormat(const wave::SourceInfo& info, int sourceFormat, bool lossy,
                       const std::string& target, int& format);

// Writes frames [start, end) of `source` as `name` in `folder`.
wave::Error WritePart(wave::Source& source, std::int64_t start, std::int64_t end,
                      wave::Folder& folder, const std::string& name, const SndWriteOptions& options,
                      wave::FileId* written = nullptr);

}  // namespace corvella::sndfile
