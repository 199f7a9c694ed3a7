#include "wave/WaveSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "wave/ByteOrder.h"
#include "wave/Text.h"

namespace corvella::wave {
namespace {

// The fmt bytes kept: every field a reader needs, and what parts repeat.
// A longer body is checked to lie in the file and otherwise skipped, so a
// header cannot make the reader set aside memory it names.
constexpr std::uint32_t kFormatBytesKept = 256;
constexpr std::uint32_t kSizeInDs64 = 0xFFFFFFFF;  // a 32-bit size the ds64 chunk holds
constexpr int kMostChannels = 64;
// Chunks noted beyond the data: far more than any recorder writes, and a
// bound on what a hostile file costs.
constexpr std::size_t kMostChunks = 4096;
// A metadata chunk larger than this is not carried into parts.
constexpr std::int64_t kLargestCarried = 64 << 20;

// What the ds64 chunk of an RF64 file holds.
struct Ds64 {
  std::uint64_t riffSize = 0;
  std::uint64_t dataSize = 0;
};

// Why the command line cannot read a format, or nothing when it can; the
// sample type and full-scale width it is read as.
Error CheckFormat(const WaveFormat& f, std::uint32_t formatSize, SampleType& type, int& bits) {
  if (formatSize > kFormatBytesKept) {
    return {ErrorCode::Unsupported,
            "a fmt chunk of " + std::to_string(formatSize) + " bytes is not supported"};
  }
  if (f.tag == kTagExtensible && !f.extensible) {
    return {ErrorCode::Unsupported,
            "an extensible fmt chunk without its extension is not supported"};
  }
  if (f.extensible && !f.standardSubformat) {
    return {ErrorCode::Unsupported,
            "unsupported sample format: a subformat that is not PCM or IEEE float"};
  }
  const std::uint16_t tag = f.CodingTag();
  if (tag != kTagPcm && tag != kTagFloat)
    return {ErrorCode::Unsupported, "unsupported sample format: " + TagName(tag)};
  if (f.channels == 0 || f.channels > kMostChannels) {
    return {ErrorCode::Unsupported, std::to_string(f.channels) +
                                        " channels are not supported (1 to " +
                                        std::to_string(kMostChannels) + " are)"};
  }
  if (f.blockAlign == 0 || f.blockAlign % f.channels != 0) {
    return {ErrorCode::Unsupported, "a block align of " + std::to_string(f.blockAlign) +
                                        " bytes does not hold " + std::to_string(f.channels) +
                                        " channels"};
  }
  const int container = f.blockAlign / f.channels;  // bytes
  // wBitsPerSample names the container in an extensible chunk and tag 3;
  // in a plain PCM one the container holds it, as 12 bits lie in 16.
  const bool fits = f.extensible || tag == kTagFloat
                        ? f.bits == container * 8
                        : f.bits <= container * 8 && f.bits > (container - 1) * 8;
  const bool known =
      tag == kTagFloat ? container == 4 || container == 8 : container >= 1 && container <= 4;
  const bool valid = !f.extensible || f.validBits <= f.bits;
  if (!fits || !known || !valid) {
    const std::string what = tag == kTagFloat ? "-bit float" : "-bit";
    return {ErrorCode::Unsupported,
            std::to_string(f.channels) + (f.channels == 1 ? " channel of " : " channels of ") +
                std::to_string(f.bits) + what + " samples in " + std::to_string(container * 8) +
                "-bit containers are not supported"};
  }
  static constexpr SampleType kIntegers[] = {SampleType::U8, SampleType::S16, SampleType::S24,
                                             SampleType::S32};
  type = tag == kTagFloat ? (container == 4 ? SampleType::F32 : SampleType::F64)
                          : kIntegers[container - 1];
  bits = container * 8;
  return {};
}

}  // namespace

struct WaveOpener {
  FileApi& files;
  WaveOpenOptions options;
  std::unique_ptr<WaveSource> source = std::make_unique<WaveSource>();
  std::uint32_t formatSize_ = 0;
  bool checkedAsPlain_ = false;  // the format was taken for plain 16-bit

  OpenedWave Refuse(Error error) { return {nullptr, std::move(error)}; }
  bool AnyWave() const { return options.acceptance == Acceptance::AnyWave; }

  // The outer chunk: "RIFF", or for the command line "RF64" or "BW64" with
  // the ds64 chunk that must follow its form type, skipped whole whatever
  // table of other sizes it holds.
  bool FindOuter(MmioFile& file, MMCKINFO& riff, Ds64& ds64) {
    riff.fccType = FourCC("WAVE");
    if (file.DescendRiff(riff)) return true;
    if (!AnyWave()) return false;
    for (std::uint32_t id : {FourCC("RF64"), FourCC("BW64")}) {
      riff = MMCKINFO{};
      riff.ckid = id;
      riff.fccType = FourCC("WAVE");
      file.Seek(0);
      if (!file.DescendRiff(riff)) continue;
      std::uint8_t body[28];
      MMCKINFO chunk{};
      chunk.ckid = FourCC("ds64");
      const std::int64_t at = file.Position();
      if (!file.DescendChunk(chunk, at + 8) || chunk.cksize < 28 || file.Read(body, 28) != 28)
        return false;
      ds64.riffSize = ReadLe64(body);
      ds64.dataSize = ReadLe64(body + 8);
      file.Ascend(chunk);
      source->layout_ = Layout::Rf64;
      return true;
    }
    return false;
  }

  // Notes a chunk of the outer body; past the most kept, says what is left out.
  void Keep(const ChunkPlace& place) {
    if (source->chunks_.size() < kMostChunks) {
      source->chunks_.push_back(place);
    } else if (source->leftOut_.empty()) {
      source->leftOut_.push_back("the chunks after the " + std::to_string(kMostChunks) +
                                 "th are not carried into parts");
    }
  }

  // Every chunk of the outer body but the data chunk, found in one pass.
  void FindChunks(MmioFile& file, std::int64_t bodyStart, std::int64_t end) {
    file.Seek(bodyStart);
    MMCKINFO chunk{};
    bool afterData = false;
    while (file.NextChunk(chunk, end)) {
      if (chunk.dwDataOffset == source->dataOffset_) {
        afterData = true;
        // An RF64 data chunk's size is in ds64: go on past the samples.
        file.Seek(source->dataOffset_ + source->dataBytes_ + (source->dataBytes_ & 1));
        continue;
      }
      if (chunk.ckid == FourCC("ds64") && source->layout_ == Layout::Rf64) continue;
      const bool whole = chunk.dwDataOffset + static_cast<std::int64_t>(chunk.cksize) <= end;
      if (whole) Keep({chunk.ckid, chunk.dwDataOffset, chunk.cksize, afterData});
    }
  }

  // Settles the data's length against the file's: "unknown" sizes read to
  // the end of the file, a size past the end is refused or, when asked,
  // salvaged up to the last whole frame.
  Error SettleData(std::int64_t declared, bool unknown, std::int64_t fileLength, int frameBytes) {
    frameBytes = std::max(frameBytes, 1);
    const std::int64_t present = std::max<std::int64_t>(fileLength - source->dataOffset_, 0);
    // A size unknown or past the end is never plain 16-bit: its data only are read.
    if (unknown || present < declared) source->info_.plain16 = false;
    if (unknown) {
      source->dataBytes_ = present / frameBytes * frameBytes;
      return {};
    }
    source->dataBytes_ = declared;
    if (declared == 0) return ErrorCode::EmptyData;
    if (present >= declared) return {};
    const std::int64_t promised = declared / frameBytes;
    const std::int64_t there = present / frameBytes;
    if (!options.salvage) {
      return {ErrorCode::DataSizeWrong,
              "the file ends before its header says: " + std::to_string(there) + " of " +
                  std::to_string(promised) + " frames are there; --salvage reads them"};
    }
    if (there == 0) return ErrorCode::EmptyData;
    source->dataBytes_ = there * frameBytes;
    source->notes_.push_back("salvaged: the header promises " + std::to_string(promised) +
                             " frames, the file holds " + std::to_string(there));
    return {};
  }

  // The fmt body, read and checked as far as the acceptance asked for
  // needs it; `formatSize` is the body's length.
  Error ReadFormat(MmioFile& file, std::int64_t bodyOffset, std::uint64_t formatSize,
                   std::int64_t fileLength) {
    if (formatSize < 16) return ErrorCode::UnknownFmt;
    // A body longer than the rest of the file can never be read whole.
    if (fileLength < 0 || formatSize > static_cast<std::uint64_t>(fileLength) ||
        bodyOffset + static_cast<std::int64_t>(formatSize) > fileLength) {
      return ErrorCode::FmtUnreadable;
    }
    const auto kept =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(formatSize, kFormatBytesKept));
    std::unique_ptr<std::uint8_t[]> body(new (std::nothrow) std::uint8_t[kept]);
    if (!body) return ErrorCode::NoMemory;
    if (file.ReadAt(bodyOffset, body.get(), kept) != static_cast<std::int64_t>(kept))
      return ErrorCode::FmtUnreadable;
    source->format_ = WaveFormat::Parse(body.get(), kept);
    const WaveFormat& format = source->format_;
    SourceInfo& info = source->info_;
    info.channels = format.channels;
    info.rate = format.rate;
    info.sampleType = SampleType::S16;
    info.bits = 16;
    info.plain16 = source->layout_ == Layout::Riff && format.bits == 16 &&
                        format.tag == kTagPcm && (format.channels == 1 || format.channels == 2);
    checkedAsPlain_ = info.plain16;
    if (!AnyWave()) {
      if (format.bits != 16) return ErrorCode::Not16Bits;
      if (format.tag != kTagPcm) return ErrorCode::NotPcm;
      if (format.channels != 1 && format.channels != 2) return ErrorCode::NotMonoStereo;
      return {};
    }
    formatSize_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(formatSize, 0xFFFFFFFF));
    if (info.plain16) return {};
    return CheckFormat(format, formatSize_, info.sampleType, info.bits);
  }

  // A recording that looked plain 16-bit but is read as any other (its
  // size unknown or past the end) is checked as any other.
  Error CheckAsAnyWave() {
    SourceInfo& info = source->info_;
    if (info.plain16 || !checkedAsPlain_) return {};
    return CheckFormat(source->format_, formatSize_, info.sampleType, info.bits);
  }

  // The chunks parts carry: broadcast, iXML and LIST-INFO, up to a size.
  void FindMetadata(MmioFile& file) {
    for (const ChunkPlace& place : source->chunks_) {
      std::uint8_t form[4] = {};
      const bool info = place.id == FourCC("LIST") && place.size >= 4 &&
                        file.ReadAt(place.offset, form, 4) == 4 && ReadLe32(form) == FourCC("INFO");
      if (place.id != FourCC("bext") && place.id != FourCC("iXML") && !info) continue;
      if (place.size <= kLargestCarried) {
        source->metadata_.push_back(place);
      } else {
        std::string name(4, ' ');
        for (int i = 0; i < 4; ++i) name[i] = static_cast<char>((place.id >> (8 * i)) & 0xFF);
        source->leftOut_.push_back("its " + name + " chunk of " + std::to_string(place.size) +
                                   " bytes is too large to carry into parts");
      }
    }
  }

  OpenedWave Finish(std::int64_t fileLength) {
    if (AnyWave()) FindMetadata(*source->file_);
    SourceInfo& info = source->info_;
    const WaveFormat& format = source->format_;
    info.channels = format.channels;
    info.rate = format.rate;
    info.frames = source->dataBytes_ / info.FrameBytes();
    info.channelMask = format.extensible ? format.channelMask : 0;
    // A plain 16-bit recording is read on past the data into what follows it; for any other
    // recording only the data are samples.
    info.extentBytes = info.plain16 ? fileLength - source->dataOffset_ : source->dataBytes_;
    info.container = source->layout_ == Layout::Rf64     ? "RF64"
                     : source->layout_ == Layout::Wave64 ? "Wave64"
                                                         : "WAV";
    return {std::move(source), {}};
  }

  // What a file that is no WAV file begins with, for its refusal.
  static std::string NotWave(MmioFile& file) {
    std::uint8_t head[16] = {};
    file.Seek(0);
    const std::int64_t got = file.Read(head, sizeof head);
    if (got <= 0) return "the file is empty";
    const auto at = [&](std::size_t from, std::size_t count) {
      return std::string(reinterpret_cast<const char*>(head) + from, count);
    };
    const std::string outer = at(0, static_cast<std::size_t>(std::min<std::int64_t>(got, 4)));
    if (got >= 12 && (outer == "RIFF" || outer == "RF64" || outer == "BW64") && at(8, 4) != "WAVE")
      return "a RIFF file of the form \"" + Printable(at(8, 4)) + "\", not WAVE";
    if (got < 12 && (outer == "RIFF" || outer == "RF64" || outer == "BW64"))
      return std::to_string(got) + " bytes, too few for a RIFF header";
    const bool text = std::all_of(head, head + got, [](std::uint8_t c) {
      return c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c != 0x7F);
    });
    if (text) {
      std::string start = at(0, static_cast<std::size_t>(got));
      start = start.substr(0, start.find_first_of("\r\n"));
      return "text, beginning \"" + Printable(start) + "\"";
    }
    std::string said = "it begins with";
    constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::int64_t i = 0; i < std::min<std::int64_t>(got, 4); ++i) {
      said.push_back(' ');
      said.push_back(kDigits[head[i] >> 4]);
      said.push_back(kDigits[head[i] & 15]);
    }
    said.append(", not RIFF");
    return said;
  }

  OpenedWave OpenRiff(MmioFile& file) {
    MMCKINFO riff{};
    Ds64 ds64;
    if (!FindOuter(file, riff, ds64)) return Refuse({ErrorCode::NotValidWav, NotWave(file)});
    const bool rf64 = source->layout_ == Layout::Rf64;
    const std::int64_t bodyStart = file.Position();
    const std::int64_t riffEnd =
        riff.dwDataOffset +
        static_cast<std::int64_t>(rf64 && riff.cksize == kSizeInDs64
                                      ? std::min<std::uint64_t>(ds64.riffSize, INT64_MAX / 2)
                                      : riff.cksize);

    MMCKINFO chunk{};
    chunk.ckid = FourCC("fmt ");
    if (!file.DescendChunk(chunk, riffEnd)) return Refuse(ErrorCode::NoFmtChunk);
    const std::int64_t fileLength = file.Length();
    if (Error error = ReadFormat(file, chunk.dwDataOffset, chunk.cksize, fileLength))
      return Refuse(error);

    file.Ascend(chunk);
    chunk = MMCKINFO{};
    chunk.ckid = FourCC("data");
    if (!file.DescendChunk(chunk, riffEnd)) return Refuse(ErrorCode::NoDataChunk);
    source->dataOffset_ = chunk.dwDataOffset;
    const bool inDs64 = rf64 && chunk.cksize == kSizeInDs64;
    const std::int64_t declared =
        inDs64 ? static_cast<std::int64_t>(std::min<std::uint64_t>(ds64.dataSize, INT64_MAX / 2))
               : chunk.cksize;
    // A program writing to a pipe cannot go back to fill the size in: it
    // leaves all ones, which plain 16-bit does not take.
    const bool unknown =
        AnyWave() && (inDs64 ? ds64.dataSize == ~std::uint64_t{0} : chunk.cksize == kSizeInDs64);
    if (!AnyWave()) {
      source->dataBytes_ = declared;
      if (declared == 0) return Refuse(ErrorCode::EmptyData);
      if (fileLength < source->dataOffset_ + declared) return Refuse(ErrorCode::DataSizeWrong);
    } else if (Error error =
                   SettleData(declared, unknown, fileLength, source->info_.FrameBytes())) {
      return Refuse(error);
    } else if (Error refusal = CheckAsAnyWave()) {
      return Refuse(refusal);
    }
    if (AnyWave()) FindChunks(file, bodyStart, std::min(riffEnd, fileLength));
    return Finish(fileLength);
  }

  // Wave64: the riff GUID, the file's size, the wave GUID, then chunks of a
  // GUID, a 64-bit size that counts the 24 bytes before the body, and the
  // body, each starting on a multiple of 8 bytes.
  OpenedWave OpenWave64(MmioFile& file) {
    source->layout_ = Layout::Wave64;
    const std::int64_t fileLength = file.Length();
    std::int64_t at = 40;
    bool haveFormat = false;
    bool haveData = false;
    std::int64_t declared = 0;
    bool unknown = false;
    std::uint8_t header[24];
    while (at + 24 <= fileLength && file.ReadAt(at, header, 24) == 24) {
      const ChunkHeader chunk = ReadChunkHeader(header, ChunkForm::Wave64);
      const bool tail = std::memcmp(header + 4, kW64Tail, sizeof kW64Tail) == 0;
      const std::uint32_t id = chunk.id;
      const std::int64_t body = at + 24;
      const bool open = OpenWave64Size(chunk.stored);  // written to a pipe: to the end
      // Past the samples, what is no chunk (padding, zeros) is left alone,
      // as it is after a RIFF file's data.
      if (!open && chunk.stored < 24) {
        if (haveData) break;
        return Refuse(ErrorCode::NotValidWav);
      }
      const std::int64_t bodySize =
          open ? fileLength - body
               : static_cast<std::int64_t>(std::min<std::uint64_t>(chunk.bodyBytes, INT64_MAX / 4));
      if (tail && id == FourCC("fmt ") && !haveFormat) {
        if (Error error = ReadFormat(file, body, static_cast<std::uint64_t>(bodySize), fileLength))
          return Refuse(error);
        haveFormat = true;
      } else if (tail && id == FourCC("data") && !haveData) {
        if (!haveFormat) return Refuse(ErrorCode::NoFmtChunk);
        haveData = true;
        source->dataOffset_ = body;
        declared = bodySize;
        unknown = open;
      } else {
        const bool list = std::memcmp(header, kW64List, sizeof kW64List) == 0;
        const bool whole = body + bodySize <= fileLength;
        if ((tail || list) && whole) Keep({list ? FourCC("LIST") : id, body, bodySize, haveData});
      }
      if (open) break;
      at = ChunkAfter(at, static_cast<std::uint64_t>(bodySize), ChunkForm::Wave64);
    }
    if (!haveFormat) return Refuse(ErrorCode::NoFmtChunk);
    if (!haveData) return Refuse(ErrorCode::NoDataChunk);
    if (Error error = SettleData(declared, unknown, fileLength, source->info_.FrameBytes()))
      return Refuse(error);
    return Finish(fileLength);
  }

  OpenedWave Open(const std::string& path) {
    int why = 0;
    source->file_ = MmioFile::OpenRead(files, path, why);
    if (!source->file_) return Refuse({ErrorCode::UnableToOpen, ReasonOf(why)});
    MmioFile& file = *source->file_;
    std::uint8_t head[40] = {};
    const std::int64_t got = file.ReadAt(0, head, sizeof head);
    if (AnyWave() && got == static_cast<std::int64_t>(sizeof head) &&
        std::memcmp(head, kW64Riff, 16) == 0 && ReadLe32(head + 24) == FourCC("wave") &&
        std::memcmp(head + 28, kW64Tail, sizeof kW64Tail) == 0) {
      return OpenWave64(file);
    }
    return OpenRiff(file);
  }
};

OpenedWave OpenWave(FileApi& files, const std::string& path, const WaveOpenOptions& options) {
  return WaveOpener{files, options}.Open(path);
}

bool LooksLikeWave(const std::uint8_t* head, std::size_t size) {
  if (size >= 40 && std::memcmp(head, kW64Riff, 16) == 0 && ReadLe32(head + 24) == FourCC("wave"))
    return true;
  if (size < 12) return false;
  const std::uint32_t outer = ReadLe32(head);
  return (outer == FourCC("RIFF") || outer == FourCC("RF64") || outer == FourCC("BW64")) &&
         ReadLe32(head + 8) == FourCC("WAVE");
}

Tags TagsOfWave(WaveSource& source) {
  constexpr std::int64_t kLargest = 1 << 20;  // far more than any tag list
  Tags tags;
  for (const ChunkPlace& place : source.Metadata()) {
    if (place.id != FourCC("LIST") || place.size < 4 || place.size > kLargest) continue;
    std::vector<std::uint8_t> body(static_cast<std::size_t>(place.size));
    if (source.File().ReadAt(place.offset, body.data(), place.size) != place.size) continue;
    // Sub-chunks: an id, a size, text ending in a zero byte, a pad byte.
    for (std::size_t at = 4; body.size() - at >= 8;) {
      const ChunkHeader chunk = ReadChunkHeader(&body[at], ChunkForm::Riff);
      const std::uint32_t id = chunk.id;
      const auto size = static_cast<std::size_t>(chunk.bodyBytes);
      if (size > body.size() - at - 8) break;
      std::string text(reinterpret_cast<const char*>(&body[at + 8]), size);
      text.resize(std::min(text.size(), text.find('\0')));
      std::string* field = id == FourCC("IART")   ? &tags.artist
                           : id == FourCC("IPRD") ? &tags.album
                           : id == FourCC("ICRD") ? &tags.date
                           : id == FourCC("IGNR") ? &tags.genre
                           : id == FourCC("ICMT") ? &tags.comment
                                                  : nullptr;
      if (field && field->empty()) *field = text;
      at = static_cast<std::size_t>(ChunkAfter(static_cast<std::int64_t>(at), size, ChunkForm::Riff));
      if (at > body.size()) break;
    }
  }
  return tags;
}

std::int64_t WaveSource::ReadSamples(std::int64_t offset, void* out, std::int64_t count) {
  count = std::clamp<std::int64_t>(info_.extentBytes - offset, 0, count);
  if (count == 0) return 0;
  const std::int64_t got = file_->ReadAt(dataOffset_ + offset, out, count);
  if (got < 0) Fail(ReasonOf(errno));
  if (got >= 0 && got < count) Fail("the file became shorter while it was read");
  if (got > 0) {
    const int width = BytesOf(info_.sampleType);
    SamplesFromLittleEndian(out, static_cast<std::size_t>(got / width), width);
  }
  return got;
}

void WaveSource::WillNeed(std::int64_t offset, std::int64_t count) {
  file_->WillNeed(dataOffset_ + offset, count);
}

}  // namespace corvella::wave
