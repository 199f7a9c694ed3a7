#include "formats/Formats.h"

#include "formats/DecodedWave.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "flac/FlacSource.h"
#include "flac/FlacWriter.h"
#include "mp3/Mp3Source.h"
#include "mp3/Mp3Writer.h"
#include "sndfile/SndSource.h"
#include "sndfile/SndWriter.h"
#include "wave/ByteOrder.h"
#include "wave/Utf8.h"
#include "wave/WaveSource.h"

namespace corvella::formats {
namespace {

using Bytes = std::vector<std::uint8_t>;

enum class Kind { Unknown, Wave, Flac, Aiff, Caf, Ogg, Mp3 };

// What the first bytes of the file say it is.
Kind Sniff(wave::FileApi& files, const std::string& path, int& why) {
  const int fd = files.OpenExclusive(path, why);
  if (fd < 0) return Kind::Wave;  // the WAV reader says why it cannot be opened
  std::uint8_t head[64] = {};
  const std::int64_t got = std::max<std::int64_t>(files.ReadAt(fd, head, sizeof head, 0), 0);
  auto is = [&](std::size_t at, const char* text) {
    const std::size_t n = std::strlen(text);
    return static_cast<std::size_t>(got) >= at + n && std::memcmp(head + at, text, n) == 0;
  };
  Kind kind = Kind::Unknown;
  if (wave::LooksLikeWave(head, static_cast<std::size_t>(got))) {
    kind = Kind::Wave;
  } else if (is(0, "fLaC")) {
    kind = Kind::Flac;
  } else if (is(0, "ID3") && got >= 10) {
    // ID3v2 tags before FLAC or MP3: what follows them says which.
    std::uint8_t magic[4] = {};
    kind = files.ReadAt(fd, magic, 4, wave::PastId3v2Tags(files, fd)) == 4 &&
                   std::memcmp(magic, "fLaC", 4) == 0
               ? Kind::Flac
               : Kind::Mp3;
  } else if (is(0, "FORM") && (is(8, "AIFF") || is(8, "AIFC"))) {
    kind = Kind::Aiff;
  } else if (is(0, "caff")) {
    kind = Kind::Caf;
  } else if (is(0, "OggS")) {
    kind = Kind::Ogg;
  } else if (got >= 2 && head[0] == 0xFF && (head[1] & 0xE0) == 0xE0) {
    kind = Kind::Mp3;
  }
  files.Close(fd);
  return kind;
}

bool NamedWav(const std::string& path) {
  if (path.size() < 4) return false;
  const std::string end = path.substr(path.size() - 4);
  return end[0] == '.' && (end[1] | 0x20) == 'w' && (end[2] | 0x20) == 'a' &&
         (end[3] | 0x20) == 'v';
}

std::string Stem(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string ChunkName(std::uint32_t id) {
  std::string name(4, ' ');
  for (int i = 0; i < 4; ++i) name[static_cast<std::size_t>(i)] = static_cast<char>(id >> (8 * i));
  return name;
}

void PutLe(Bytes& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

Bytes Chunk(std::uint32_t id, const Bytes& body) {
  Bytes chunk;
  PutLe(chunk, id, 4);
  PutLe(chunk, body.size(), 4);
  chunk.insert(chunk.end(), body.begin(), body.end());
  if (body.size() & 1) chunk.push_back(0);
  return chunk;
}

// The chunks of a WAV file around a part's samples, as the APPLICATION
// blocks "riff" of flac --keep-foreign-metadata hold them: the outer
// header, every chunk in the source's order (the part's own fmt in its
// place, a broadcast chunk's time reference moved on to the part), the
// data chunk's header where the samples go, and the chunks after them.
// Chunks too large for a block are left out (the plan said so).
std::optional<wave::Error> RiffBlocks(wave::WaveSource& source, std::int64_t start,
                                      std::int64_t frames, bool mono,
                                      const std::optional<wave::TrackTags>& track,
                                      std::vector<Bytes>& blocks) {
  const wave::SourceInfo& info = source.Info();
  const bool mix = mono && info.channels > 1;
  const std::uint64_t dataBytes =
      static_cast<std::uint64_t>(frames) *
      static_cast<std::uint64_t>(mix ? wave::BytesOf(info.sampleType) : info.FrameBytes());
  std::vector<Bytes> before, after;
  Bytes body;
  for (const wave::ChunkPlace& place : source.Chunks()) {
    if (place.id == wave::FourCC("fmt ")) {
      before.push_back(Chunk(place.id, wave::PartFormatBody(source, mix)));
      continue;
    }
    if (static_cast<std::uint64_t>(place.size) + 9 > flac::kLargestBlock) continue;
    if (wave::Error error = wave::ChunkBody(source, place, start, frames, track, body)) return error;
    (place.afterData ? after : before).push_back(Chunk(place.id, body));
  }
  std::uint64_t riff = 4 + 8 + dataBytes + (dataBytes & 1);
  for (const auto* list : {&before, &after}) {
    for (const Bytes& chunk : *list) riff += chunk.size();
  }
  const bool rf64 = riff > 0xFFFFFFFF || dataBytes > 0xFFFFFFFF;
  Bytes outer;
  PutLe(outer, wave::FourCC(rf64 ? "RF64" : "RIFF"), 4);
  PutLe(outer, rf64 ? 0xFFFFFFFF : riff, 4);
  PutLe(outer, wave::FourCC("WAVE"), 4);
  blocks.push_back(outer);
  if (rf64) {
    Bytes ds64;
    PutLe(ds64, riff + 36, 8);
    PutLe(ds64, dataBytes, 8);
    PutLe(ds64, static_cast<std::uint64_t>(frames), 8);
    PutLe(ds64, 0, 4);
    blocks.push_back(Chunk(wave::FourCC("ds64"), ds64));
  }
  blocks.insert(blocks.end(), before.begin(), before.end());
  Bytes data;
  PutLe(data, wave::FourCC("data"), 4);
  PutLe(data, rf64 ? 0xFFFFFFFF : dataBytes, 4);
  blocks.push_back(data);
  blocks.insert(blocks.end(), after.begin(), after.end());
  return std::nullopt;
}

// A part's title and tags: its track's where a track list names it, else
// its file name's stem and the source's tags.
void TitleAndTags(const PartPlan::Part& part, const wave::Tags& source, std::string& title,
                  wave::Tags& tags) {
  title = Stem(part.name);
  tags = source;
  if (!part.track) return;
  title = part.track->title;
  for (auto [tag, given] : {std::pair{&tags.artist, &part.track->artist},
                            {&tags.album, &part.track->album},
                            {&tags.date, &part.track->date}}) {
    if (!given->empty()) *tag = *given;
  }
}

std::string Listed(const std::vector<int>& values) {
  std::string text;
  for (std::size_t k = 0; k < values.size(); ++k) {
    if (k > 0) text += k + 1 == values.size() ? " or " : ", ";
    text += std::to_string(values[k]);
  }
  return text;
}

// Why a part of `info` cannot be encoded as MP3 or Opus with these
// settings; nothing when it can.
std::optional<wave::Error> EncodingRefusal(const wave::SourceInfo& info, PartTarget target,
                                           bool mono, int bitrate) {
  const int channels = mono ? 1 : info.channels;
  const std::string rate = std::to_string(info.rate) + " Hz";
  if (target == PartTarget::Mp3) {
    std::vector<int> rates = mp3::LayerIIIBitrates(info.rate);
    if (rates.empty()) {
      return wave::Error{wave::ErrorCode::Unsupported,
                         "MP3 parts take 8, 11.025, 12, 16, 22.05, 24, 32, 44.1 or 48 kHz, and this "
                         "recording is " + rate + ": give --to flac, or resample it first"};
    }
    if (channels > 2) {
      return wave::Error{wave::ErrorCode::Unsupported,
                         "MP3 parts hold one or two channels, and this recording has " +
                             std::to_string(channels) + ": give --mono, or --to flac"};
    }
    // LAME encodes MPEG-2.5 (the rates under 16 kHz) at 64 kbit/s at most.
    if (info.rate < 16000) std::erase_if(rates, [](int kbps) { return kbps > 64; });
    if (bitrate != 0 && std::find(rates.begin(), rates.end(), bitrate) == rates.end()) {
      return wave::Error{wave::ErrorCode::Unsupported,
                         "MP3 at " + rate + " takes a --bitrate of " + Listed(rates) + " kbit/s"};
    }
  }
  if (target == PartTarget::Opus) {
    if (info.rate != 8000 && info.rate != 12000 && info.rate != 16000 && info.rate != 24000 &&
        info.rate != 48000) {
      return wave::Error{wave::ErrorCode::Unsupported,
                         "Opus parts take 8, 12, 16, 24 or 48 kHz, and this recording is " + rate +
                             ": give --to mp3 or --to flac, or resample it first"};
    }
    if (channels > 2) {
      return wave::Error{wave::ErrorCode::Unsupported,
                         "Opus parts are written with one or two channels here, and this recording "
                         "has " + std::to_string(channels) + ": give --mono, or --to flac"};
    }
    if (bitrate != 0 && (bitrate < 6 * channels || bitrate > 256 * channels)) {
      return wave::Error{wave::ErrorCode::Unsupported,
                         "Opus takes a --bitrate of " + std::to_string(6 * channels) + " to " +
                             std::to_string(256 * channels) + " kbit/s for " +
                             std::to_string(channels) +
                             (channels == 1 ? " channel" : " channels")};
    }
  }
  return std::nullopt;
}

}  // namespace

OpenedSource OpenSource(wave::FileApi& files, const std::string& path, const OpenOptions& options) {
  int why = 0;
  const Kind kind = Sniff(files, path, why);
  OpenedSource opened;
  switch (kind) {
    case Kind::Wave: {
      wave::OpenedWave wave =
          wave::OpenWave(files, path, {wave::Acceptance::AnyWave, options.salvage});
      return {std::move(wave.source), wave.error};
    }
    case Kind::Flac: {
      flac::OpenedFlac flac = flac::OpenFlac(files, path, {options.salvage});
      return {std::move(flac.source), flac.error};
    }
    case Kind::Mp3: {
      mp3::OpenedMp3 mp3 = mp3::OpenMp3(files, path, {options.salvage});
      return {std::move(mp3.source), mp3.error};
    }
    default: {
      static const char* const kNames[] = {"", "WAV", "FLAC", "AIFF", "CAF", "Ogg", "MP3"};
      sndfile::OpenedSnd snd =
          sndfile::OpenSnd(files, path, kNames[static_cast<int>(kind)], {options.salvage});
      opened = {std::move(snd.source), snd.error};
    }
  }
  // What is no recording at all but is named as a WAV file is refused in
  // the WAV reader's words, as the window refuses it.
  if (!opened.source && kind == Kind::Unknown && NamedWav(path) &&
      opened.error.code == wave::ErrorCode::Unsupported) {
    opened.error = wave::OpenWave(files, path, wave::Acceptance::AnyWave).error;
  }
  return opened;
}

wave::Error PartPlan::Make(wave::Source& source, const PartSettings& settings, PartPlan& plan,
                           std::vector<std::string>& notes) {
  plan = PartPlan();
  plan.settings_ = settings;
  plan.source_ = &source;
  auto* wave = dynamic_cast<wave::WaveSource*>(&source);
  auto* flacSource = dynamic_cast<flac::FlacSource*>(&source);
  auto* snd = dynamic_cast<sndfile::SndSource*>(&source);
  auto* mpeg = dynamic_cast<mp3::Mp3Source*>(&source);
  const bool lossy = snd && snd->Lossy();
  const wave::SourceInfo& info = source.Info();
  const std::string container = info.container;

  switch (settings.target) {
    case PartTarget::Source:
      if (wave) {
        plan.writer_ = Writer::Copy;
      } else if (flacSource) {
        plan.writer_ = Writer::Flac;
      } else if (mpeg) {
        plan.writer_ = Writer::Mpeg;
      } else if (lossy) {
        return {wave::ErrorCode::Unsupported,
                "a lossy " + container + " recording is not split into " + container +
                    " again (a second lossy generation); give --to flac or --to wav"};
      } else {
        plan.writer_ = Writer::Sndfile;
        plan.sndFormat_ = snd ? snd->Format() : 0;
      }
      break;
    case PartTarget::Flac:
      if (wave::Error refusal = flac::FlacRefusal(info, lossy, settings.mono)) return refusal;
      plan.writer_ = Writer::Flac;
      plan.extension_ = ".flac";
      break;
    case PartTarget::Mp3:
    case PartTarget::Opus: {
      const bool mp3 = settings.target == PartTarget::Mp3;
      plan.writer_ = Writer::Sndfile;
      plan.sndFormat_ = mp3 ? SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III : SF_FORMAT_OGG | SF_FORMAT_OPUS;
      plan.extension_ = mp3 ? ".mp3" : ".opus";
      if (auto refusal =
              EncodingRefusal(info, settings.target, settings.mono, settings.bitrate))
        return *refusal;
      break;
    }
    case PartTarget::Wave:
      plan.extension_ = ".wav";
      if (wave) {
        plan.writer_ = Writer::Copy;
      } else if (flacSource || mpeg) {
        // As the reference decoder writes it: the valid bits and the speakers kept.
        plan.writer_ = Writer::DecodedWave;
      } else {
        plan.writer_ = Writer::Sndfile;
        plan.sndFormat_ = sndfile::WaveFormatFor(info, lossy);
      }
      break;
  }

  if (plan.writer_ == Writer::Flac || plan.writer_ == Writer::Mpeg || plan.LossyTarget()) {
    plan.tags_ = flacSource ? flacSource->tags()
                 : mpeg     ? mpeg->tags()
                 : snd      ? snd->tags()
                 : wave     ? wave::TagsOfWave(*wave)
                            : wave::Tags{};
    // Vorbis comments are UTF-8; INFO text from older programs is Latin-1.
    for (std::string* tag : {&plan.tags_.artist, &plan.tags_.album, &plan.tags_.date,
                             &plan.tags_.genre, &plan.tags_.comment}) {
      if (!wave::IsUtf8(*tag)) *tag = wave::Latin1ToUtf8(*tag);
    }
    plan.channelMask_ = info.channelMask;
  }

  if (!settings.keepMetadata) return {};
  // Say what is not carried: nothing is dropped without a word.
  if (plan.LossyTarget()) {
    const bool named = !plan.tags_.artist.empty() || !plan.tags_.album.empty() ||
                       !plan.tags_.date.empty() || !plan.tags_.genre.empty() ||
                       !plan.tags_.comment.empty();
    notes.push_back(std::string("--keep-metadata carries chunks into WAV and FLAC parts; ") +
                    (settings.target == PartTarget::Mp3 ? "MP3" : "Opus") +
                    (named ? " parts carry the recording's names (artist, album, date, genre, comment) only"
                           : " parts carry their own title and number only"));
    return {};
  }
  if (wave && wave->Layout() != wave::Layout::Wave64 && plan.writer_ == Writer::Flac) {
    plan.riffMetadata_ = true;
    for (const wave::ChunkPlace& place : wave->Chunks()) {
      if (place.id != wave::FourCC("fmt ") &&
          static_cast<std::uint64_t>(place.size) + 9 > flac::kLargestBlock) {
        notes.push_back("its " + ChunkName(place.id) + " chunk of " + std::to_string(place.size) +
                        " bytes is too large for a FLAC metadata block and is not kept");
      }
    }
  } else if (wave && plan.writer_ == Writer::Copy) {
    notes.insert(notes.end(), wave->LeftOut().begin(), wave->LeftOut().end());
  } else if (wave) {
    notes.push_back("the chunks of a Wave64 file are not kept in FLAC parts");
  } else if (flacSource && plan.writer_ == Writer::Flac) {
    // Its tags go with every part in any case.
  } else if (mpeg && plan.writer_ == Writer::Mpeg) {
    // Its ID3v2 frames go with every part.
  } else {
    notes.push_back("--keep-metadata carries the chunks of WAV files; this " + container +
                    " recording's parts carry none");
  }
  if (wave && wave->Layout() != wave::Layout::Wave64 && plan.writer_ == Writer::Flac) {
    notes.insert(notes.end(), wave->LeftOut().begin(), wave->LeftOut().end());
  }
  return {};
}

std::string PartPlan::ExtensionFor(const std::string& fileName) const {
  if (!extension_.empty()) return extension_;
  const auto dot = fileName.rfind('.');
  return dot == std::string::npos ? "" : fileName.substr(dot);
}

wave::Error PartPlan::Write(wave::Source& reader, const Part& part, wave::Folder& folder,
                            wave::KeptFiles* keep, const std::function<bool()>& stop,
                            wave::FileId* written) const {
  switch (writer_) {
    case Writer::Copy: {
      wave::WriteOptions options;
      options.mono = settings_.mono;
      options.keepMetadata = settings_.keepMetadata;
      options.wave = settings_.target == PartTarget::Wave;
      options.keep = keep;
      options.stopRequested = stop;
      options.track = part.track;
      return wave::WritePart(static_cast<wave::WaveSource&>(reader), part.start, part.end, folder,
                             part.name, options, written);
    }
    case Writer::Flac: {
      flac::FlacPartOptions options;
      options.mono = settings_.mono;
      options.keep = keep;
      options.stopRequested = stop;
      TitleAndTags(part, tags_, options.title, options.tags);
      options.track = part.number;
      options.tracks = part.count;
      options.channelMask = channelMask_;
      if (riffMetadata_) {
        if (auto error = RiffBlocks(static_cast<wave::WaveSource&>(*source_), part.start,
                                    part.end - part.start, settings_.mono, part.track,
                                    options.riffBlocks)) {
          return {wave::ErrorCode::UnableToWrite, error->detail};
        }
      }
      return flac::WritePart(reader, part.start, part.end, folder, part.name, options, written);
    }
    case Writer::DecodedWave: {
      wave::WriteOptions options;
      options.keep = keep;
      options.stopRequested = stop;
      options.track = part.track;
      return WriteDecodedWave(
          reader, part.start, part.end,
          DecodedShape(reader.Info(), settings_.mono, flac::DefaultMask(reader.Info().channels)),
          folder, part.name, options, written);
    }
    case Writer::Mpeg: {
      mp3::Mp3PartOptions options;
      options.keep = keep;
      options.stopRequested = stop;
      TitleAndTags(part, tags_, options.title, options.tags);
      options.track = part.number;
      options.tracks = part.count;
      options.keepTags = settings_.keepMetadata;
      return mp3::WritePart(static_cast<mp3::Mp3Source&>(reader), part.start, part.end, folder,
                            part.name, options, written);
    }
    case Writer::Sndfile: {
      sndfile::SndWriteOptions options;
      options.format = sndFormat_;
      options.mono = settings_.mono;
      options.keep = keep;
      options.stopRequested = stop;
      options.track = part.track;
      if (LossyTarget()) {
        // Named and numbered as FLAC parts are: an MP3 part in an ID3v2.4
        // tag before its frames, an Opus part in its comments.
        mp3::Mp3PartOptions tag;
        TitleAndTags(part, tags_, tag.title, tag.tags);
        tag.track = part.number;
        tag.tracks = part.count;
        if (settings_.target == PartTarget::Mp3) {
          options.prefix = mp3::Id3v24Tag(tag);
        } else {
          options.track = wave::TrackTags{tag.title,   tag.tags.artist, tag.tags.album,
                                          tag.tags.date, part.number,   part.count,
                                          tag.tags.genre, tag.tags.comment};
        }
        options.quality = settings_.quality;
        options.bitrate = settings_.bitrate;
      }
      return sndfile::WritePart(reader, part.start, part.end, folder, part.name, options, written);
    }
  }
  return {};
}

}  // namespace corvella::formats
