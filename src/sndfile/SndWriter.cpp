#include "sndfile/SndWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <vector>

#include "wave/ByteOrder.h"

namespace corvella::sndfile {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::int64_t kBlockFrames = 16384;
// Room left in a FLAC part's metadata for tags a user adds later.
constexpr std::int64_t kFlacPadding = 8192;

// Samples of any delivered type as 32-bit integers, each b-bit value shifted
// to the top, or as doubles.
void ToIntegers(const std::uint8_t* in, wave::SampleType type, std::size_t count,
                std::int32_t* out) {
  for (std::size_t i = 0; i < count; ++i) {
    switch (type) {
      case wave::SampleType::U8:
        out[i] = static_cast<std::int32_t>((in[i] - 128) * 16777216);
        break;
      case wave::SampleType::S16:
        out[i] = static_cast<std::int32_t>(static_cast<std::int16_t>(wave::ReadLe16(in + 2 * i)) *
                                           65536);
        break;
      case wave::SampleType::S24:
        out[i] =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(wave::ReadLe24(in + 3 * i)) << 8);
        break;
      case wave::SampleType::S32:
        std::memcpy(&out[i], in + 4 * i, 4);
        break;
      case wave::SampleType::F32: {
        float f;
        std::memcpy(&f, in + 4 * i, 4);
        out[i] =
            static_cast<std::int32_t>(std::lrint(std::clamp(double{f}, -1.0, 1.0) * 2147483647.0));
        break;
      }
      case wave::SampleType::F64: {
        double d;
        std::memcpy(&d, in + 8 * i, 8);
        out[i] = static_cast<std::int32_t>(
            std::lrint((std::isnan(d) ? 0.0 : std::clamp(d, -1.0, 1.0)) * 2147483647.0));
        break;
      }
    }
  }
}

void ToDoubles(const std::uint8_t* in, wave::SampleType type, std::size_t count, double* out) {
  for (std::size_t i = 0; i < count; ++i) {
    if (type == wave::SampleType::F32) {
      float f;
      std::memcpy(&f, in + 4 * i, 4);
      out[i] = f;
    } else if (type == wave::SampleType::F64) {
      std::memcpy(&out[i], in + 8 * i, 8);
    } else {
      std::int32_t v = 0;
      ToIntegers(in + i * static_cast<std::size_t>(wave::BytesOf(type)), type, 1, &v);
      out[i] = v / 2147483648.0;
    }
  }
}

// One channel from each frame: the mean of its samples, integers in their
// own width rounded toward zero, floats in double precision.
template <typename T>
void MixDown(T* samples, std::size_t frames, int channels, int shift) {
  for (std::size_t f = 0; f < frames; ++f) {
    if constexpr (std::is_same_v<T, double>) {
      double sum = 0;
      for (int c = 0; c < channels; ++c) sum += samples[f * channels + c];
      samples[f] = sum / channels;
    } else {
      std::int64_t sum = 0;
      for (int c = 0; c < channels; ++c) sum += samples[f * channels + c] >> shift;
      samples[f] = static_cast<T>(static_cast<std::uint32_t>(sum / channels) << shift);
    }
  }
}

void PutBe24(Bytes& out, std::size_t value) {
  for (int shift : {16, 8, 0}) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutLe32(Bytes& out, std::size_t value) {
  for (int shift : {0, 8, 16, 24}) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// The Vorbis comment block's body: the vendor, then "FIELD=value" entries.
Bytes Comments(const std::string& vendor, const SndWriteOptions& options) {
  std::vector<std::string> entries{"TITLE=" + options.title,
                                   "TRACKNUMBER=" + std::to_string(options.track),
                                   "TRACKTOTAL=" + std::to_string(options.tracks)};
  const std::pair<const char*, const std::string*> carried[] = {{"ARTIST", &options.tags.artist},
                                                                {"ALBUM", &options.tags.album},
                                                                {"DATE", &options.tags.date},
                                                                {"GENRE", &options.tags.genre},
                                                                {"COMMENT", &options.tags.comment}};
  for (const auto& [field, value] : carried) {
    if (!value->empty()) entries.push_back(std::string(field) + "=" + *value);
  }
  Bytes body;
  PutLe32(body, vendor.size());
  body.insert(body.end(), vendor.begin(), vendor.end());
  PutLe32(body, entries.size());
  for (const std::string& entry : entries) {
    PutLe32(body, entry.size());
    body.insert(body.end(), entry.begin(), entry.end());
  }
  return body;
}

// Rewrites the metadata libsndfile wrote `base` bytes into the file, so the
// file starts with it: STREAMINFO and the other blocks as they were, the
// part's own Vorbis comment, and padding up to where the audio starts.
bool TagFlac(wave::FileApi& files, int fd, std::int64_t base, const SndWriteOptions& options) {
  Bytes head(static_cast<std::size_t>(std::min<std::int64_t>(files.Size(fd) - base, 1 << 20)));
  if (head.size() < 8 ||
      files.ReadAt(fd, head.data(), static_cast<std::int64_t>(head.size()), base) !=
          static_cast<std::int64_t>(head.size()) ||
      std::memcmp(head.data(), "fLaC", 4) != 0) {
    return false;
  }
  Bytes blocks;  // all but the Vorbis comment and padding, headers included
  std::string vendor = "Corvella 1.07";
  std::size_t at = 4;
  for (bool last = false; !last;) {
    if (at + 4 > head.size()) return false;
    last = (head[at] & 0x80) != 0;
    const int type = head[at] & 0x7F;
    const std::size_t length =
        (std::size_t{head[at + 1]} << 16) | (std::size_t{head[at + 2]} << 8) | head[at + 3];
    if (at + 4 + length > head.size()) return false;
    if (type == 4 && length >= 4) {  // VORBIS_COMMENT: keep its vendor
      const std::size_t size = wave::ReadLe32(head.data() + at + 4);
      if (size <= length - 4)
        vendor.assign(reinterpret_cast<const char*>(head.data() + at + 8), size);
    } else if (type != 1) {  // PADDING goes
      blocks.insert(blocks.end(), head.begin() + static_cast<std::ptrdiff_t>(at),
                    head.begin() + static_cast<std::ptrdiff_t>(at + 4 + length));
      blocks[blocks.size() - 4 - length] &= 0x7F;
    }
    at += 4 + length;
  }
  const Bytes comments = Comments(vendor, options);
  Bytes metadata{'f', 'L', 'a', 'C'};
  metadata.insert(metadata.end(), blocks.begin(), blocks.end());
  metadata.push_back(4);
  PutBe24(metadata, comments.size());
  metadata.insert(metadata.end(), comments.begin(), comments.end());
  const std::int64_t room =
      base + static_cast<std::int64_t>(at) - static_cast<std::int64_t>(metadata.size()) - 4;
  if (room < 0 || room >= (1 << 24)) return false;
  metadata.push_back(0x80 | 1);  // the last block: padding
  PutBe24(metadata, static_cast<std::size_t>(room));
  metadata.resize(metadata.size() + static_cast<std::size_t>(room), 0);
  return files.WriteAt(fd, metadata.data(), static_cast<std::int64_t>(metadata.size()), 0) ==
         static_cast<std::int64_t>(metadata.size());
}

int SubtypeFor(const wave::SourceInfo& info, bool lossy) {
  if (lossy) return SF_FORMAT_PCM_24;
  if (wave::IsFloat(info.sampleType))
    return info.sampleType == wave::SampleType::F32 ? SF_FORMAT_FLOAT : SF_FORMAT_DOUBLE;
  return info.bits <= 8    ? SF_FORMAT_PCM_S8
         : info.bits <= 16 ? SF_FORMAT_PCM_16
         : info.bits <= 24 ? SF_FORMAT_PCM_24
                           : SF_FORMAT_PCM_32;
}

}  // namespace

wave::Error PartFormat(const wave::SourceInfo& info, int sourceFormat, bool lossy,
                       const std::string& target, int& format) {
  if (target.empty()) {
    if (lossy) {
      return {wave::ErrorCode::Unsupported,
              "a lossy " + ContainerName(sourceFormat) + " recording is not split into " +
                  ContainerName(sourceFormat) +
                  " again (a second lossy generation); give --to flac or --to wav"};
    }
    format = sourceFormat;
    return {};
  }
  const bool floats = wave::IsFloat(info.sampleType) && !lossy;
  if (target == "flac") {
    if (floats) {
      return {
          wave::ErrorCode::Unsupported,
          "a float recording cannot become FLAC, which holds integer samples only; give --to wav"};
    }
    if (!lossy && info.bits > 24) {
      return {wave::ErrorCode::Unsupported,
              "a " + std::to_string(info.bits) +
                  "-bit recording cannot become FLAC here (libsndfile writes FLAC of "
                  "up to 24 bits); give --to wav"};
    }
    format = SF_FORMAT_FLAC | (info.bits <= 8 && !lossy    ? SF_FORMAT_PCM_S8
                               : info.bits <= 16 && !lossy ? SF_FORMAT_PCM_16
                                                           : SF_FORMAT_PCM_24);
    return {};
  }
  // Plain WAV: 8-bit samples are unsigned there, and a lossy recording's
  // decoded samples are kept as they are, in float.
  format = SF_FORMAT_WAV | SubtypeFor(info, lossy);
  if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_S8) format = SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
  if (lossy) format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  return {};
}

wave::Error WritePart(wave::Source& source, std::int64_t start, std::int64_t end,
                      wave::Folder& folder, const std::string& name, const SndWriteOptions& options,
                      wave::FileId* written) {
  wave::Error error;
  std::unique_ptr<wave::MmioFile> out = wave::CreatePart(folder, name, options.keep, error);
  if (!out) return error;

  const wave::SourceInfo& info = source.Info();
  const bool mix = options.mono && info.channels > 1;
  const int channels = mix ? 1 : info.channels;
  const bool flac = (options.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC;
  const int sub = options.format & SF_FORMAT_SUBMASK;
  const bool floats = sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE;
  VirtualFile file{
      &out->Files(), out->Descriptor(),
      flac ? static_cast<std::int64_t>(Comments("", options).size()) + 4 + kFlacPadding : 0};
  SF_INFO sfInfo{};
  sfInfo.samplerate = static_cast<int>(info.rate);
  sfInfo.channels = channels;
  sfInfo.format = options.format;
  // A WAV part too large for RIFF's sizes is RF64.
  const std::int64_t sampleBytes = sub == SF_FORMAT_DOUBLE   ? 8
                                   : sub == SF_FORMAT_PCM_16 ? 2
                                   : sub == SF_FORMAT_PCM_U8 ? 1
                                                             : 4;
  if ((sfInfo.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV &&
      (end - start) * channels * sampleBytes > 0xFFFF0000LL) {
    sfInfo.format = SF_FORMAT_RF64 | sub;
  }
  SNDFILE* sf = sf_open_virtual(VirtualFile::Calls(), SFM_WRITE, &sfInfo, &file);
  if (!sf) return {wave::ErrorCode::UnableToWrite, sf_strerror(nullptr)};

  const std::int64_t frameBytes = info.FrameBytes();
  Bytes raw(static_cast<std::size_t>(kBlockFrames * frameBytes));
  std::vector<std::int32_t> ints(floats ? 0
                                        : static_cast<std::size_t>(kBlockFrames * info.channels));
  std::vector<double> doubles(floats ? static_cast<std::size_t>(kBlockFrames * info.channels) : 0);
  const int shift = 32 - info.bits;
  bool ok = true;
  for (std::int64_t frame = start; ok && frame < end;) {
    if (options.stopRequested && options.stopRequested()) {
      sf_close(sf);
      return {wave::ErrorCode::Stopped};
    }
    const std::int64_t count = std::min(end - frame, kBlockFrames);
    const std::int64_t bytes = count * frameBytes;
    if (source.ReadSamples(frame * frameBytes, raw.data(), bytes) != bytes) {
      ok = false;
      break;
    }
    const auto samples = static_cast<std::size_t>(count * info.channels);
    sf_count_t put = 0;
    if (floats) {
      ToDoubles(raw.data(), info.sampleType, samples, doubles.data());
      if (mix) MixDown(doubles.data(), static_cast<std::size_t>(count), info.channels, 0);
      put = sf_writef_double(sf, doubles.data(), count);
    } else {
      ToIntegers(raw.data(), info.sampleType, samples, ints.data());
      if (mix)
        MixDown(ints.data(), static_cast<std::size_t>(count), info.channels,
                wave::IsFloat(info.sampleType) ? 0 : shift);
      put = sf_writef_int(sf, ints.data(), count);
    }
    ok = put == count && !file.failed;
    frame += count;
  }
  ok = sf_close(sf) == 0 && ok && !file.failed;
  if (ok && flac) ok = TagFlac(out->Files(), out->Descriptor(), file.base, options);
  if (!ok) return {wave::ErrorCode::UnableToWrite};
  const wave::FileId id = out->Id();
  if (!out->Publish()) return {wave::ErrorCode::UnableToWrite};
  if (written) *written = id;
  return {};
}

}  // namespace corvella::sndfile
