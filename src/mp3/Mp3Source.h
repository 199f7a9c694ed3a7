// MPEG audio recordings (MP3, MP2) through libmpg123, decoded to 16-bit
// samples as their decoders write them by default. The frames are found and
// checked when the file is opened (lost sync, a frame cut short, a header
// that changes the stream are refused with where); the encoder's delay and
// padding from a LAME header are trimmed, so sample numbers are those of
// the recording that was encoded. Any frame can be reached: decoding starts
// a few frames before it, early enough that its samples are exactly those a
// decode of the whole stream gives.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mp3/Frames.h"
#include "wave/Error.h"
#include "wave/FileApi.h"
#include "wave/RunsAhead.h"
#include "wave/Source.h"
#include "wave/Tags.h"

namespace corvella::mp3 {

struct Mp3Shared;
class Mp3Decoder;
struct DecodedRun;

class Mp3Source final : public wave::Source {
 public:
  ~Mp3Source() override;

  // Samples as 32-bit integers, each 16-bit value shifted to the top.
  std::int64_t ReadSamples(std::int64_t offset, void* out, std::int64_t count) override;
  bool Sequential() const override { return true; }
  std::unique_ptr<wave::Source> Fork() override;

  const FrameIndex& Frames() const;
  wave::FileApi& Files() const;
  int Descriptor() const;
  wave::FileId Id();
  // The names its ID3v2 tag gives (artist, album, date, genre, comment).
  const wave::Tags& tags() const { return tags_; }

 private:
  friend struct Mp3Opener;
  Mp3Source();
  // Decodes so that decoded sample `position` is in the cache.
  bool Bring(std::int64_t position);
  bool Restart(std::int64_t frame);

  std::shared_ptr<Mp3Shared> shared_;
  wave::Tags tags_;
  std::unique_ptr<Mp3Decoder> decoder_;
  using RunsAhead = wave::RunsAhead<DecodedRun>;
  using RunMemory = wave::Recycled<std::vector<std::int16_t>>;
  std::unique_ptr<RunsAhead> ahead_;
  std::shared_ptr<RunMemory> memory_;  // runs' memory, reused
  bool forked_ = false;  // a second reader: parts, read from anywhere
  // Decoded samples from decoded position cacheFirst_, interleaved, 16-bit.
  std::vector<std::int16_t> cache_;
  std::size_t cacheAt_ = 0;  // where in cache_ the sample at cacheFirst_ is
  std::int64_t cacheFirst_ = 0;
  std::int64_t next_ = 0;       // the frame fed next
  std::int64_t usable_ = 0;     // the first frame decoded exactly
};

struct Mp3OpenOptions {
  // Skip damage (lost sync, a frame cut short) instead of refusing the file,
  // saying where and how much.
  bool salvage = false;
};

struct OpenedMp3 {
  std::unique_ptr<Mp3Source> source;  // null when refused
  wave::Error error;
};

OpenedMp3 OpenMp3(wave::FileApi& files, const std::string& path, const Mp3OpenOptions& options = {});

// "MP3", "MP2" or "MP1": what a stream of frames like `header` is called.
std::string ContainerOf(const FrameHeader& header);

}  // namespace corvella::mp3
