#include "sndfile/SndSource.h"

#include <algorithm>
#include <cstring>

#include "wave/ByteOrder.h"

namespace corvella::sndfile {
namespace {

constexpr std::int64_t kBlockBytes = 131072;

sf_count_t Length(void* user) {
  auto* f = static_cast<VirtualFile*>(user);
  if (f->length > 0) return f->length - f->base;
  const std::int64_t size = f->files->Size(f->fd);
  return size < f->base ? 0 : size - f->base;
}

sf_count_t Seek(sf_count_t offset, int whence, void* user) {
  auto* f = static_cast<VirtualFile*>(user);
  const std::int64_t from = whence == SEEK_SET   ? 0
                            : whence == SEEK_CUR ? f->position
                                                 : Length(user);
  if (from + offset < 0) return -1;
  f->position = from + offset;
  return f->position;
}

sf_count_t Read(void* ptr, sf_count_t count, void* user) {
  auto* f = static_cast<VirtualFile*>(user);
  const std::int64_t got = f->files->ReadAt(f->fd, ptr, count, f->base + f->position);
  if (got < 0) {
    f->failed = true;
    return 0;
  }
  f->position += got;
  return got;
}

sf_count_t Write(const void* ptr, sf_count_t count, void* user) {
  auto* f = static_cast<VirtualFile*>(user);
  const std::int64_t put = f->files->WriteAt(f->fd, ptr, count, f->base + f->position);
  if (put != count) f->failed = true;
  if (put < 0) return 0;
  f->position += put;
  f->length = std::max(f->length, f->base + f->position);
  return put;
}

sf_count_t Tell(void* user) {
  return static_cast<VirtualFile*>(user)->position;
}

bool Accepted(int format) {
  switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_FLAC:
    case SF_FORMAT_AIFF:
    case SF_FORMAT_W64:
    case SF_FORMAT_CAF:
    case SF_FORMAT_OGG:
    case SF_FORMAT_MPEG:
      return true;
    default:
      return false;
  }
}

// The sample width a subformat holds, 0 for float and lossy ones, -1 for
// the encodings not read.
int BitsOf(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
      return 8;
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ALAC_16:
      return 16;
    case SF_FORMAT_ALAC_20:
      return 20;
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_ALAC_24:
      return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_ALAC_32:
      return 32;
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
      return 0;
    default:
      return -1;
  }
}

}  // namespace

SF_VIRTUAL_IO* VirtualFile::Calls() {
  static SF_VIRTUAL_IO calls{Length, Seek, Read, Write, Tell};
  return &calls;
}

std::string ContainerName(int format) {
  switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_FLAC:
      return "FLAC";
    case SF_FORMAT_AIFF:
      return "AIFF";
    case SF_FORMAT_W64:
      return "Wave64";
    case SF_FORMAT_CAF:
      return "CAF";
    case SF_FORMAT_OGG:
      return (format & SF_FORMAT_SUBMASK) == SF_FORMAT_OPUS ? "Opus" : "Ogg Vorbis";
    case SF_FORMAT_MPEG:
      return "MP3";
    case SF_FORMAT_WAV:
      return "WAV";
    default:
      return "audio";
  }
}

bool SndSource::Lossy() const {
  const int sub = sfInfo_.format & SF_FORMAT_SUBMASK;
  return sub == SF_FORMAT_VORBIS || sub == SF_FORMAT_OPUS || sub == SF_FORMAT_MPEG_LAYER_I ||
         sub == SF_FORMAT_MPEG_LAYER_II || sub == SF_FORMAT_MPEG_LAYER_III;
}

bool LooksLikeWave(wave::FileApi& files, const std::string& path) {
  int why = 0;
  const int fd = files.OpenExclusive(path, why);
  if (fd < 0) return true;  // the WAV reader says why it cannot be opened
  std::uint8_t head[12] = {};
  const bool read = files.ReadAt(fd, head, 12, 0) == 12;
  files.Close(fd);
  if (!read) return true;
  const bool outer = std::memcmp(head, "RIFF", 4) == 0 || std::memcmp(head, "RF64", 4) == 0 ||
                     std::memcmp(head, "BW64", 4) == 0;
  return outer && std::memcmp(head + 8, "WAVE", 4) == 0;
}

// Whether an AIFF or Wave64 file is shorter than its outer chunk says: cut
// off in a copy or a download. libsndfile reads such a file quietly as far
// as it goes; its parts would end at the break, so it is refused as a WAV
// file with a wrong data size is.
bool CutShort(wave::FileApi& files, int fd, int format) {
  const int type = format & SF_FORMAT_TYPEMASK;
  if (type != SF_FORMAT_AIFF && type != SF_FORMAT_W64) return false;
  std::uint8_t head[24] = {};
  if (files.ReadAt(fd, head, 24, 0) != 24) return true;
  const std::int64_t length = files.Size(fd);
  switch (type) {
    case SF_FORMAT_AIFF:  // "FORM", its size, "AIFF" or "AIFC" (a pad byte may be missing)
      return std::memcmp(head, "FORM", 4) == 0 &&
             std::int64_t{wave::ReadBe32(head + 4)} + 8 > length + 1;
    case SF_FORMAT_W64:  // the riff GUID, then the whole file's size in 64 bits
      return std::memcmp(head, "riff", 4) == 0 &&
             wave::ReadLe64(head + 16) > static_cast<std::uint64_t>(length);
    default:
      return false;
  }
}

Tags TagsOfWave(wave::WaveSource& source) {
  constexpr std::int64_t kLargest = 1 << 20;  // as the chunks a part carries
  Tags tags;
  for (const wave::ChunkPlace& place : source.Metadata()) {
    if (place.id != wave::FourCC("LIST") || place.size < 4 || place.size > kLargest) continue;
    std::vector<std::uint8_t> body(static_cast<std::size_t>(place.size));
    if (source.File().ReadAt(place.offset, body.data(), place.size) != place.size) continue;
    if (std::memcmp(body.data(), "INFO", 4) != 0) continue;
    // Sub-chunks: an id, a size, text ending in a zero byte, a pad byte.
    for (std::size_t at = 4; body.size() - at >= 8;) {
      const std::uint32_t id = wave::ReadLe32(&body[at]);
      const std::size_t size = wave::ReadLe32(&body[at + 4]);
      if (size > body.size() - at - 8) break;
      std::string text(reinterpret_cast<const char*>(&body[at + 8]), size);
      text.resize(std::min(text.size(), text.find('\0')));
      std::string* field = id == wave::FourCC("IART")   ? &tags.artist
                           : id == wave::FourCC("IPRD") ? &tags.album
                           : id == wave::FourCC("ICRD") ? &tags.date
                           : id == wave::FourCC("IGNR") ? &tags.genre
                           : id == wave::FourCC("ICMT") ? &tags.comment
                                                        : nullptr;
      if (field && field->empty()) *field = text;
      at += 8 + size + (size & 1);
      if (at > body.size()) break;
    }
  }
  return tags;
}

// The frames a decoder gives from start to end, then back at the start;
// -1 where it cannot go back.
sf_count_t CountFrames(SNDFILE* sf, int channels) {
  constexpr sf_count_t kFrames = 4096;
  std::vector<int> block(static_cast<std::size_t>(kFrames * channels));
  sf_count_t frames = 0;
  for (sf_count_t got; (got = sf_readf_int(sf, block.data(), kFrames)) > 0;) frames += got;
  return sf_seek(sf, 0, SEEK_SET) == 0 ? frames : -1;
}

struct SndOpener {
  static OpenedSnd Open(wave::FileApi& files, const std::string& path) {
    auto source = std::unique_ptr<SndSource>(new SndSource());
    int why = 0;
    source->file_.files = &files;
    source->file_.fd = files.OpenExclusive(path, why);
    if (source->file_.fd < 0)
      return {nullptr, {wave::ErrorCode::UnableToOpen, wave::ReasonOf(why)}};
    source->sf_ = sf_open_virtual(VirtualFile::Calls(), SFM_READ, &source->sfInfo_, &source->file_);
    const SF_INFO& sf = source->sfInfo_;
    if (!source->sf_ || !Accepted(sf.format)) {
      return {nullptr,
              {wave::ErrorCode::Unsupported,
               "not a recording Corvella reads (WAV, FLAC, AIFF, Wave64, CAF, Ogg, Opus or MP3)"}};
    }
    const int bits = BitsOf(sf.format);
    if (bits < 0)
      return {nullptr,
              {wave::ErrorCode::Unsupported,
               "unsupported sample format in this " + ContainerName(sf.format)}};
    if (sf.channels < 1 || sf.channels > 64) {
      return {nullptr,
              {wave::ErrorCode::Unsupported,
               std::to_string(sf.channels) + " channels are not supported (1 to 64 are)"}};
    }
    // A FLAC written as a stream may leave its length out: count it.
    if (sf.frames == SF_COUNT_MAX && (sf.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC) {
      source->sfInfo_.frames = CountFrames(source->sf_, sf.channels);
      if (source->sfInfo_.frames < 0) return {nullptr, {wave::ErrorCode::UnableToRead}};
    }
    if (sf.frames <= 0 || sf.frames == SF_COUNT_MAX) return {nullptr, {wave::ErrorCode::EmptyData}};
    if (CutShort(files, source->file_.fd, sf.format)) {
      return {nullptr, {wave::ErrorCode::DataSizeWrong, "the file ends before its header says"}};
    }
    wave::SourceInfo& info = source->info_;
    info.channels = sf.channels;
    info.rate = sf.samplerate;
    info.frames = sf.frames;
    info.sampleType = bits > 0 ? wave::SampleType::S32 : wave::SampleType::F64;
    info.bits = bits > 0 ? bits : 32;
    info.extentBytes = info.frames * info.FrameBytes();
    info.container = ContainerName(sf.format);
    auto tag = [&](int type) {
      const char* text = sf_get_string(source->sf_, type);
      return text ? std::string(text) : std::string();
    };
    source->tags_ = {tag(SF_STR_ARTIST), tag(SF_STR_ALBUM), tag(SF_STR_DATE), tag(SF_STR_GENRE),
                     tag(SF_STR_COMMENT)};
    return {std::move(source), {}};
  }
};

OpenedSnd OpenSnd(wave::FileApi& files, const std::string& path) {
  return SndOpener::Open(files, path);
}

SndSource::~SndSource() {
  if (sf_) sf_close(sf_);
  if (file_.fd >= 0) file_.files->Close(file_.fd);
}

bool SndSource::Refill(std::int64_t frame) {
  const int frameBytes = info_.FrameBytes();
  if (decoderAt_ != frame) {
    if (sf_seek(sf_, frame, SEEK_SET) != frame) return false;
    decoderAt_ = frame;
  }
  const std::int64_t wanted = std::max<std::int64_t>(1, kBlockBytes / frameBytes);
  cache_.resize(static_cast<std::size_t>(wanted * frameBytes));
  const sf_count_t got =
      info_.sampleType == wave::SampleType::S32
          ? sf_readf_int(sf_, reinterpret_cast<int*>(cache_.data()), wanted)
          : sf_readf_double(sf_, reinterpret_cast<double*>(cache_.data()), wanted);
  cacheFirst_ = frame;
  cacheFrames_ = got > 0 ? got : 0;
  decoderAt_ = frame + cacheFrames_;
  return cacheFrames_ > 0 && !file_.failed;
}

std::int64_t SndSource::ReadSamples(std::int64_t offset, void* out, std::int64_t count) {
  const int frameBytes = info_.FrameBytes();
  count = std::clamp<std::int64_t>(info_.extentBytes - offset, 0, count);
  std::int64_t done = 0;
  auto* bytes = static_cast<std::uint8_t*>(out);
  while (done < count) {
    const std::int64_t at = offset + done;  // a byte of the decoded samples
    const std::int64_t frame = at / frameBytes;
    if (frame < cacheFirst_ || frame >= cacheFirst_ + cacheFrames_) {
      if (!Refill(frame)) {
        // A lossy decoder may end a few frames short of what it announced:
        // the rest is silence. Anything else is a failed read.
        if (!Lossy() || file_.failed) return done > 0 ? done : -1;
        std::memset(bytes + done, 0, static_cast<std::size_t>(count - done));
        return count;
      }
    }
    const std::int64_t from = at - cacheFirst_ * frameBytes;
    const std::int64_t take = std::min(count - done, cacheFrames_ * frameBytes - from);
    std::memcpy(bytes + done, cache_.data() + from, static_cast<std::size_t>(take));
    done += take;
  }
  return done;
}

}  // namespace corvella::sndfile
