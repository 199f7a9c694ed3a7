// Recordings in the containers libsndfile reads: FLAC, AIFF and AIFC,
// Sony Wave64, CAF (PCM, float, ALAC), and the lossy Ogg Vorbis, Opus and
// MP3. Detected by their content, read through the same file seam as WAV.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wave/Error.h"
#include "wave/FileApi.h"
#include "wave/Source.h"
#include "wave/WaveSource.h"

namespace corvella::sndfile {

// Tags a part may carry over.
struct Tags {
  std::string artist, album, date, genre, comment;
};

// libsndfile's reads and writes over a file of ours: the FileApi seam for
// sources, a part under way for writes. Positions start `base` bytes in.
struct VirtualFile {
  wave::FileApi* files = nullptr;
  int fd = -1;
  std::int64_t base = 0;
  std::int64_t position = 0;
  std::int64_t length = 0;  // for writes: how far the file reaches
  bool failed = false;
  static SF_VIRTUAL_IO* Calls();
};

class SndSource final : public wave::Source {
 public:
  ~SndSource() override;

  // Integer samples come widened to 32 bits (their own width in Info().bits),
  // float and lossy ones as doubles.
  std::int64_t ReadSamples(std::int64_t offset, void* out, std::int64_t count) override;
  bool Sequential() const override { return true; }

  // libsndfile's format word: container and encoding.
  int Format() const { return sfInfo_.format; }
  bool Lossy() const;
  const Tags& tags() const { return tags_; }
  wave::FileId Id() { return file_.files->IdOf(file_.fd); }

 private:
  friend struct SndOpener;
  // Decodes from `frame` on into the cache; false at the end or on failure.
  bool Refill(std::int64_t frame);

  VirtualFile file_;
  SNDFILE* sf_ = nullptr;
  SF_INFO sfInfo_{};
  Tags tags_;
  std::vector<std::uint8_t> cache_;
  std::int64_t cacheFirst_ = 0;
  std::int64_t cacheFrames_ = 0;
  std::int64_t decoderAt_ = 0;  // the next frame the decoder gives
};

struct OpenedSnd {
  std::unique_ptr<SndSource> source;
  wave::Error error;
};

// Whether the file's first bytes name a RIFF, RF64 or BW64 WAVE file: those
// are Corvella's own to read.
bool LooksLikeWave(wave::FileApi& files, const std::string& path);

// The tags of a WAV file's LIST-INFO chunk (IART, IPRD, ICRD, IGNR, ICMT),
// as the file holds them: in whatever character set its writer used.
Tags TagsOfWave(wave::WaveSource& source);

// Opens a recording in one of the containers above, held with exclusive
// access while open.
OpenedSnd OpenSnd(wave::FileApi& files, const std::string& path);

// "FLAC", "AIFF", ...: a container's name.
std::string ContainerName(int format);

}  // namespace corvella::sndfile
