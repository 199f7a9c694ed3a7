#include "flac/FlacWriter.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "wave/ByteOrder.h"
#include "wave/Samples.h"

namespace corvella::flac {
namespace {

constexpr std::int64_t kBlockFrames = 16384;
// Room left in a part's metadata for tags a user adds later.
constexpr unsigned kPadding = 8192;
// A seek point every this many seconds, as flac sets them.
constexpr std::int64_t kSeekSeconds = 10;

// The encoder's output, written into the part under way.
struct Output {
  wave::MmioFile* file;
};

FLAC__StreamEncoderWriteStatus Write(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                     size_t bytes, uint32_t, uint32_t, void* user) {
  auto* out = static_cast<Output*>(user);
  const auto count = static_cast<std::int64_t>(bytes);
  return out->file->Write(buffer, count) == count ? FLAC__STREAM_ENCODER_WRITE_STATUS_OK
                                                  : FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
}

FLAC__StreamEncoderSeekStatus Seek(const FLAC__StreamEncoder*, FLAC__uint64 offset, void* user) {
  static_cast<Output*>(user)->file->Seek(static_cast<std::int64_t>(offset));
  return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
}

FLAC__StreamEncoderTellStatus Tell(const FLAC__StreamEncoder*, FLAC__uint64* offset, void* user) {
  *offset = static_cast<FLAC__uint64>(static_cast<Output*>(user)->file->Position());
  return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

// The metadata blocks of a part, owned here and handed to the encoder.
class Blocks {
 public:
  ~Blocks() {
    for (FLAC__StreamMetadata* block : blocks_) FLAC__metadata_object_delete(block);
  }
  bool Add(FLAC__StreamMetadata* block) {
    if (!block) return false;
    blocks_.push_back(block);
    return true;
  }
  FLAC__StreamMetadata** data() { return blocks_.data(); }
  unsigned size() const { return static_cast<unsigned>(blocks_.size()); }

 private:
  std::vector<FLAC__StreamMetadata*> blocks_;
};

bool AddComment(FLAC__StreamMetadata* comments, const char* field, const std::string& value) {
  FLAC__StreamMetadata_VorbisComment_Entry entry;
  if (!FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, field, value.c_str()))
    return false;
  return FLAC__metadata_object_vorbiscomment_append_comment(comments, entry, /*copy=*/false) != 0;
}

bool MakeBlocks(const FlacPartOptions& options, int channels, std::int64_t rate,
                std::int64_t frames, Blocks& blocks) {
  FLAC__StreamMetadata* comments = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
  if (!blocks.Add(comments)) return false;
  bool ok = AddComment(comments, "TITLE", options.title) &&
            AddComment(comments, "TRACKNUMBER", std::to_string(options.track)) &&
            AddComment(comments, "TRACKTOTAL", std::to_string(options.tracks));
  const std::pair<const char*, const std::string*> carried[] = {{"ARTIST", &options.tags.artist},
                                                                {"ALBUM", &options.tags.album},
                                                                {"DATE", &options.tags.date},
                                                                {"GENRE", &options.tags.genre},
                                                                {"COMMENT", &options.tags.comment}};
  for (const auto& [field, value] : carried) {
    if (ok && !value->empty()) ok = AddComment(comments, field, *value);
  }
  if (ok && options.channelMask != 0 && options.channelMask != DefaultMask(channels)) {
    char mask[16];
    std::snprintf(mask, sizeof mask, "0x%04X", options.channelMask);
    ok = AddComment(comments, "WAVEFORMATEXTENSIBLE_CHANNEL_MASK", mask);
  }
  if (!ok) return false;

  FLAC__StreamMetadata* seekTable = FLAC__metadata_object_new(FLAC__METADATA_TYPE_SEEKTABLE);
  if (!blocks.Add(seekTable) ||
      !FLAC__metadata_object_seektable_template_append_spaced_points_by_samples(
          seekTable, static_cast<uint32_t>(std::min<std::int64_t>(rate * kSeekSeconds, 1 << 30)),
          static_cast<FLAC__uint64>(frames)) ||
      !FLAC__metadata_object_seektable_template_sort(seekTable, /*compact=*/true)) {
    return false;
  }

  for (const std::vector<std::uint8_t>& body : options.riffBlocks) {
    FLAC__StreamMetadata* block = FLAC__metadata_object_new(FLAC__METADATA_TYPE_APPLICATION);
    if (!blocks.Add(block)) return false;
    std::memcpy(block->data.application.id, "riff", 4);
    if (!FLAC__metadata_object_application_set_data(block, const_cast<FLAC__byte*>(body.data()),
                                                    static_cast<unsigned>(body.size()),
                                                    /*copy=*/true)) {
      return false;
    }
  }

  FLAC__StreamMetadata* padding = FLAC__metadata_object_new(FLAC__METADATA_TYPE_PADDING);
  if (!blocks.Add(padding)) return false;
  padding->length = kPadding;
  return true;
}

struct EncoderDeleter {
  void operator()(FLAC__StreamEncoder* encoder) const { FLAC__stream_encoder_delete(encoder); }
};

}  // namespace

std::uint32_t DefaultMask(int channels) {
  // Mono; stereo; with a centre; quadraphonic (back); 5.0 and 5.1 with side
  // speakers; 6.1; 7.1.
  static constexpr std::uint32_t kMasks[] = {0, 0x4, 0x3, 0x7, 0x33, 0x607, 0x60F, 0x70F, 0x63F};
  return channels >= 1 && channels <= kMostChannels ? kMasks[channels] : 0;
}

wave::Error FlacRefusal(const wave::SourceInfo& info, bool lossy, bool mono) {
  if (wave::IsFloat(info.sampleType) && !lossy) {
    return {
        wave::ErrorCode::Unsupported,
        "a float recording cannot become FLAC, which holds integer samples only; give --to wav"};
  }
  if (info.channels > kMostChannels && !mono) {
    return {wave::ErrorCode::Unsupported, "FLAC holds at most 8 channels, and this recording has " +
                                              std::to_string(info.channels) +
                                              "; give --to wav, or --mono"};
  }
  if (info.rate < 1 || info.rate > kHighestRate) {
    return {wave::ErrorCode::Unsupported, "FLAC holds rates up to 1048575 Hz, not " +
                                              std::to_string(info.rate) + " Hz; give --to wav"};
  }
  return {};
}

wave::Error WritePart(wave::Source& source, std::int64_t start, std::int64_t end,
                      wave::Folder& folder, const std::string& name, const FlacPartOptions& options,
                      wave::FileId* written) {
  const wave::SourceInfo& info = source.Info();
  const bool lossy = wave::IsFloat(info.sampleType);
  if (wave::Error refusal = FlacRefusal(info, lossy, options.mono)) return refusal;
  wave::Error error;
  std::unique_ptr<wave::MmioFile> out = wave::CreatePart(folder, name, options.keep, error);
  if (!out) return error;

  const bool mix = options.mono && info.channels > 1;
  const int channels = mix ? 1 : info.channels;
  const int bits = lossy ? 24 : info.bits;
  const std::int64_t frames = std::max<std::int64_t>(end - start, 0);

  std::unique_ptr<FLAC__StreamEncoder, EncoderDeleter> encoder(FLAC__stream_encoder_new());
  Blocks blocks;
  FlacPartOptions tagged = options;
  if (mix) tagged.channelMask = 0;
  if (!encoder || !MakeBlocks(tagged, channels, info.rate, frames, blocks))
    return {wave::ErrorCode::UnableToWrite, "out of memory"};
  Output output{out.get()};
  FLAC__StreamEncoderInitStatus init = FLAC__STREAM_ENCODER_INIT_STATUS_OK;
  // The subset that every player takes where the stream allows it; beyond
  // it (more than 24 bits, odd rates) the full format.
  for (bool subset : {true, false}) {
    FLAC__StreamEncoder* e = encoder.get();
    FLAC__stream_encoder_set_channels(e, static_cast<uint32_t>(channels));
    FLAC__stream_encoder_set_bits_per_sample(e, static_cast<uint32_t>(bits));
    FLAC__stream_encoder_set_sample_rate(e, static_cast<uint32_t>(info.rate));
    FLAC__stream_encoder_set_compression_level(e, 5);
    FLAC__stream_encoder_set_streamable_subset(e, subset);
    FLAC__stream_encoder_set_total_samples_estimate(e, static_cast<FLAC__uint64>(frames));
    FLAC__stream_encoder_set_metadata(e, blocks.data(), blocks.size());
    init = FLAC__stream_encoder_init_stream(e, Write, Seek, Tell, nullptr, &output);
    if (init != FLAC__STREAM_ENCODER_INIT_STATUS_NOT_STREAMABLE) break;
    FLAC__stream_encoder_finish(e);
  }
  if (init != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
    if (out->Failure() != 0) return wave::WriteFailure(*out);
    return {wave::ErrorCode::UnableToWrite,
            std::string("libFLAC cannot encode it: ") + FLAC__StreamEncoderInitStatusString[init]};
  }

  const int frameBytes = info.FrameBytes();
  // The recording's own b-bit values; a lossy recording's floats as 32-bit
  // integers, narrowed to 24 bits once mixed.
  const int shift = wave::LeftShiftOf(info.sampleType, info.bits);
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(kBlockFrames * frameBytes));
  std::vector<FLAC__int32> samples(static_cast<std::size_t>(kBlockFrames * info.channels));
  bool ok = true;
  for (std::int64_t frame = start; ok && frame < start + frames;) {
    if (options.stopRequested && options.stopRequested()) {
      FLAC__stream_encoder_finish(encoder.get());
      return {wave::ErrorCode::Stopped};
    }
    const std::int64_t count = std::min(start + frames - frame, kBlockFrames);
    const std::int64_t bytes = count * frameBytes;
    if (source.ReadSamples(frame * frameBytes, raw.data(), bytes) != bytes) {
      FLAC__stream_encoder_finish(encoder.get());
      return {wave::ErrorCode::UnableToWrite, source.Failure()};
    }
    const auto taken = static_cast<std::size_t>(count * info.channels);
    wave::ToLeftAligned(raw.data(), info.sampleType, taken, samples.data());
    for (std::size_t i = 0; i < taken; ++i) samples[i] >>= shift;
    if (mix) wave::MixFrames(samples.data(), static_cast<std::size_t>(count), info.channels);
    if (lossy) {
      for (std::size_t i = 0; i < static_cast<std::size_t>(count * channels); ++i) samples[i] >>= 8;
    }
    ok = FLAC__stream_encoder_process_interleaved(encoder.get(), samples.data(),
                                                  static_cast<uint32_t>(count)) != 0;
    frame += count;
  }
  ok = FLAC__stream_encoder_finish(encoder.get()) != 0 && ok;
  if (!ok) return wave::WriteFailure(*out);
  return wave::PublishPart(*out, folder, name, options.keep, written);
}

}  // namespace corvella::flac
