// FLAC recordings through libFLAC: every valid stream (4 to 32 bits, 1 to 8
// channels, any rate, fixed or variable block sizes, with or without a
// length), read whole and right or refused. The length is settled when the
// file is opened (from STREAMINFO, confirmed at the stream's end, or by
// counting when the header gives none or the wrong one); every frame is
// checked as it is decoded (CRC, numbering, a shape that stays the same, the
// sample width), and the MD5 signature once a pass has decoded the whole
// stream from its start.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wave/Error.h"
#include "wave/FileApi.h"
#include "wave/Source.h"
#include "wave/Tags.h"

namespace corvella::flac {

struct FlacOpenOptions {
  // Read a stream that ends before its header says (cut off in a copy, or
  // left by a recorder that stopped) up to its last whole frame.
  bool salvage = false;
};

class FlacDecoder;
struct FlacShared;

class FlacSource final : public wave::Source {
 public:
  ~FlacSource() override;

  // Integer samples of any width, delivered as 32-bit ones with each b-bit
  // value shifted to the top. A read that meets damage fails, with Failure()
  // saying what and where.
  std::int64_t ReadSamples(std::int64_t offset, void* out, std::int64_t count) override;
  bool Sequential() const override { return true; }
  std::unique_ptr<wave::Source> Fork() override;
  bool WholeInDoubt() const override { return signatureFailed_; }

  const wave::Tags& tags() const { return tags_; }
  wave::FileId Id();

 private:
  friend struct FlacOpener;
  FlacSource();
  // Makes frame `frame` one of the cache's; false after a failure.
  bool Bring(std::int64_t frame);
  // Goes to the nearest known frame start at or before `frame`.
  bool Reposition(std::int64_t frame);
  // Decodes one more frame into the cache.
  bool Step();
  // Once a pass from the start has decoded the last frame: the stream ends
  // there, and its MD5 signature matches.
  bool VerifyEnd();
  bool StartDecoder(bool md5);

  std::shared_ptr<FlacShared> shared_;
  std::unique_ptr<FlacDecoder> decoder_;
  wave::Tags tags_;
  // Decoded samples of frames [cacheFirst_, cacheFirst_ + frames), interleaved.
  std::vector<std::int32_t> cache_;
  std::int64_t cacheFirst_ = 0;
  std::int64_t next_ = 0;   // the frame the decoder gives next
  bool fromStart_ = false;  // decoding on from the first frame, with MD5 checking
  std::int64_t keep_ = 0;   // frames kept behind the latest read
  bool signatureFailed_ = false;
};

struct OpenedFlac {
  std::unique_ptr<FlacSource> source;  // null when refused
  wave::Error error;
};

// Opens the FLAC recording at `path`, held with exclusive access while open.
OpenedFlac OpenFlac(wave::FileApi& files, const std::string& path,
                    const FlacOpenOptions& options = {});

}  // namespace corvella::flac
