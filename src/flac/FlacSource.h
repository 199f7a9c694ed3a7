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
#include "wave/RunsAhead.h"
#include "wave/Source.h"
#include "wave/Tags.h"

namespace corvella::flac {

struct FlacOpenOptions {
  // Read a stream that ends before its header says (cut off in a copy, or
  // left by a recorder that stopped) up to its last whole frame.
  bool salvage = false;
};

class FlacDecoder;
class Md5;
struct FlacShared;
struct DecodedChunk;
class HashBehind;

// Where a frame begins: its first frame of audio and its first byte.
struct SeekPoint {
  std::int64_t frame = 0;
  std::int64_t byte = 0;
  bool operator==(const SeekPoint&) const = default;
};

// Interleaved samples with room at the front: what lies behind is dropped,
// and a decoded stretch taken over with what is kept before it, copying
// little. Its memory is kept for reuse.
class SampleBuffer {
 public:
  const std::int32_t* Data() const { return data_.data() + head_; }
  std::size_t Size() const { return used_; }
  // As a vector names it, for the memory kept for reuse.
  std::size_t capacity() const { return data_.size(); }
  // Room for `count` more samples at the end, now counted in.
  std::int32_t* Extend(std::size_t count);
  void DropFront(std::size_t count);
  void Truncate(std::size_t size);
  // Empty, with room for `count` samples to be put before what comes.
  void Clear(std::size_t room = 0, std::size_t expected = 0);
  // Puts samples before the first; false where there is no room for them.
  bool Prepend(const std::int32_t* samples, std::size_t count);

 private:
  std::vector<std::int32_t> data_;
  std::size_t head_ = 0;
  std::size_t used_ = 0;
};

// The stream cut into stretches of about the same number of bytes, decoded
// on several cores. A stretch's frames are those from the first one that
// begins at or after its first byte (found by the frame sync and both CRCs)
// up to and including the first one that begins at or after the next
// stretch's first byte: so one stretch ends exactly where the next begins,
// which the reader checks.
struct ChunkPlan {
  std::int64_t first = 0;  // the first frame's byte
  std::int64_t bytes = 0;  // of a stretch
  std::int64_t chunks = 0;
  std::size_t usual = 0;  // samples a stretch decodes to on average
  std::size_t most = 0;   // samples a stretch is handed on in at most
  std::int64_t Begin(std::int64_t k) const { return first + k * bytes; }
};

class FlacSource final : public wave::Source {
 public:
  ~FlacSource() override;

  // Integer samples of any width, delivered as 32-bit ones with each b-bit
  // value shifted to the top. A read that meets damage fails, with Failure()
  // saying what and where.
  std::int64_t ReadSamples(std::int64_t offset, void* out, std::int64_t count) override;
  bool Sequential() const override { return true; }
  std::unique_ptr<wave::Source> Fork() override;
  bool WholeInDoubt() const override;

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
  // Read from the start, the stream is decoded in chunks on every core.
  void StartAhead();
  // Adds the next chunk decoded ahead to the cache. Where it holds damage,
  // the frames from there on are decoded one by one instead, to say what
  // and where.
  enum class Taken { Chunk, OneByOne, Failed };
  Taken TakeChunk();
  // Leaves the chunks: the decoder goes on from the end of the last one taken.
  bool OneByOne();
  std::int64_t CacheEnd() const;

  std::shared_ptr<FlacShared> shared_;
  std::unique_ptr<FlacDecoder> decoder_;
  wave::Tags tags_;
  // Decoded samples of frames [cacheFirst_, cacheFirst_ + frames), interleaved.
  SampleBuffer cache_;
  std::int64_t cacheFirst_ = 0;
  std::int64_t next_ = 0;   // the frame the decoder gives next
  std::int64_t frameByte_ = 0;  // where that frame begins
  bool fromStart_ = false;  // decoding on from the first frame, with MD5 checking
  std::unique_ptr<Md5> md5_;  // of what was decoded from the first frame on
  std::int64_t keep_ = 0;   // frames kept behind the latest read
  std::unique_ptr<wave::RunsAhead<DecodedChunk>> ahead_;
  std::int64_t chunk_ = 0;  // the chunk taken next
  SeekPoint join_;          // where it must begin: the end of the one before
  ChunkPlan plan_;
  bool rest_ = false;  // the stretch chunk_ goes on from join_, decoded here
  std::unique_ptr<FlacDecoder> own_;  // for what is decoded here
  using BufferPool = wave::Recycled<SampleBuffer>;
  std::shared_ptr<BufferPool> buffers_;  // stretches' memory, reused
  std::unique_ptr<HashBehind> hasher_;    // sums the stretches' signature
};

struct OpenedFlac {
  std::unique_ptr<FlacSource> source;  // null when refused
  wave::Error error;
};

// Opens the FLAC recording at `path`, held with exclusive access while open.
OpenedFlac OpenFlac(wave::FileApi& files, const std::string& path,
                    const FlacOpenOptions& options = {});

}  // namespace corvella::flac
