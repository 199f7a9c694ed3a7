#include "sndfile/SndWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "wave/ByteOrder.h"
#include "wave/Samples.h"

namespace corvella::sndfile {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::int64_t kBlockFrames = 16384;

// libsndfile counts the pad byte of an odd-sized SSND chunk as a sample
// of 8-bit mono AIFF: the header is set right afterwards, the chunk's size
// and COMM's frame count, with the pad byte kept as a pad byte.
bool FixAiffSize(wave::FileApi& files, int fd, std::int64_t frames, int frameBytes) {
  const std::int64_t length = files.Size(fd);
  std::uint8_t chunk[8];
  std::int64_t comm = -1, ssnd = -1;
  for (std::int64_t at = 12; at + 8 <= length;) {
    if (files.ReadAt(fd, chunk, 8, at) != 8) return false;
    const std::int64_t size = wave::ReadBe32(chunk + 4);
    if (std::memcmp(chunk, "COMM", 4) == 0) comm = at;
    if (std::memcmp(chunk, "SSND", 4) == 0) ssnd = at;
    at += 8 + size + (size & 1);
  }
  if (comm < 0 || ssnd < 0) return false;
  std::uint8_t offset[4];
  if (files.ReadAt(fd, offset, 4, ssnd + 8) != 4) return false;
  const std::int64_t size = 8 + wave::ReadBe32(offset) + frames * frameBytes;
  auto be32 = [](std::int64_t v, std::uint8_t* p) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
  };
  std::uint8_t field[4];
  be32(size, field);
  if (files.WriteAt(fd, field, 4, ssnd + 4) != 4) return false;
  be32(frames, field);
  return files.WriteAt(fd, field, 4, comm + 10) == 4;
}

int SubtypeFor(const wave::SourceInfo& info, bool lossy) {
  if (lossy) return SF_FORMAT_PCM_24;
  if (wave::IsFloat(info.sampleType)) return info.bits == 64 ? SF_FORMAT_DOUBLE : SF_FORMAT_FLOAT;
  return info.bits <= 8    ? SF_FORMAT_PCM_S8
         : info.bits <= 16 ? SF_FORMAT_PCM_16
         : info.bits <= 24 ? SF_FORMAT_PCM_24
                           : SF_FORMAT_PCM_32;
}

bool Mpeg(int format) { return (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG; }

// The constant bitrates libsndfile spreads its compression level over for
// MP3 at a rate, highest and lowest, in kbit/s: MPEG-1's, 2's, 2.5's.
std::pair<double, double> LibsndfileMp3Range(std::int64_t rate) {
  if (rate >= 32000) return {320, 32};
  if (rate >= 16000) return {160, 8};
  return {64, 8};
}

// The encoder's setting as libsndfile takes it: a compression level from
// 0 to 1 (for MP3, a variable bitrate's quality times a tenth, or where a
// constant bitrate lies between the version's highest and lowest; for Opus,
// where each channel's bitrate lies between 256 and 6 kbit/s), then for MP3
// the bitrate mode, which takes the level again in its own terms.
bool SetEncoding(SNDFILE* sf, int format, const wave::SourceInfo& info, int channels,
                 const SndWriteOptions& options) {
  if (!options.quality && options.bitrate == 0) return true;
  double level = 0;
  if (options.quality) {
    level = *options.quality / 10.0;
  } else if (Mpeg(format)) {
    const auto [high, low] = LibsndfileMp3Range(info.rate);
    // Half a step under the bitrate, so that libsndfile's rounding down
    // lands on it.
    level = (high - (options.bitrate + 0.5)) / (high - low);
  } else {
    const double perChannel = options.bitrate * 1000.0 / channels;
    level = 1.0 - (perChannel - 6000.0 + 0.5) / 250000.0;
  }
  level = std::clamp(level, 0.0, 1.0);
  if (sf_command(sf, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level) != SF_TRUE) return false;
  if (!Mpeg(format)) return true;
  int mode = options.quality ? SF_BITRATE_MODE_VARIABLE : SF_BITRATE_MODE_CONSTANT;
  return sf_command(sf, SFC_SET_BITRATE_MODE, &mode, sizeof mode) == SF_TRUE;
}

}  // namespace

int WaveFormatFor(const wave::SourceInfo& info, bool lossy) {
  int format = SF_FORMAT_WAV | SubtypeFor(info, lossy);
  if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_S8) format = SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
  if (lossy) format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  return format;
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
  const int sub = options.format & SF_FORMAT_SUBMASK;
  const bool floats = sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE;
  VirtualFile file{&out->Files(), out->Descriptor()};
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
  // What goes before libsndfile's stream: it writes from its own start on.
  if (!options.prefix.empty()) {
    const auto bytes = static_cast<std::int64_t>(options.prefix.size());
    if (out->Files().WriteAt(out->Descriptor(), options.prefix.data(), bytes, 0) != bytes)
      return wave::WriteFailure(*out);
    file.base = bytes;
  }
  SNDFILE* sf = sf_open_virtual(VirtualFile::Calls(), SFM_WRITE, &sfInfo, &file);
  if (!sf) return {wave::ErrorCode::UnableToWrite, sf_strerror(nullptr)};
  if (!SetEncoding(sf, options.format, info, channels, options)) {
    const std::string why = sf_strerror(sf);
    sf_close(sf);
    return {wave::ErrorCode::UnableToWrite, "the encoder refuses the setting (" + why + ")"};
  }
  // An MP3 part's names are in the tag before it (libsndfile's own are
  // Latin-1 only).
  if (options.track && !Mpeg(options.format)) {
    const wave::TrackTags& track = *options.track;
    const std::string number = std::to_string(track.number);
    for (const auto& [field, text] : {std::pair{SF_STR_TITLE, &track.title},
                                      {SF_STR_TRACKNUMBER, &number},
                                      {SF_STR_ARTIST, &track.artist},
                                      {SF_STR_ALBUM, &track.album},
                                      {SF_STR_DATE, &track.date},
                                      {SF_STR_GENRE, &track.genre},
                                      {SF_STR_COMMENT, &track.comment}}) {
      if (!text->empty()) sf_set_string(sf, field, text->c_str());
    }
  }

  const std::int64_t frameBytes = info.FrameBytes();
  Bytes raw(static_cast<std::size_t>(kBlockFrames * frameBytes));
  std::vector<std::int32_t> ints(floats ? 0
                                        : static_cast<std::size_t>(kBlockFrames * info.channels));
  std::vector<double> doubles(floats ? static_cast<std::size_t>(kBlockFrames * info.channels) : 0);
  const int shift = wave::IsFloat(info.sampleType) ? 0 : 32 - info.bits;
  bool ok = true;
  for (std::int64_t frame = start; ok && frame < end;) {
    if (options.stopRequested && options.stopRequested()) {
      sf_close(sf);
      return {wave::ErrorCode::Stopped};
    }
    const std::int64_t count = std::min(end - frame, kBlockFrames);
    const std::int64_t bytes = count * frameBytes;
    if (source.ReadSamples(frame * frameBytes, raw.data(), bytes) != bytes) {
      sf_close(sf);
      return {wave::ErrorCode::UnableToWrite, source.Failure()};
    }
    const auto samples = static_cast<std::size_t>(count * info.channels);
    sf_count_t put = 0;
    if (floats) {
      wave::ToDoubles(raw.data(), info.sampleType, samples, doubles.data());
      if (mix) wave::MixFrames(doubles.data(), static_cast<std::size_t>(count), info.channels);
      put = sf_writef_double(sf, doubles.data(), count);
    } else {
      wave::ToLeftAligned(raw.data(), info.sampleType, samples, ints.data());
      if (mix) {
        // Mixed at the recording's own width, and put back at the top.
        for (std::size_t i = 0; i < samples; ++i) ints[i] >>= shift;
        wave::MixFrames(ints.data(), static_cast<std::size_t>(count), info.channels);
        for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i)
          ints[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(ints[i]) << shift);
      }
      put = sf_writef_int(sf, ints.data(), count);
    }
    ok = put == count && !file.failed;
    frame += count;
  }
  ok = sf_close(sf) == 0 && ok && !file.failed;
  const int width = sub == SF_FORMAT_PCM_S8 || sub == SF_FORMAT_PCM_U8 ? 1
                    : sub == SF_FORMAT_PCM_24                          ? 3
                                                                       : 2;
  if (ok && (options.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_AIFF &&
      ((end - start) * channels * width) % 2 == 1) {
    ok = FixAiffSize(out->Files(), out->Descriptor(), end - start, channels * width);
  }
  if (file.failure != 0) out->Fail(file.failure);
  if (!ok) return wave::WriteFailure(*out);
  return wave::PublishPart(*out, folder, name, options.keep, written);
}

}  // namespace corvella::sndfile
