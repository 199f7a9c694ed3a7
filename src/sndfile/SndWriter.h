// Writing parts through libsndfile: in the source's own container and
// encoding (AIFF stays AIFF, CAF stays CAF), or as WAV when asked. The same
// safety as every part: the file takes its name only when complete, and an
// older file of that name is kept on any failure.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sndfile/SndSource.h"
#include "wave/PartWriter.h"
#include "wave/Source.h"
#include "wave/Tags.h"

namespace corvella::sndfile {

struct SndWriteOptions {
  int format = 0;  // libsndfile's format word for the part
  bool mono = false;
  wave::KeptFiles* keep = nullptr;
  std::function<bool()> stopRequested;
  // A track's names, as the format keeps them (a WAV part's LIST-INFO,
  // an Opus part's comments).
  std::optional<wave::TrackTags> track;
  // Bytes the file begins with, before what libsndfile writes (an MP3
  // part's ID3v2 tag).
  std::vector<std::uint8_t> prefix;
  // An encoder's setting: a variable bitrate of this quality (0 best to 9),
  // or a constant bitrate in kbit/s; 0 for neither (its own default).
  std::optional<int> quality;
  int bitrate = 0;
};

// The format word of a plain WAV part of `info`: its samples' own width
// (8-bit unsigned, as WAV keeps them; float of the recording's size), and a
// lossy recording's decoded samples as 32-bit float.
int WaveFormatFor(const wave::SourceInfo& info, bool lossy);

// Writes frames [start, end) of `source` as `name` in `folder`.
wave::Error WritePart(wave::Source& source, std::int64_t start, std::int64_t end,
                      wave::Folder& folder, const std::string& name, const SndWriteOptions& options,
                      wave::FileId* written = nullptr);

}  // namespace corvella::sndfile
