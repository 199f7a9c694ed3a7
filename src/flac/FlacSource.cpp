#include "flac/FlacSource.h"

#include <FLAC/stream_decoder.h>

#include "flac/Md5.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <condition_variable>
#include <deque>
#include <optional>
#include <thread>
#include <utility>

namespace corvella::flac {
namespace {

// What STREAMINFO says the stream is.
struct Shape {
  int channels = 0;
  int bits = 0;
  std::uint32_t rate = 0;
  std::uint64_t total = 0;  // frames; 0 when not given
  bool md5 = false;         // the encoder stored an MD5 signature
  Md5::Digest signature{};
};


std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

const char* ErrorName(FLAC__StreamDecoderErrorStatus status) {
  switch (status) {
    case FLAC__STREAM_DECODER_ERROR_STATUS_LOST_SYNC:
      return "lost sync";
    case FLAC__STREAM_DECODER_ERROR_STATUS_BAD_HEADER:
      return "a damaged frame header";
    case FLAC__STREAM_DECODER_ERROR_STATUS_FRAME_CRC_MISMATCH:
      return "a bad frame CRC";
    case FLAC__STREAM_DECODER_ERROR_STATUS_UNPARSEABLE_STREAM:
      return "a frame that cannot be parsed";
    default:
      return "a damaged metadata block";
  }
}

std::string At(std::int64_t frame, std::int64_t byte) {
  return " at sample " + std::to_string(frame) + ", byte " + std::to_string(byte);
}

}  // namespace

// What every reader of one open file shares: the file, and the frame starts
// learned while decoding, so that a reader can go back to any frame.
struct FlacShared {
  wave::FileApi* files = nullptr;
  int fd = -1;
  std::int64_t start = 0;  // of the stream, past any ID3v2 tags
  std::int64_t length = 0;
  std::int64_t end = 0;    // the byte after the last frame
  Shape shape;
  std::mutex mutex;
  std::vector<SeekPoint> points;  // sorted, the first at frame 0
  std::int64_t first = 0;         // the first frame's byte
  // The MD5 signature was checked (or there is none), or found wrong, by
  // any reader of the file.
  std::atomic<bool> verified{false};
  std::atomic<bool> signatureFailed{false};
  ~FlacShared() {
    if (fd >= 0) files->Close(fd);
  }
  void AddPoint(std::int64_t frame, std::int64_t byte, std::int64_t spacing) {
    std::lock_guard lock(mutex);
    if (points.empty() || frame >= points.back().frame + spacing) points.push_back({frame, byte});
  }
  SeekPoint PointAtOrBefore(std::int64_t frame) {
    std::lock_guard lock(mutex);
    auto it = std::upper_bound(points.begin(), points.end(), frame,
                               [](std::int64_t f, const SeekPoint& p) { return f < p.frame; });
    return it == points.begin() ? SeekPoint{} : *(it - 1);
  }
};

// One libFLAC decoder over a file of ours, reading through the FileApi seam
// and handing each frame to `sink`.
class FlacDecoder {
 public:
  using Sink = std::function<bool(const FLAC__Frame&, const FLAC__int32* const*)>;

  // The stream begins at `start`, past any ID3v2 tags before it.
  FlacDecoder(wave::FileApi& files, int fd, std::int64_t start, std::int64_t length)
      : files_(files),
        fd_(fd),
        start_(start),
        length_(length),
        decoder_(FLAC__stream_decoder_new()) {}
  ~FlacDecoder() {
    if (decoder_) FLAC__stream_decoder_delete(decoder_);
  }
  FlacDecoder(const FlacDecoder&) = delete;
  FlacDecoder& operator=(const FlacDecoder&) = delete;

  // Starts at the beginning and reads the metadata; false when the stream
  // cannot be begun (`failure` says why).
  bool Start(bool md5) {
    if (!decoder_) {
      failure = "out of memory";
      return false;
    }
    if (FLAC__stream_decoder_get_state(decoder_) != FLAC__STREAM_DECODER_UNINITIALIZED)
      FLAC__stream_decoder_finish(decoder_);
    position_ = start_;
    ClearError();
    infoBlocks = 0;
    FLAC__stream_decoder_set_md5_checking(decoder_, md5);
    FLAC__stream_decoder_set_metadata_respond(decoder_, FLAC__METADATA_TYPE_VORBIS_COMMENT);
    if (FLAC__stream_decoder_init_stream(decoder_, Read, Seek, Tell, Length, Eof, Write, Metadata,
                                         Error, this) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
      failure = "libFLAC cannot start decoding";
      return false;
    }
    if (!FLAC__stream_decoder_process_until_end_of_metadata(decoder_) || error_ || !haveInfo ||
        infoBlocks > 1) {
      failure = error_            ? std::string(ErrorName(*error_)) + " in its metadata"
                : readErrno_ != 0 ? wave::ReasonOf(readErrno_)
                : infoBlocks > 1
                    ? "it has " + std::to_string(infoBlocks) +
                          " STREAMINFO blocks where a stream has one: which tells its shape is "
                          "unknown"
                    : "its STREAMINFO block is missing or damaged";
      return false;
    }
    return true;
  }

  // Decodes the next frame. False when the decoder met an error (Error()
  // then tells it) or could not go on.
  bool Step() {
    if (!FLAC__stream_decoder_process_single(decoder_)) return false;
    return !error_;
  }
  bool Ended() const {
    return FLAC__stream_decoder_get_state(decoder_) == FLAC__STREAM_DECODER_END_OF_STREAM;
  }
  bool Aborted() const {
    return FLAC__stream_decoder_get_state(decoder_) == FLAC__STREAM_DECODER_ABORTED;
  }
  // Forgets what was read ahead and goes on from `byte`, where a frame begins.
  bool Reposition(std::int64_t byte) {
    if (!FLAC__stream_decoder_flush(decoder_)) return false;
    position_ = byte;
    ClearError();
    return true;
  }
  // libFLAC's own search for a frame.
  bool SeekTo(std::uint64_t frame) {
    ClearError();
    return FLAC__stream_decoder_seek_absolute(decoder_, frame) != 0;
  }
  // Ends decoding: false when the MD5 signature did not match.
  bool Finish() { return FLAC__stream_decoder_finish(decoder_) != 0; }
  // The first byte not yet decoded: after a frame, in the sink, the next one's.
  std::int64_t Position() const {
    FLAC__uint64 at = 0;
    return FLAC__stream_decoder_get_decode_position(decoder_, &at) ? static_cast<std::int64_t>(at)
                                                                   : -1;
  }
  // The error the last step met.
  bool HadError() const { return error_.has_value(); }
  std::string ErrorText() const {
    if (readErrno_ != 0) return wave::ReasonOf(readErrno_);
    return error_ ? ErrorName(*error_) : "an error";
  }
  void ClearError() {
    error_.reset();
    lastError_.reset();
  }
  // Whether the frame being written is itself damaged, rather than found
  // after bytes that were not a frame (a search begun inside one).
  bool FrameDamaged() const {
    return lastError_ && *lastError_ != FLAC__STREAM_DECODER_ERROR_STATUS_LOST_SYNC &&
           *lastError_ != FLAC__STREAM_DECODER_ERROR_STATUS_BAD_HEADER;
  }

  Sink sink;
  Shape shape;
  bool haveInfo = false;
  int infoBlocks = 0;
  wave::Tags tags;
  std::uint32_t channelMask = 0;
  std::string failure;

 private:
  static FLAC__StreamDecoderReadStatus Read(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                            size_t* bytes, void* self) {
    auto* d = static_cast<FlacDecoder*>(self);
    const std::int64_t got =
        d->files_.ReadAt(d->fd_, buffer, static_cast<std::int64_t>(*bytes), d->position_);
    if (got < 0) {
      d->readErrno_ = errno != 0 ? errno : EIO;
      *bytes = 0;
      return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
    }
    *bytes = static_cast<size_t>(got);
    d->position_ += got;
    return got == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                    : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
  }
  static FLAC__StreamDecoderSeekStatus Seek(const FLAC__StreamDecoder*, FLAC__uint64 offset,
                                            void* self) {
    auto* d = static_cast<FlacDecoder*>(self);
    if (offset > static_cast<FLAC__uint64>(d->length_))
      return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    d->position_ = static_cast<std::int64_t>(offset);
    return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
  }
  static FLAC__StreamDecoderTellStatus Tell(const FLAC__StreamDecoder*, FLAC__uint64* offset,
                                            void* self) {
    *offset = static_cast<FLAC__uint64>(static_cast<FlacDecoder*>(self)->position_);
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
  }
  static FLAC__StreamDecoderLengthStatus Length(const FLAC__StreamDecoder*, FLAC__uint64* length,
                                                void* self) {
    *length = static_cast<FLAC__uint64>(static_cast<FlacDecoder*>(self)->length_);
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
  }
  static FLAC__bool Eof(const FLAC__StreamDecoder*, void* self) {
    auto* d = static_cast<FlacDecoder*>(self);
    return d->position_ >= d->length_;
  }
  static FLAC__StreamDecoderWriteStatus Write(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                              const FLAC__int32* const buffer[], void* self) {
    auto* d = static_cast<FlacDecoder*>(self);
    return !d->sink || d->sink(*frame, buffer) ? FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE
                                               : FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
  }
  static void Metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* block, void* self) {
    auto* d = static_cast<FlacDecoder*>(self);
    if (block->type == FLAC__METADATA_TYPE_STREAMINFO) {
      const FLAC__StreamMetadata_StreamInfo& info = block->data.stream_info;
      d->haveInfo = true;
      if (++d->infoBlocks > 1) return;  // the first one's shape is kept; the stream is refused
      d->shape.channels = static_cast<int>(info.channels);
      d->shape.bits = static_cast<int>(info.bits_per_sample);
      d->shape.rate = info.sample_rate;
      d->shape.total = info.total_samples;
      d->shape.md5 = std::any_of(info.md5sum, info.md5sum + 16, [](FLAC__byte b) { return b; });
      std::copy(info.md5sum, info.md5sum + 16, d->shape.signature.begin());
    } else if (block->type == FLAC__METADATA_TYPE_VORBIS_COMMENT) {
      const FLAC__StreamMetadata_VorbisComment& comments = block->data.vorbis_comment;
      for (FLAC__uint32 i = 0; i < comments.num_comments; ++i) {
        const std::string entry(reinterpret_cast<const char*>(comments.comments[i].entry),
                                comments.comments[i].length);
        const std::size_t equals = entry.find('=');
        if (equals == std::string::npos) continue;
        const std::string field = Upper(entry.substr(0, equals));
        const std::string value = entry.substr(equals + 1);
        std::string* tag = field == "ARTIST"                              ? &d->tags.artist
                           : field == "ALBUM"                             ? &d->tags.album
                           : field == "DATE"                              ? &d->tags.date
                           : field == "GENRE"                             ? &d->tags.genre
                           : field == "COMMENT" || field == "DESCRIPTION" ? &d->tags.comment
                                                                          : nullptr;
        if (tag && tag->empty()) *tag = value;
        if (field == "WAVEFORMATEXTENSIBLE_CHANNEL_MASK")
          d->channelMask = static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 0));
      }
    }
  }
  static void Error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status,
                    void* self) {
    auto* d = static_cast<FlacDecoder*>(self);
    d->lastError_ = status;
    if (d->error_) return;
    d->error_ = status;
  }

  wave::FileApi& files_;
  int fd_;
  std::int64_t start_;
  std::int64_t length_;
  FLAC__StreamDecoder* decoder_;
  std::int64_t position_ = 0;
  std::optional<FLAC__StreamDecoderErrorStatus> error_;
  std::optional<FLAC__StreamDecoderErrorStatus> lastError_;
  int readErrno_ = 0;
};

namespace {

// Why a frame's header does not belong to the stream, or "" when it does:
// the shape of every frame is STREAMINFO's, and frames follow one another
// without a gap.
std::string CheckHeader(const Shape& shape, std::int64_t expected, const FLAC__FrameHeader& h) {
  const auto at = [&] { return " at sample " + std::to_string(expected); };
  if (static_cast<int>(h.channels) != shape.channels) {
    return "the stream changes from " + std::to_string(shape.channels) + " to " +
           std::to_string(h.channels) + " channels" + at();
  }
  if (h.sample_rate != shape.rate) {
    return "the stream changes from " + std::to_string(shape.rate) + " to " +
           std::to_string(h.sample_rate) + " Hz" + at();
  }
  if (static_cast<int>(h.bits_per_sample) != shape.bits) {
    return "its header declares " + std::to_string(shape.bits) + " bits, but a frame holds " +
           std::to_string(h.bits_per_sample) + at();
  }
  if (static_cast<std::int64_t>(h.number.sample_number) != expected) {
    return "a frame is missing or out of place" + at() + " (the next frame says sample " +
           std::to_string(h.number.sample_number) + ")";
  }
  return "";
}

std::string Unfit(const Shape& shape, std::int64_t expected) {
  return "a sample does not fit the stream's " + std::to_string(shape.bits) + " bits at sample " +
         std::to_string(expected);
}

// A sample shifted to the top of 32 bits; `lost` gathers the bits of one
// that does not fit the stream's width (it would not come back from the
// shift).
inline std::int32_t WidenOne(FLAC__int32 value, int shift, std::uint32_t& lost) {
  const auto widened = static_cast<std::int32_t>(static_cast<std::uint32_t>(value) << shift);
  lost |= static_cast<std::uint32_t>((widened >> shift) ^ value);
  return widened;
}

// Copies a frame's samples to the end of `out`, interleaved, each shifted to
// the top of 32 bits; false where one does not fit the stream's width (it
// would not come back from the shift).
bool Widen(const Shape& shape, const FLAC__Frame& frame, const FLAC__int32* const* samples,
           SampleBuffer& out) {
  const int channels = shape.channels;
  const int shift = 32 - shape.bits;
  const std::size_t blocksize = frame.header.blocksize;
  std::int32_t* to = out.Extend(blocksize * static_cast<std::size_t>(channels));
  std::uint32_t lost = 0;
  const auto one = [&](FLAC__int32 value) { return WidenOne(value, shift, lost); };
  if (channels == 2) {
    const FLAC__int32* left = samples[0];
    const FLAC__int32* right = samples[1];
    for (std::size_t i = 0; i < blocksize; ++i) {
      to[2 * i] = one(left[i]);
      to[2 * i + 1] = one(right[i]);
    }
  } else {
    for (int c = 0; c < channels; ++c) {
      const FLAC__int32* in = samples[c];
      for (std::size_t i = 0; i < blocksize; ++i)
        to[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = one(in[i]);
    }
  }
  return lost == 0;
}

// The checks of a frame that is only counted.
std::string CheckFrame(const Shape& shape, std::int64_t expected, const FLAC__Frame& frame,
                       const FLAC__int32* const* samples) {
  std::string bad = CheckHeader(shape, expected, frame.header);
  if (bad.empty()) {
    std::uint32_t lost = 0;
    const int shift = 32 - shape.bits;
    for (int c = 0; c < shape.channels; ++c) {
      for (std::uint32_t i = 0; i < frame.header.blocksize; ++i) WidenOne(samples[c][i], shift, lost);
    }
    if (lost != 0) bad = Unfit(shape, expected);
  }
  return bad;
}

// What follows the last whole frame: nothing, an ID3v1 tag, a frame cut off
// by the file's end, or bytes that are not FLAC.
enum class Tail { None, Id3, CutFrame, Junk };

Tail TailOf(wave::FileApi& files, int fd, std::int64_t end, std::int64_t length) {
  if (end >= length) return Tail::None;
  std::uint8_t head[3] = {};
  const std::int64_t got = files.ReadAt(fd, head, 3, end);
  if (length - end == 128 && got == 3 && std::memcmp(head, "TAG", 3) == 0) return Tail::Id3;
  if (got >= 2 && head[0] == 0xFF && (head[1] & 0xFE) == 0xF8) return Tail::CutFrame;
  return Tail::Junk;
}

}  // namespace

struct FlacOpener {
  wave::FileApi& files;
  FlacOpenOptions options;
  std::unique_ptr<FlacSource> source{new FlacSource()};

  OpenedFlac Refuse(wave::Error error) { return {nullptr, std::move(error)}; }
  static wave::Error Why(const std::string& why) { return {wave::ErrorCode::UnableToRead, why}; }
  OpenedFlac Damaged(const std::string& why) { return Refuse(Why(why)); }

  // Whether the stream ends exactly where STREAMINFO says: the frame that
  // holds its last sample ends there and no frame follows it. `end`
  // receives the byte after that frame.
  bool LengthConfirmed(FlacShared& shared, std::int64_t& end) {
    FlacDecoder probe(files, shared.fd, shared.start, shared.length);
    if (!probe.Start(false)) return false;
    std::int64_t frames = 0;
    std::int64_t reach = 0;
    probe.sink = [&](const FLAC__Frame& frame, const FLAC__int32* const*) {
      ++frames;
      reach = static_cast<std::int64_t>(frame.header.number.sample_number + frame.header.blocksize);
      end = probe.Position();
      return true;
    };
    const auto total = static_cast<std::int64_t>(shared.shape.total);
    if (!probe.SeekTo(shared.shape.total - 1) || frames != 1 || reach != total) return false;
    while (!probe.Ended() && !probe.Aborted()) {
      probe.Step();
      if (frames != 1) return false;  // more audio than the header says
      if (probe.HadError()) probe.ClearError();
    }
    return probe.Ended();
  }

  // Decodes the whole stream once to learn its real length, checking
  // everything on the way; the refusal when it is damaged. An error with no
  // audio after it is left in `errorAfter`: bytes after the stream, or its
  // last frame cut off.
  std::optional<wave::Error> Count(FlacShared& shared, std::int64_t& frames, std::int64_t& end,
                                   bool& md5Matched, std::string& errorAfter) {
    FlacDecoder counter(files, shared.fd, shared.start, shared.length);
    if (!counter.Start(shared.shape.md5)) return Why(counter.failure);
    const std::int64_t spacing = std::max<std::int64_t>(shared.shape.rate, 4096);
    std::string bad;
    bool audioAfterError = false;
    end = counter.Position();
    counter.sink = [&](const FLAC__Frame& frame, const FLAC__int32* const* samples) {
      if (counter.HadError() || !errorAfter.empty()) {
        audioAfterError = true;
        return false;
      }
      bad = CheckFrame(shared.shape, frames, frame, samples);
      if (!bad.empty()) return false;
      frames += frame.header.blocksize;
      end = counter.Position();
      shared.AddPoint(frames, end, spacing);
      return true;
    };
    while (!counter.Ended() && !counter.Aborted()) {
      counter.Step();
      if (!bad.empty()) return Why(bad);
      if (counter.HadError() && errorAfter.empty())
        errorAfter = counter.ErrorText() + At(frames, end);
      if (audioAfterError) return Why(errorAfter);
      counter.ClearError();
    }
    if (counter.Aborted()) return Why(counter.ErrorText() + At(frames, counter.Position()));
    md5Matched = counter.Finish();
    return std::nullopt;
  }

  OpenedFlac Open(const std::string& path) {
    auto shared = std::make_shared<FlacShared>();
    shared->files = &files;
    int why = 0;
    shared->fd = files.OpenExclusive(path, why);
    if (shared->fd < 0) return Refuse({wave::ErrorCode::UnableToOpen, wave::ReasonOf(why)});
    shared->length = files.Size(shared->fd);
    shared->start = wave::PastId3v2Tags(files, shared->fd);
    source->shared_ = shared;

    FlacDecoder header(files, shared->fd, shared->start, shared->length);
    if (!header.Start(false)) return Damaged(header.failure);
    const Shape shape = header.shape;
    shared->shape = shape;
    if (shape.bits < 4 || shape.bits > 32)
      return Refuse(
          {wave::ErrorCode::Unsupported, "a FLAC stream of " + std::to_string(shape.bits) +
                                             " bits per sample is not valid (4 to 32 are)"});
    if (shape.rate == 0) return Damaged("its STREAMINFO gives a sample rate of 0");
    const std::int64_t first = header.Position();
    shared->points.push_back({0, first});
    shared->first = first;
    source->tags_ = header.tags;

    std::int64_t frames = static_cast<std::int64_t>(shape.total);
    std::int64_t end = 0;
    const auto total = static_cast<std::int64_t>(shape.total);
    bool verified = !shape.md5;
    Tail tail = Tail::None;
    if (total > 0 && LengthConfirmed(*shared, end)) {
      tail = TailOf(files, shared->fd, end, shared->length);
    } else {
      frames = 0;
      bool md5Matched = false;
      std::string errorAfter;
      if (auto refusal = Count(*shared, frames, end, md5Matched, errorAfter))
        return Refuse(*refusal);
      tail = TailOf(files, shared->fd, end, shared->length);
      if (!errorAfter.empty() && (tail == Tail::None || frames == 0)) return Damaged(errorAfter);
      if (frames == 0) {
        // No frame at all: what follows the metadata is not audio.
        return Damaged(std::string(shared->length > first ? "no frame can be decoded"
                                                          : "no frame follows the metadata") +
                       At(0, first) +
                       (total > 0 ? "; its header gives " + std::to_string(total) + " samples"
                                  : ""));
      }
      const bool matched = shape.md5 && md5Matched && tail != Tail::CutFrame;
      const std::string promised =
          total > 0 ? " of the " + std::to_string(total) + " its header gives" : "";
      if (tail == Tail::CutFrame || (frames < total && !matched)) {
        const std::string where = tail == Tail::CutFrame
                                      ? "the file ends in the middle of a frame, after sample "
                                      : "the stream ends after sample ";
        if (!options.salvage) {
          return Damaged(where + std::to_string(frames) + promised +
                         "; --salvage reads the frames before");
        }
        source->notes_.push_back("salvaged: " + where + std::to_string(frames) + promised);
        verified = true;  // the signature is of a longer stream
      } else {
        if (shape.md5 && !md5Matched)
          return Damaged("the decoded audio does not match its MD5 signature: the file is damaged");
        verified = true;
        if (total > 0 && frames != total) {
          source->notes_.push_back("its header gives " + std::to_string(total) +
                                   " frames, but the stream holds " + std::to_string(frames) +
                                   ": read to its end");
        }
      }
    }
    if (tail == Tail::Junk) {
      source->notes_.push_back(std::to_string(shared->length - end) +
                               " bytes after its last frame are not FLAC; they were left out");
    }
    shared->verified = verified;
    shared->end = end;

    wave::SourceInfo& info = source->info_;
    info.channels = shape.channels;
    info.rate = shape.rate;
    info.frames = frames;
    info.sampleType = wave::SampleType::S32;
    info.bits = shape.bits;
    info.extentBytes = frames * info.FrameBytes();
    info.container = "FLAC";
    info.channelMask = header.channelMask;
    source->keep_ = std::max<std::int64_t>(shape.rate / 2, 2 * 131072 / info.FrameBytes());
    if (!source->StartDecoder(!verified)) return Damaged(source->Failure());
    return {std::move(source), {}};
  }
};

// A stretch of the stream decoded on a core of its own: whole frames, from
// `start` to `end`, their samples shifted to the top of 32 bits.
struct DecodedChunk {
  SampleBuffer samples;
  SeekPoint start, end;
  bool ok = false;
  bool piece = false;  // the stretch goes on after `end`
};

namespace {

// Samples a stretch holds at most when decoded, about: a few MiB.
constexpr std::size_t kChunkSamples = 1 << 19;
// How far past its stretch a search for the first frame may go.
constexpr std::int64_t kSearchReach = 1 << 20;

// Decodes stretch `k`, from `from` where its start is known, or else from
// the first sound frame at or after its first byte. Not ok where it meets
// damage of any kind: the reader then decodes from the last frame it knows
// to be good, one by one, and says what and where.
DecodedChunk DecodeChunk(FlacDecoder& decoder, const FlacShared& shared, const ChunkPlan& plan,
                         std::int64_t k, std::optional<SeekPoint> from, SampleBuffer buffer,
                         std::size_t room) {
  DecodedChunk chunk;
  chunk.samples = std::move(buffer);
  // Room for the stretch's samples as the stream's average gives them, and a
  // frame more: growing a buffer copies it.
  chunk.samples.Clear(room, std::min(plan.usual, plan.most) +
                                static_cast<std::size_t>(65536 * shared.shape.channels));
  const std::int64_t until = k + 1 >= plan.chunks ? shared.end : plan.Begin(k + 1);
  if (!decoder.Reposition(from ? from->byte : plan.Begin(k))) return chunk;
  bool found = from.has_value();
  SeekPoint at = from.value_or(SeekPoint{});
  chunk.start = at;
  bool last = false;  // the stretch's last frame is in
  bool bad = false;
  decoder.sink = [&](const FLAC__Frame& frame, const FLAC__int32* const* samples) {
    const std::int64_t after = decoder.Position();
    const auto number = static_cast<std::int64_t>(frame.header.number.sample_number);
    const auto blocksize = static_cast<std::int64_t>(frame.header.blocksize);
    if (!found) {
      // Until a whole frame decodes cleanly, what is met is the middle of one.
      const bool damaged = decoder.FrameDamaged();
      decoder.ClearError();
      if (damaged) return true;
      found = true;
      at = {number + blocksize, after};
      chunk.start = at;
      return true;
    }
    if (decoder.HadError() || !CheckHeader(shared.shape, at.frame, frame.header).empty() ||
        !Widen(shared.shape, frame, samples, chunk.samples)) {
      bad = true;
      return false;
    }
    last = at.byte >= until || after >= shared.end;
    // A stretch that decodes to far more than most (digital silence) is
    // handed on in pieces: the reader goes on from where it stops.
    if (!last && chunk.samples.Size() >= plan.most) {
      last = true;
      chunk.piece = true;
    }
    at = {number + blocksize, after};
    return true;
  };
  while (!last && !bad) {
    decoder.Step();
    if (decoder.Aborted() || decoder.Ended()) break;
    if (found && decoder.HadError()) break;
    decoder.ClearError();
    if (!found && decoder.Position() > until + kSearchReach) break;
  }
  decoder.sink = nullptr;
  chunk.end = at;
  chunk.ok = last && !bad;
  return chunk;
}

}  // namespace

FlacSource::FlacSource() = default;
FlacSource::~FlacSource() = default;

OpenedFlac OpenFlac(wave::FileApi& files, const std::string& path, const FlacOpenOptions& options) {
  return FlacOpener{files, options}.Open(path);
}

bool FlacSource::WholeInDoubt() const { return shared_->signatureFailed; }

wave::FileId FlacSource::Id() {
  return shared_->files->IdOf(shared_->fd);
}

bool FlacSource::StartDecoder(bool md5) {
  decoder_ = std::make_unique<FlacDecoder>(*shared_->files, shared_->fd, shared_->start,
                                           shared_->length);
  decoder_->sink = [this](const FLAC__Frame& frame, const FLAC__int32* const* samples) {
    // Audio after an error in the same step is not trusted: the error fails the read.
    if (decoder_->HadError()) return false;
    const std::string bad = CheckHeader(shared_->shape, next_, frame.header);
    if (!bad.empty()) {
      Fail(bad);
      return false;
    }
    const std::size_t at = cache_.Size();
    if (!Widen(shared_->shape, frame, samples, cache_)) {
      cache_.Truncate(at);
      Fail(Unfit(shared_->shape, next_));
      return false;
    }
    if (fromStart_) HashSamples(*md5_, cache_.Data() + at, cache_.Size() - at, info_.bits);
    next_ += static_cast<std::int64_t>(frame.header.blocksize);
    frameByte_ = decoder_->Position();
    shared_->AddPoint(next_, frameByte_, std::max<std::int64_t>(info_.rate, 4096));
    return true;
  };
  if (!decoder_->Start(false)) {
    Fail(decoder_->failure);
    return false;
  }
  next_ = 0;
  frameByte_ = shared_->first;
  fromStart_ = md5;
  if (md5) md5_ = std::make_unique<Md5>();
  return true;
}

std::int64_t FlacSource::CacheEnd() const {
  return cacheFirst_ + static_cast<std::int64_t>(cache_.Size()) / info_.channels;
}

std::int32_t* SampleBuffer::Extend(std::size_t count) {
  if (head_ + used_ + count > data_.size()) {
    if (head_ > 0) {
      std::memmove(data_.data(), data_.data() + head_, used_ * sizeof(std::int32_t));
      head_ = 0;
    }
    if (used_ + count > data_.size()) data_.resize(std::max(used_ + count, 2 * data_.size()));
  }
  used_ += count;
  return data_.data() + head_ + used_ - count;
}

void SampleBuffer::Truncate(std::size_t size) { used_ = std::min(used_, size); }

void SampleBuffer::DropFront(std::size_t count) {
  count = std::min(count, used_);
  head_ += count;
  used_ -= count;
}

void SampleBuffer::Clear(std::size_t room, std::size_t expected) {
  if (data_.size() < room + expected) data_.resize(room + expected);
  head_ = room;
  used_ = 0;
}

bool SampleBuffer::Prepend(const std::int32_t* samples, std::size_t count) {
  if (count > head_) return false;
  head_ -= count;
  used_ += count;
  std::copy(samples, samples + count, data_.data() + head_);
  return true;
}

// The signature summed on a thread of its own, in order, a stretch behind
// the reader: its samples stay where they are until Through() says so.
class HashBehind {
 public:
  HashBehind(Md5& md5, int bits) : md5_(md5), bits_(bits), thread_([this] { Run(); }) {}
  ~HashBehind() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  HashBehind(const HashBehind&) = delete;
  HashBehind& operator=(const HashBehind&) = delete;

  // Sums `count` samples at `samples`, which must stay until then; returns
  // its number for Through().
  std::int64_t Add(const std::int32_t* samples, std::size_t count) {
    std::lock_guard lock(mutex_);
    queue_.push_back({samples, count});
    changed_.notify_all();
    return added_++;
  }
  // Waits until stretch `number` (and all before) is summed.
  void Through(std::int64_t number) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return done_ > number; });
  }
  void All() { Through(added_ - 1); }

 private:
  void Run() {
    for (;;) {
      std::pair<const std::int32_t*, std::size_t> next;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) return;
        next = queue_.front();
      }
      HashSamples(md5_, next.first, next.second, bits_);
      {
        std::lock_guard lock(mutex_);
        queue_.pop_front();
        ++done_;
      }
      changed_.notify_all();
    }
  }

  Md5& md5_;
  const int bits_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::pair<const std::int32_t*, std::size_t>> queue_;
  std::int64_t added_ = 0;
  std::int64_t done_ = 0;
  bool stop_ = false;
  std::thread thread_;
};

void FlacSource::StartAhead() {
  hasher_.reset();
  const int workers = wave::Cores();
  const FlacShared& shared = *shared_;
  ChunkPlan& plan = plan_;
  plan.first = shared.first;
  const std::int64_t streamBytes = shared.end - plan.first;
  const double samplesPerByte =
      static_cast<double>(info_.frames) * info_.channels / static_cast<double>(std::max<std::int64_t>(streamBytes, 1));
  plan.bytes = std::clamp<std::int64_t>(static_cast<std::int64_t>(kChunkSamples / samplesPerByte),
                                        1 << 10, 1 << 22);
  plan.chunks = (streamBytes + plan.bytes - 1) / plan.bytes;
  plan.usual = static_cast<std::size_t>(static_cast<double>(plan.bytes) * samplesPerByte);
  // Four times the average, within bounds that keep the memory held small.
  plan.most = std::clamp<std::size_t>(4 * plan.usual, 2 * kChunkSamples, 4 * kChunkSamples);
  if (workers < 2 || plan.chunks < 3) return;
  auto decoders = std::make_shared<std::vector<std::unique_ptr<FlacDecoder>>>(workers);
  const auto room = static_cast<std::size_t>(keep_ * info_.channels);
  buffers_ = std::make_shared<BufferPool>(2 * (std::min(plan.usual, plan.most) + room));
  ahead_ = std::make_unique<wave::RunsAhead<DecodedChunk>>(
      // Two stretches a worker: one decoded while the other waits to be read.
      plan.chunks, workers, 2 * workers,
      [shared = shared_, plan = plan_, decoders, buffers = buffers_, room](int worker, std::int64_t k) {
        std::unique_ptr<FlacDecoder>& decoder = (*decoders)[static_cast<std::size_t>(worker)];
        if (!decoder) {
          decoder = std::make_unique<FlacDecoder>(*shared->files, shared->fd, shared->start,
                                                  shared->length);
          if (!decoder->Start(false)) {
            decoder.reset();
            return DecodedChunk{};
          }
        }
        return DecodeChunk(*decoder, *shared, plan, k,
                           k == 0 ? std::optional<SeekPoint>(SeekPoint{0, plan.first}) : std::nullopt,
                           buffers->Take(), room);
      });
  chunk_ = 0;
  join_ = {0, plan.first};
  cache_.Clear();
  cacheFirst_ = 0;
  rest_ = false;
  fromStart_ = !shared.verified;
  if (fromStart_) {
    md5_ = std::make_unique<Md5>();
    hasher_ = std::make_unique<HashBehind>(*md5_, info_.bits);
  }
}

FlacSource::Taken FlacSource::TakeChunk() {
  // The rest of a stretch handed on in pieces is decoded here.
  DecodedChunk chunk = rest_ ? DecodedChunk{} : ahead_->Take(chunk_);
  if (!chunk.ok || !(chunk.start == join_)) {
    // Where a search took the middle of a frame for a start, or met damage:
    // this stretch again, from where the one before ended.
    if (!own_) {
      own_ = std::make_unique<FlacDecoder>(*shared_->files, shared_->fd, shared_->start,
                                           shared_->length);
      if (!own_->Start(false)) own_.reset();
    }
    chunk = own_ ? DecodeChunk(*own_, *shared_, plan_, chunk_, join_, std::move(chunk.samples),
                               static_cast<std::size_t>(keep_ * info_.channels))
                 : DecodedChunk{};
  }
  if (!chunk.ok) {
    // Damage: the frames from the last good one are decoded one by one, to
    // say what and where.
    return OneByOne() ? Taken::OneByOne : Taken::Failed;
  }
  // The stretch goes on from the cache's end; what is kept of the cache is
  // put before it, for a read that steps back.
  const std::size_t channels = static_cast<std::size_t>(info_.channels);
  const std::int64_t hashing =
      hasher_ ? hasher_->Add(chunk.samples.Data(), chunk.samples.Size()) : std::int64_t{-1};
  std::size_t kept = std::min(cache_.Size(), static_cast<std::size_t>(keep_) * channels);
  if (!chunk.samples.Prepend(cache_.Data() + cache_.Size() - kept, kept)) kept = 0;
  cacheFirst_ = CacheEnd() - static_cast<std::int64_t>(kept / channels);
  std::swap(cache_, chunk.samples);
  // The cache before is let go once it is summed.
  if (hasher_) hasher_->Through(hashing - 1);
  buffers_->Give(std::move(chunk.samples));
  shared_->AddPoint(chunk.end.frame, chunk.end.byte, std::max<std::int64_t>(info_.rate, 4096));
  join_ = chunk.end;
  rest_ = chunk.piece;
  if (!rest_) ++chunk_;
  return Taken::Chunk;
}

bool FlacSource::OneByOne() {
  ahead_.reset();
  // The frames decoded from here on are summed as they come.
  hasher_.reset();
  if (!decoder_->Reposition(join_.byte)) {
    Fail("libFLAC cannot go back in the stream");
    return false;
  }
  next_ = join_.frame;
  frameByte_ = join_.byte;
  return true;
}

std::unique_ptr<wave::Source> FlacSource::Fork() {
  std::unique_ptr<FlacSource> fork(new FlacSource());
  fork->shared_ = shared_;
  fork->info_ = info_;
  fork->tags_ = tags_;
  fork->keep_ = keep_;
  if (!fork->StartDecoder(false)) return nullptr;
  return fork;
}

bool FlacSource::Step() {
  const std::int64_t before = next_;
  if (!decoder_->Step() || decoder_->Aborted()) {
    if (Failure().empty()) {
      // Said at the damaged frame's first byte: where the decoder noticed it
      // depends on how far it had read ahead.
      Fail(decoder_->ErrorText() + At(before, frameByte_));
    }
    return false;
  }
  if (decoder_->Ended() && next_ < info_.frames) {
    Fail("the stream ends after sample " + std::to_string(next_) + ", before its " +
         std::to_string(info_.frames) + " frames: the file changed while it was read");
    return false;
  }
  return true;
}

bool FlacSource::Reposition(std::int64_t frame) {
  const SeekPoint point = shared_->PointAtOrBefore(frame);
  if (!decoder_->Reposition(point.byte)) {
    Fail("libFLAC cannot go back in the stream");
    return false;
  }
  next_ = point.frame;
  frameByte_ = point.byte;
  cache_.Clear();
  cacheFirst_ = point.frame;
  fromStart_ = false;
  return true;
}

bool FlacSource::Bring(std::int64_t frame) {
  if (frame >= cacheFirst_ && frame < CacheEnd()) return true;
  const std::int64_t ahead = std::max<std::int64_t>(info_.rate, 65536);
  if (frame == 0) {
    // From the start (again): on every core.
    ahead_.reset();
    StartAhead();
  } else if (ahead_ && frame > CacheEnd() + ahead &&
             shared_->PointAtOrBefore(frame).frame > CacheEnd() + ahead) {
    // Far ahead, where a frame start is known: gone to directly.
    ahead_.reset();
    hasher_.reset();
    next_ = -1;
  }
  if (ahead_ && frame >= CacheEnd()) {
    Taken taken = Taken::Chunk;
    while (CacheEnd() <= frame && chunk_ < plan_.chunks && taken == Taken::Chunk)
      taken = TakeChunk();
    if (taken == Taken::Failed) return false;
    if (CacheEnd() > frame) return true;
    // Every stretch is in, and the frame is not: read on one by one to say why.
    if (ahead_ && !OneByOne()) return false;
  } else if (ahead_) {
    // A step back past what is kept: read on from a known frame.
    ahead_.reset();
    hasher_.reset();
    next_ = -1;
  }
  // Far ahead, or behind what is kept: go to the nearest frame start known.
  if (frame < cacheFirst_ || next_ != CacheEnd() || frame > CacheEnd() + ahead) {
    if (!Reposition(frame)) return false;
  }
  // Keeps what lies shortly before the frame, for a read that steps back.
  if (frame - cacheFirst_ > 2 * keep_) {
    const std::int64_t drop = std::min(frame - keep_, CacheEnd()) - cacheFirst_;
    cache_.DropFront(static_cast<std::size_t>(drop * info_.channels));
    cacheFirst_ += drop;
  }
  while (CacheEnd() <= frame) {
    if (!Step()) return false;
  }
  return true;
}

bool FlacSource::VerifyEnd() {
  if (shared_->verified || !fromStart_) return true;
  // The stretches end at the stream's last frame: what follows is looked at
  // one frame at a time, as after a read frame by frame.
  if (ahead_ && !OneByOne()) return false;
  while (!decoder_->Ended() && !decoder_->Aborted()) {
    const std::int64_t before = next_;
    decoder_->Step();
    decoder_->ClearError();  // what follows the last frame was judged when the file was opened
    if (next_ > before) {
      Fail("more audio follows the stream's end" + At(before, decoder_->Position()));
      return false;
    }
  }
  if (md5_->Finish() != shared_->shape.signature) {
    shared_->signatureFailed = true;
    Fail("the decoded audio does not match its MD5 signature: the file is damaged");
    return false;
  }
  shared_->verified = true;
  // The cache stays; a read past it starts the decoder again.
  SampleBuffer cache = std::move(cache_);
  const std::int64_t first = cacheFirst_;
  if (!StartDecoder(false)) return false;
  cache_ = std::move(cache);
  cacheFirst_ = first;
  return true;
}

std::int64_t FlacSource::ReadSamples(std::int64_t offset, void* out, std::int64_t count) {
  const std::int64_t frameBytes = info_.FrameBytes();
  count = std::clamp<std::int64_t>(info_.extentBytes - offset, 0, count);
  auto* bytes = static_cast<std::uint8_t*>(out);
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t at = offset + done;
    const std::int64_t frame = at / frameBytes;
    if (!Bring(frame)) return done > 0 ? done : -1;
    const std::int64_t from = (frame - cacheFirst_) * frameBytes + at % frameBytes;
    const std::int64_t have = static_cast<std::int64_t>(cache_.Size()) * 4 - from;
    const std::int64_t take = std::min(count - done, have);
    std::memcpy(bytes + done, reinterpret_cast<const std::uint8_t*>(cache_.Data()) + from,
                static_cast<std::size_t>(take));
    done += take;
  }
  if (count > 0 && offset + done >= info_.extentBytes && !VerifyEnd()) return -1;
  return done;
}

}  // namespace corvella::flac
