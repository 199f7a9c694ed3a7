#include "sndfile/SndSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

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
  if (put != count) {
    if (!f->failed) f->failure = errno;
    f->failed = true;
  }
  if (put < 0) return 0;
  f->position += put;
  f->length = std::max(f->length, f->base + f->position);
  return put;
}

sf_count_t Tell(void* user) {
  return static_cast<VirtualFile*>(user)->position;
}

bool IsFloatFormat(int format) {
  const int sub = format & SF_FORMAT_SUBMASK;
  return sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE;
}

bool Accepted(int format) {
  switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_AIFF:
    case SF_FORMAT_CAF:
    case SF_FORMAT_OGG:
    case SF_FORMAT_MPEG:
      return true;
    default:
      return false;
  }
}

// The sample width a subformat holds: the integer width, 32 or 64 for
// float ones, 0 for lossy ones, -1 for the encodings not read.
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
      return 32;
    case SF_FORMAT_DOUBLE:
      return 64;
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

// An AIFF or AIFC file's sound data judged against the file, as a WAV
// file's data chunk is: the frames COMM promises must lie in the file.
// Returns the refusal, or nothing; with `salvage`, `frames` becomes the
// whole frames there are instead.
std::optional<wave::Error> CheckAiff(wave::FileApi& files, int fd, bool salvage,
                                     std::int64_t& frames, std::vector<std::string>& notes) {
  const std::int64_t length = files.Size(fd);
  std::uint8_t head[12] = {};
  if (files.ReadAt(fd, head, 12, 0) != 12 || std::memcmp(head, "FORM", 4) != 0) return std::nullopt;
  const bool aifc = std::memcmp(head + 8, "AIFC", 4) == 0;
  int frameBytes = 0;
  std::int64_t promised = -1;
  std::int64_t dataStart = -1;
  for (std::int64_t at = 12; at + 8 <= length;) {
    std::uint8_t chunk[8];
    if (files.ReadAt(fd, chunk, 8, at) != 8) break;
    const std::int64_t size = wave::ReadBe32(chunk + 4);
    if (std::memcmp(chunk, "COMM", 4) == 0 && size >= 18) {
      std::uint8_t comm[22] = {};
      const std::int64_t got = files.ReadAt(fd, comm, std::min<std::int64_t>(size, 22), at + 8);
      if (got < 18) break;
      const int channels = (comm[0] << 8) | comm[1];
      promised = wave::ReadBe32(comm + 2);
      const int bits = (comm[6] << 8) | comm[7];
      // The compressions whose frames have a fixed size.
      const std::string type = aifc && got >= 22 ? std::string(comm + 18, comm + 22) : "NONE";
      const int width = type == "NONE" || type == "twos" || type == "sowt" || type == "raw "
                            ? (bits + 7) / 8
                        : type == "fl32" || type == "FL32" || type == "in32" || type == "23ni" ? 4
                        : type == "fl64" || type == "FL64"                                     ? 8
                        : type == "in24" || type == "42ni"                                     ? 3
                        : type == "ulaw" || type == "ULAW" || type == "alaw" || type == "ALAW" ? 1
                                                                                               : 0;
      frameBytes = channels * width;
    } else if (std::memcmp(chunk, "SSND", 4) == 0 && size >= 8) {
      std::uint8_t offset[4];
      if (files.ReadAt(fd, offset, 4, at + 8) != 4) break;
      dataStart = at + 16 + wave::ReadBe32(offset);
    }
    at += 8 + size + (size & 1);
  }
  if (frameBytes <= 0 || promised < 0 || dataStart < 0) return std::nullopt;
  const std::int64_t there = std::max<std::int64_t>(length - dataStart, 0) / frameBytes;
  if (there >= promised) return std::nullopt;
  if (!salvage) {
    return wave::Error{wave::ErrorCode::DataSizeWrong,
                       "the file ends before its header says: " + std::to_string(there) + " of " +
                           std::to_string(promised) + " frames are there; --salvage reads them"};
  }
  if (there == 0) return wave::Error{wave::ErrorCode::EmptyData};
  frames = there;
  notes.push_back("salvaged: the header promises " + std::to_string(promised) +
                  " frames, the file holds " + std::to_string(there));
  return std::nullopt;
}

// What a CAF file's audio is, from its description chunk: "ALAC", "AAC", ...
std::string CafEncoding(wave::FileApi& files, int fd) {
  const std::int64_t length = files.Size(fd);
  for (std::int64_t at = 8; at + 12 <= length;) {
    std::uint8_t chunk[12];
    if (files.ReadAt(fd, chunk, 12, at) != 12) break;
    std::uint64_t size = 0;
    for (int i = 4; i < 12; ++i) size = (size << 8) | chunk[i];
    if (std::memcmp(chunk, "desc", 4) == 0) {
      std::uint8_t id[4];
      if (files.ReadAt(fd, id, 4, at + 12 + 8) != 4) break;
      std::string name(id, id + 4);
      if (name == "lpcm") return "PCM";
      if (name == "alac") return "ALAC";
      if (name == "aac ") return "AAC";
      while (!name.empty() && name.back() == ' ') name.pop_back();
      return name;
    }
    if (size > static_cast<std::uint64_t>(length)) break;
    at += 12 + static_cast<std::int64_t>(size);
  }
  return "";
}

// What an AIFF-C file's COMM chunk names as its compression: "mu-law",
// "IMA ADPCM", ..., or the code itself ("'xyz '"); "" where none is found.
std::string AifcEncoding(wave::FileApi& files, int fd) {
  const std::int64_t length = files.Size(fd);
  for (std::int64_t at = 12; at + 8 <= length;) {
    std::uint8_t chunk[8];
    if (files.ReadAt(fd, chunk, 8, at) != 8) break;
    const std::int64_t size = wave::ReadBe32(chunk + 4);
    if (std::memcmp(chunk, "COMM", 4) == 0) {
      // Channels, frames, sample size, the rate (80 bits), then the type.
      std::uint8_t type[4];
      if (size < 22 || files.ReadAt(fd, type, 4, at + 8 + 18) != 4) break;
      std::string code(type, type + 4);
      for (char& c : code) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
      }
      std::string lower = code;
      for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      const std::string name = lower == "ulaw"   ? "mu-law"
                               : lower == "alaw" ? "A-law"
                               : lower == "ima4" ? "IMA ADPCM"
                               : lower == "gsm " ? "GSM"
                               : lower == "dwvw" ? "DWVW"
                               : lower == "mac3" ? "MACE 3:1"
                               : lower == "mac6" ? "MACE 6:1"
                                                 : "";
      return name.empty() ? "'" + code + "'" : name;
    }
    at += 8 + size + (size & 1);
  }
  return "";
}

struct SndOpener {
  static OpenedSnd Open(wave::FileApi& files, const std::string& path, const std::string& container,
                        const SndOpenOptions& options) {
    auto source = std::unique_ptr<SndSource>(new SndSource());
    int why = 0;
    source->file_.files = &files;
    source->file_.fd = files.OpenExclusive(path, why);
    if (source->file_.fd < 0)
      return {nullptr, {wave::ErrorCode::UnableToOpen, wave::ReasonOf(why)}};
    source->descriptor_ = std::shared_ptr<int>(new int(source->file_.fd), [&files](int* fd) {
      files.Close(*fd);
      delete fd;
    });
    source->sf_ = sf_open_virtual(VirtualFile::Calls(), SFM_READ, &source->sfInfo_, &source->file_);
    const SF_INFO& sf = source->sfInfo_;
    if (!source->sf_ || !Accepted(sf.format)) {
      if (container.empty()) {
        return {
            nullptr,
            {wave::ErrorCode::Unsupported,
             "not a recording Corvella reads (WAV, FLAC, AIFF, Wave64, CAF, Ogg, Opus or MP3)"}};
      }
      const std::string encoding = container == "CAF" ? CafEncoding(files, source->file_.fd) : "";
      return {nullptr,
              {wave::ErrorCode::Unsupported,
               "libsndfile cannot read this " + container +
                   (encoding.empty() ? "" : " (" + encoding + ")") + " file" +
                   (sf_error(nullptr) != SF_ERR_NO_ERROR ? std::string(": ") + sf_strerror(nullptr)
                                                         : "")}};
    }
    const int bits = BitsOf(sf.format);
    if (bits < 0) {
      const int type = sf.format & SF_FORMAT_TYPEMASK;
      const std::string encoding = type == SF_FORMAT_CAF    ? CafEncoding(files, source->file_.fd)
                                   : type == SF_FORMAT_AIFF ? AifcEncoding(files, source->file_.fd)
                                                            : "";
      return {nullptr,
              {wave::ErrorCode::Unsupported, "unsupported sample format" +
                                                 (encoding.empty() ? "" : " (" + encoding + ")") +
                                                 " in this " + ContainerName(sf.format)}};
    }
    if (sf.channels < 1 || sf.channels > 64) {
      return {nullptr,
              {wave::ErrorCode::Unsupported,
               std::to_string(sf.channels) + " channels are not supported (1 to 64 are)"}};
    }
    if (sf.frames <= 0 || sf.frames == SF_COUNT_MAX) return {nullptr, {wave::ErrorCode::EmptyData}};
    std::int64_t frames = sf.frames;
    if ((sf.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_AIFF) {
      if (auto refusal =
              CheckAiff(files, source->file_.fd, options.salvage, frames, source->notes_)) {
        return {nullptr, *refusal};
      }
    }
    wave::SourceInfo& info = source->info_;
    const bool lossy = bits == 0;
    info.channels = sf.channels;
    info.rate = sf.samplerate;
    info.frames = frames;
    source->sfInfo_.frames = frames;
    info.sampleType = bits > 0 && bits <= 32 && !IsFloatFormat(sf.format) ? wave::SampleType::S32
                                                                          : wave::SampleType::F64;
    info.bits = lossy ? 32 : bits;
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

OpenedSnd OpenSnd(wave::FileApi& files, const std::string& path, const std::string& container,
                  const SndOpenOptions& options) {
  return SndOpener::Open(files, path, container, options);
}

SndSource::~SndSource() {
  if (sf_) sf_close(sf_);
}

std::unique_ptr<wave::Source> SndSource::Fork() {
  std::unique_ptr<SndSource> fork(new SndSource());
  fork->descriptor_ = descriptor_;
  fork->file_ = VirtualFile{file_.files, file_.fd, file_.base, 0, 0, false};
  SF_INFO sfInfo{};
  fork->sf_ = sf_open_virtual(VirtualFile::Calls(), SFM_READ, &sfInfo, &fork->file_);
  if (!fork->sf_) return nullptr;
  fork->sfInfo_ = sfInfo_;
  fork->info_ = info_;
  fork->tags_ = tags_;
  return fork;
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
        if (!Lossy() || file_.failed) {
          Fail(file_.failed ? "the file could not be read"
                            : "libsndfile stopped decoding at sample " + std::to_string(frame));
          return done > 0 ? done : -1;
        }
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
