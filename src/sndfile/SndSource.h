// Recordings in the containers libsndfile reads: AIFF and AIFC, CAF (PCM,
// float, ALAC), and the lossy Ogg Vorbis, Opus and MP3. Read through the
// same file seam as WAV; an AIFF file's sound data are judged against the
// file's length as a WAV file's data chunk is.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wave/Error.h"
#include "wave/FileApi.h"
#include "wave/Source.h"
#include "wave/Tags.h"

namespace corvella::sndfile {

// libsndfile's reads and writes over a file of ours: the FileApi seam for
// sources, a part under way for writes. Positions start `base` bytes in.
struct VirtualFile {
  wave::FileApi* files = nullptr;
  int fd = -1;
  std::int64_t base = 0;
  std::int64_t position = 0;
  std::int64_t length = 0;  // for writes: how far the file reaches
  bool failed = false;
  int failure = 0;  // the errno of the first failed write
  static SF_VIRTUAL_IO* Calls();
};

struct SndOpenOptions {
  // Read an AIFF file whose sound data run past the end of the file up to
  // its last whole frame, instead of refusing it.
  bool salvage = false;
};

class SndSource final : public wave::Source {
 public:
  ~SndSource() override;

  // Integer samples come widened to 32 bits (their own width in Info().bits),
  // float and lossy ones as doubles.
  std::int64_t ReadSamples(std::int64_t offset, void* out, std::int64_t count) override;
  bool Sequential() const override { return true; }
  std::unique_ptr<wave::Source> Fork() override;

  // libsndfile's format word: container and encoding.
  int Format() const { return sfInfo_.format; }
  bool Lossy() const;
  const wave::Tags& tags() const { return tags_; }
  wave::FileId Id() { return file_.files->IdOf(file_.fd); }

 private:
  friend struct SndOpener;
  // Decodes from `frame` on into the cache; false at the end or on failure.
  bool Refill(std::int64_t frame);

  std::shared_ptr<int> descriptor_;  // the open file, closed by the last reader
  VirtualFile file_;
  SNDFILE* sf_ = nullptr;
  SF_INFO sfInfo_{};
  wave::Tags tags_;
  std::vector<std::uint8_t> cache_;
  std::int64_t cacheFirst_ = 0;
  std::int64_t cacheFrames_ = 0;
  std::int64_t decoderAt_ = 0;  // the next frame the decoder gives
};

struct OpenedSnd {
  std::unique_ptr<SndSource> source;
  wave::Error error;
};

// Opens a recording in one of the containers above, held with exclusive
// access while open. `container` is what the file's first bytes say it is
// ("AIFF", "CAF", ...), for the refusal when libsndfile cannot read it.
OpenedSnd OpenSnd(wave::FileApi& files, const std::string& path, const std::string& container,
                  const SndOpenOptions& options = {});

// "AIFF", "CAF", ...: a container's name.
std::string ContainerName(int format);

}  // namespace corvella::sndfile
