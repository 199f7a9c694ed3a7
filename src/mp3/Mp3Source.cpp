#include "mp3/Mp3Source.h"

#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "mp3/Id3.h"

namespace corvella::mp3 {

struct Mp3Shared {
  wave::FileApi* files = nullptr;
  int fd = -1;
  FrameIndex index;
  ~Mp3Shared() {
    if (fd >= 0) files->Close(fd);
  }
};

// One libmpg123 decoder fed whole frames, giving 16-bit samples. No resync,
// no gapless trimming and no resampling of its own: the frames were found
// and checked before, and the trimming is the source's.
class Mp3Decoder {
 public:
  Mp3Decoder(const FrameHeader& shape) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { mpg123_init(); });
    handle_ = mpg123_new(nullptr, nullptr);
    if (!handle_) return;
    const long flags = MPG123_QUIET | MPG123_NO_RESYNC | MPG123_IGNORE_INFOFRAME |
                       MPG123_SKIP_ID3V2 | MPG123_NO_READAHEAD;
    ok_ = mpg123_param(handle_, MPG123_FLAGS, flags, 0) == MPG123_OK &&
          mpg123_format_none(handle_) == MPG123_OK &&
          mpg123_format(handle_, shape.rate, shape.Channels() == 1 ? MPG123_MONO : MPG123_STEREO,
                        MPG123_ENC_SIGNED_16) == MPG123_OK &&
          mpg123_open_feed(handle_) == MPG123_OK;
  }
  ~Mp3Decoder() {
    if (handle_) mpg123_delete(handle_);
  }
  Mp3Decoder(const Mp3Decoder&) = delete;
  Mp3Decoder& operator=(const Mp3Decoder&) = delete;

  bool Ok() const { return ok_; }
  // Feeds one frame and appends what it decodes to `out`.
  bool Decode(const std::uint8_t* frame, std::size_t bytes, std::vector<std::int16_t>& out) {
    if (mpg123_feed(handle_, frame, bytes) != MPG123_OK) return false;
    for (;;) {
      off_t number = 0;
      unsigned char* audio = nullptr;
      std::size_t got = 0;
      const int result = mpg123_decode_frame(handle_, &number, &audio, &got);
      if (result == MPG123_NEW_FORMAT) continue;
      if (result == MPG123_NEED_MORE) return true;
      if (result != MPG123_OK) return false;
      const std::size_t before = out.size();
      out.resize(before + got / 2);
      if (got > 0) std::memcpy(out.data() + before, audio, got / 2 * 2);
    }
  }
  std::string Why() const { return handle_ ? mpg123_strerror(handle_) : "libmpg123 cannot start"; }

 private:
  mpg123_handle* handle_ = nullptr;
  bool ok_ = false;
};

namespace {

// Frames decoded past the one asked for before a decoder is started anew
// nearer to it.
constexpr std::int64_t kFarAhead = 48;
// Frames after which libmpg123's synthesis is back in the same phase (16
// would do; a multiple of it measured closer).
constexpr std::int64_t kPhaseFrames = 64;
// Frames decoded before those the warm start needs.
constexpr std::int64_t kLongWarmUp = 192;
// Frames kept decoded behind the one being read.
constexpr std::int64_t kKeptBehind = 16;

// Where a decoder starts so that frame `frame` on decodes as in a decode
// from the first frame.
std::int64_t RunUpFrom(const FrameIndex& index, std::int64_t frame) {
  // libmpg123's synthesis rounds a little differently in each phase of its
  // ring of 16 blocks, and a little of what it decoded before a start lingers
  // in its rounding: a start on a multiple of 64 frames keeps every frame in
  // the phase it has in a decode from the first frame, and a long run-up
  // lets the rest settle. Samples then match a decode from the first frame
  // to the last bit, or at worst (at low bitrates) within one step of the
  // 16-bit scale at a few samples.
  return std::max<std::int64_t>(WarmStart(index, frame) - kLongWarmUp, 0) / kPhaseFrames *
         kPhaseFrames;
}

// Decodes frame `k`, whose bytes are at `bytes`, into `decoded`; false with
// `why`.
bool DecodeFrameBytes(const Mp3Shared& shared, Mp3Decoder& decoder, std::int64_t k,
                      const std::uint8_t* bytes, std::vector<std::int16_t>& decoded, std::string& why) {
  const FrameIndex& index = shared.index;
  decoded.clear();
  if (!decoder.Decode(bytes, static_cast<std::size_t>(index.FrameBytes(k)), decoded) ||
      decoded.size() != static_cast<std::size_t>(index.first.SamplesPerFrame() * index.first.Channels())) {
    why = "frame " + std::to_string(k + 1) + " at byte " + std::to_string(index.Offset(k)) +
          " cannot be decoded (" + decoder.Why() + ")";
    return false;
  }
  return true;
}

// Reads frame `k` and decodes it into `decoded`; false with `why`.
bool DecodeFrame(const Mp3Shared& shared, Mp3Decoder& decoder, std::int64_t k,
                 std::vector<std::uint8_t>& bytes, std::vector<std::int16_t>& decoded,
                 std::string& why) {
  const FrameIndex& index = shared.index;
  const std::int64_t size = index.FrameBytes(k);
  bytes.resize(static_cast<std::size_t>(size));
  if (shared.files->ReadAt(shared.fd, bytes.data(), size, index.Offset(k)) != size) {
    why = "frame " + std::to_string(k + 1) + " cannot be read from the file";
    return false;
  }
  return DecodeFrameBytes(shared, decoder, k, bytes.data(), decoded, why);
}

}  // namespace

// A stream read from its start on is decoded ahead on every core: in runs of
// frames, each by its own decoder started early enough that its samples
// are those of a decode from the first frame, handed on in order. At most a
// few runs are held at once.
// A run of frames decoded ahead: its samples, after `room` samples left
// free for what the reader keeps of the run before; or why it could not be.
struct DecodedRun {
  std::vector<std::int16_t> samples;
  std::size_t room = 0;
  std::string why = "out of memory";  // where the run could not be made at all
  bool ok = false;
};

constexpr std::int64_t kRunFrames = 2048;

using RunMemory = wave::Recycled<std::vector<std::int16_t>>;

// Decodes frames [run * kRunFrames, + kRunFrames) with a run-up of its own,
// its bytes read at once.
DecodedRun DecodeRun(const Mp3Shared& shared, std::int64_t run, RunMemory& memory, std::size_t room) {
  const FrameIndex& index = shared.index;
  const std::int64_t first = run * kRunFrames;
  const std::int64_t last = std::min(first + kRunFrames, index.Frames());
  const std::int64_t from = RunUpFrom(index, first);
  DecodedRun made;
  made.room = room;
  made.samples = memory.Take();
  made.samples.clear();
  made.samples.reserve(room + static_cast<std::size_t>((last - first) * index.first.SamplesPerFrame() *
                                                       index.first.Channels()));
  made.samples.resize(room);
  std::vector<std::uint8_t> bytes;
  const std::int64_t base = index.Offset(from);
  const std::int64_t size = index.Offset(last - 1) + index.FrameBytes(last - 1) - base;
  bytes.resize(static_cast<std::size_t>(size));
  const bool read = shared.files->ReadAt(shared.fd, bytes.data(), size, base) == size;
  std::vector<std::int16_t> decoded;
  Mp3Decoder decoder(index.first);
  made.ok = decoder.Ok();
  if (!made.ok) made.why = decoder.Why();
  for (std::int64_t k = from; made.ok && k < last; ++k) {
    // Where the bytes could not be read at once, frame by frame says which.
    made.ok = read ? DecodeFrameBytes(shared, decoder, k, bytes.data() + (index.Offset(k) - base), decoded, made.why)
                   : DecodeFrame(shared, decoder, k, bytes, decoded, made.why);
    if (made.ok && k >= first) made.samples.insert(made.samples.end(), decoded.begin(), decoded.end());
  }
  return made;
}

std::string ContainerOf(const FrameHeader& header) {
  return header.layer == 3 ? "MP3" : header.layer == 2 ? "MP2" : "MP1";
}

Mp3Source::Mp3Source() = default;
Mp3Source::~Mp3Source() = default;

const FrameIndex& Mp3Source::Frames() const { return shared_->index; }
wave::FileApi& Mp3Source::Files() const { return *shared_->files; }
int Mp3Source::Descriptor() const { return shared_->fd; }
wave::FileId Mp3Source::Id() { return shared_->files->IdOf(shared_->fd); }

std::unique_ptr<wave::Source> Mp3Source::Fork() {
  std::unique_ptr<Mp3Source> fork(new Mp3Source());
  fork->shared_ = shared_;
  fork->info_ = info_;
  fork->forked_ = true;
  return fork;
}

bool Mp3Source::Restart(std::int64_t frame) {
  const FrameIndex& index = shared_->index;
  decoder_ = std::make_unique<Mp3Decoder>(index.first);
  if (!decoder_->Ok()) {
    Fail(decoder_->Why());
    decoder_.reset();
    return false;
  }
  next_ = RunUpFrom(index, frame);
  // From the stream's first frame every frame is exact.
  usable_ = next_ == 0 ? 0 : frame;
  cache_.clear();
  cacheAt_ = 0;
  cacheFirst_ = usable_ * index.first.SamplesPerFrame();
  return true;
}

bool Mp3Source::Bring(std::int64_t position) {
  const FrameIndex& index = shared_->index;
  const int spf = index.first.SamplesPerFrame();
  const int channels = index.first.Channels();
  const std::int64_t frame = position / spf;
  const std::int64_t cachedEnd = cacheFirst_ + static_cast<std::int64_t>(cache_.size() - cacheAt_) / channels;
  if (position >= cacheFirst_ && position < cachedEnd) return true;
  if (frame >= index.Frames()) return false;
  // Read from the start on: decoded ahead on every core.
  if (!ahead_ && !decoder_ && frame == 0 && !forked_ && index.Frames() > 2 * kRunFrames) {
    const int cores = wave::Cores();
    if (cores > 1) {
      memory_ = std::make_shared<RunMemory>();
      const auto room = static_cast<std::size_t>(kKeptBehind * spf * channels);
      ahead_ = std::make_unique<RunsAhead>((index.Frames() + kRunFrames - 1) / kRunFrames, cores, cores + 1,
                                           [shared = shared_, memory = memory_, room](int, std::int64_t run) {
                                             return DecodeRun(*shared, run, *memory, room);
                                           });
    }
  }
  if (ahead_ && frame / kRunFrames >= ahead_->Wanted()) {
    const std::int64_t run = frame / kRunFrames;
    DecodedRun taken = ahead_->Take(run);
    if (!taken.ok) {
      Fail(taken.why);
      ahead_.reset();
      return false;
    }
    // The end of the run before stays at hand, in the room before the run's
    // samples: a search reads a little back.
    const std::int64_t runStart = run * kRunFrames * spf;
    const std::int64_t behind = std::clamp<std::int64_t>(cachedEnd == runStart ? runStart - cacheFirst_ : 0, 0,
                                                         static_cast<std::int64_t>(taken.room) / channels);
    const auto kept = static_cast<std::size_t>(behind * channels);
    std::copy(cache_.end() - static_cast<std::ptrdiff_t>(kept), cache_.end(),
              taken.samples.begin() + static_cast<std::ptrdiff_t>(taken.room - kept));
    memory_->Give(std::move(cache_));
    cache_ = std::move(taken.samples);
    cacheAt_ = taken.room - kept;
    cacheFirst_ = runStart - behind;
    return true;
  }
  ahead_.reset();
  if (cacheAt_ > 0) {
    // Frame by frame from here: the cache starts at its front again.
    cache_.erase(cache_.begin(), cache_.begin() + static_cast<std::ptrdiff_t>(cacheAt_));
    cacheAt_ = 0;
  }
  if (!decoder_ || frame < usable_ || position < cacheFirst_ || frame > next_ + kFarAhead) {
    if (!Restart(frame)) return false;
  }
  std::vector<std::uint8_t> bytes;
  std::vector<std::int16_t> decoded;
  while (next_ <= frame) {
    // Drop what lies well behind.
    const std::int64_t keepFrom = std::max(usable_, frame - kKeptBehind) * spf;
    if (keepFrom > cacheFirst_) {
      const std::int64_t drop =
          std::min<std::int64_t>((keepFrom - cacheFirst_) * channels, static_cast<std::int64_t>(cache_.size()));
      cache_.erase(cache_.begin(), cache_.begin() + drop);
      cacheFirst_ += drop / channels;
    }
    std::string why;
    if (!DecodeFrame(*shared_, *decoder_, next_, bytes, decoded, why)) {
      Fail(why);
      decoder_.reset();
      return false;
    }
    if (next_ >= usable_) cache_.insert(cache_.end(), decoded.begin(), decoded.end());
    ++next_;
  }
  return true;
}

std::int64_t Mp3Source::ReadSamples(std::int64_t offset, void* out, std::int64_t count) {
  const std::int64_t frameBytes = info_.FrameBytes();
  const int channels = info_.channels;
  const std::int64_t lead = shared_->index.Lead();
  count = std::clamp<std::int64_t>(info_.extentBytes - offset, 0, count);
  auto* bytes = static_cast<std::uint8_t*>(out);
  std::vector<std::int32_t> wide;
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t at = offset + done;
    const std::int64_t sample = at / frameBytes;
    const std::int64_t position = sample + lead;
    if (!Bring(position)) return done > 0 ? done : -1;
    const std::int64_t cachedEnd = cacheFirst_ + static_cast<std::int64_t>(cache_.size() - cacheAt_) / channels;
    const std::int64_t run = std::min(cachedEnd - position, (count - done + at % frameBytes + frameBytes - 1) / frameBytes);
    wide.resize(static_cast<std::size_t>(run * channels));
    const std::int16_t* from = cache_.data() + cacheAt_ + (position - cacheFirst_) * channels;
    for (std::size_t i = 0; i < wide.size(); ++i)
      wide[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(from[i])) << 16);
    const std::int64_t skip = at % frameBytes;
    const std::int64_t take = std::min(count - done, run * frameBytes - skip);
    std::memcpy(bytes + done, reinterpret_cast<const std::uint8_t*>(wide.data()) + skip,
                static_cast<std::size_t>(take));
    done += take;
  }
  return done;
}

struct Mp3Opener {
  static OpenedMp3 Open(wave::FileApi& files, const std::string& path, const Mp3OpenOptions& options) {
    std::unique_ptr<Mp3Source> source(new Mp3Source());
    auto shared = std::make_shared<Mp3Shared>();
    shared->files = &files;
    int why = 0;
    shared->fd = files.OpenExclusive(path, why);
    if (shared->fd < 0) return {nullptr, {wave::ErrorCode::UnableToOpen, wave::ReasonOf(why)}};
    const ScanResult scan = ScanFrames(files, shared->fd, options.salvage, shared->index);
    if (!scan.ok) {
      std::string detail = scan.why;
      if (scan.damaged) detail += "; --salvage skips it";
      return {nullptr, {wave::ErrorCode::UnableToRead, detail}};
    }
    const FrameIndex& index = shared->index;
    source->shared_ = shared;
    wave::SourceInfo& info = source->info_;
    info.channels = index.first.Channels();
    info.rate = index.first.rate;
    info.frames = index.Samples();
    info.sampleType = wave::SampleType::S32;
    info.bits = 16;
    info.extentBytes = info.frames * info.FrameBytes();
    info.container = ContainerOf(index.first);
    source->tags_ = Id3Tags(FirstId3v2Tag(files, shared->fd, index.tagBytes));
    for (const std::string& skipped : index.skipped) source->notes_.push_back("salvaged: skipped " + skipped);
    if (index.gapless.frames >= 0 && index.gapless.frames != index.Frames()) {
      // Frames missing at the end (a copy cut short on a frame's border)
      // leave nothing else to see: the recording would be read short.
      if (index.Frames() < index.gapless.frames && !options.salvage) {
        return {nullptr,
                {wave::ErrorCode::UnableToRead,
                 "the stream ends after frame " + std::to_string(index.Frames()) + " of the " +
                     std::to_string(index.gapless.frames) +
                     " its Xing header gives; --salvage reads the frames there are"}};
      }
      source->notes_.push_back((options.salvage ? "salvaged: its Xing header gives " : "its Xing header gives ") +
                               std::to_string(index.gapless.frames) + " frames; the stream holds " +
                               std::to_string(index.Frames()));
    }
    if (info.frames == 0) return {nullptr, {wave::ErrorCode::EmptyData, "no samples"}};
    return {std::move(source), {}};
  }
};

OpenedMp3 OpenMp3(wave::FileApi& files, const std::string& path, const Mp3OpenOptions& options) {
  return Mp3Opener::Open(files, path, options);
}

}  // namespace corvella::mp3
