#include "wave/WaveSource.h"

#include <algorithm>
#include <new>

#include "wave/ByteOrder.h"

namespace corvella::wave {
namespace {

// The fmt bytes kept: every field a reader needs, and what parts repeat.
// A longer body is checked to lie in the file and otherwise skipped, so a
// header cannot make the reader set aside memory it names.
constexpr std::uint32_t kFormatBytesKept = 256;
constexpr std::uint32_t kSizeInDs64 = 0xFFFFFFFF;  // a 32-bit size the ds64 chunk holds
constexpr int kMostChannels = 64;

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
  Acceptance acceptance;
  std::unique_ptr<WaveSource> source = std::make_unique<WaveSource>();

  OpenedWave Refuse(Error error) { return {nullptr, std::move(error)}; }

  // The outer chunk: "RIFF", or for the command line "RF64" or "BW64" with
  // the ds64 chunk that must follow its form type.
  bool FindOuter(MmioFile& file, MMCKINFO& riff, Ds64& ds64) {
    riff.fccType = FourCC("WAVE");
    if (file.DescendRiff(riff)) return true;
    if (acceptance != Acceptance::AnyWave) return false;
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
      source->rf64_ = true;
      return true;
    }
    return false;
  }

  // The chunks a part may carry, found in one pass over the outer chunk.
  void FindMetadata(MmioFile& file, std::int64_t bodyStart, std::int64_t end) {
    constexpr std::size_t kMostKept = 64;
    file.Seek(bodyStart);
    MMCKINFO chunk{};
    while (source->metadata_.size() < kMostKept && file.NextChunk(chunk, end)) {
      std::uint8_t form[4] = {};
      const bool wanted =
          chunk.ckid == FourCC("bext") || chunk.ckid == FourCC("iXML") ||
          (chunk.ckid == FourCC("LIST") && chunk.cksize >= 4 &&
           file.ReadAt(chunk.dwDataOffset, form, 4) == 4 && ReadLe32(form) == FourCC("INFO"));
      const bool whole = chunk.dwDataOffset + static_cast<std::int64_t>(chunk.cksize) <= end;
      if (wanted && whole)
        source->metadata_.push_back({chunk.ckid, chunk.dwDataOffset, chunk.cksize});
    }
  }

  OpenedWave Open(const std::string& path) {
    int why = 0;
    source->file_ = MmioFile::OpenRead(files, path, why);
    if (!source->file_) return Refuse({ErrorCode::UnableToOpen, ReasonOf(why)});
    MmioFile& file = *source->file_;

    MMCKINFO riff{};
    Ds64 ds64;
    if (!FindOuter(file, riff, ds64)) return Refuse(ErrorCode::NotValidWav);
    const std::int64_t bodyStart = file.Position();
    const std::int64_t riffEnd =
        riff.dwDataOffset +
        static_cast<std::int64_t>(source->rf64_ && riff.cksize == kSizeInDs64
                                      ? std::min<std::uint64_t>(ds64.riffSize, INT64_MAX / 2)
                                      : riff.cksize);

    MMCKINFO chunk{};
    chunk.ckid = FourCC("fmt ");
    if (!file.DescendChunk(chunk, riffEnd)) return Refuse(ErrorCode::NoFmtChunk);
    const std::uint32_t formatSize = chunk.cksize;
    if (formatSize < 16) return Refuse(ErrorCode::UnknownFmt);

    // A body longer than the rest of the file can never be read whole.
    const std::int64_t fileLength = file.Length();
    if (fileLength < 0 || chunk.dwDataOffset + static_cast<std::int64_t>(formatSize) > fileLength) {
      return Refuse(ErrorCode::FmtUnreadable);
    }
    const std::uint32_t kept = std::min(formatSize, kFormatBytesKept);
    std::unique_ptr<std::uint8_t[]> body(new (std::nothrow) std::uint8_t[kept]);
    if (!body) return Refuse(ErrorCode::NoMemory);
    if (file.Read(body.get(), kept) != static_cast<std::int64_t>(kept)) {
      return Refuse(ErrorCode::FmtUnreadable);
    }
    source->format_ = WaveFormat::Parse(body.get(), kept);
    const WaveFormat& format = source->format_;
    // The window's format, read as the window reads it.
    const bool windowFormat = !source->rf64_ && format.bits == 16 && format.tag == kTagPcm &&
                              (format.channels == 1 || format.channels == 2);
    SourceInfo& info = source->info_;
    info.sampleType = SampleType::S16;
    info.bits = 16;
    if (acceptance == Acceptance::WindowFormat) {
      if (format.bits != 16) return Refuse(ErrorCode::Not16Bits);
      if (format.tag != kTagPcm) return Refuse(ErrorCode::NotPcm);
      if (format.channels != 1 && format.channels != 2) return Refuse(ErrorCode::NotMonoStereo);
    } else if (!windowFormat) {
      if (Error error = CheckFormat(format, formatSize, info.sampleType, info.bits))
        return Refuse(error);
    }

    file.Ascend(chunk);
    chunk = MMCKINFO{};
    chunk.ckid = FourCC("data");
    if (!file.DescendChunk(chunk, riffEnd)) return Refuse(ErrorCode::NoDataChunk);
    source->dataOffset_ = chunk.dwDataOffset;
    source->dataBytes_ =
        source->rf64_ && chunk.cksize == kSizeInDs64
            ? static_cast<std::int64_t>(std::min<std::uint64_t>(ds64.dataSize, INT64_MAX / 2))
            : chunk.cksize;
    if (source->dataBytes_ == 0) return Refuse(ErrorCode::EmptyData);
    if (fileLength < source->dataOffset_ + source->dataBytes_)
      return Refuse(ErrorCode::DataSizeWrong);

    info.channels = format.channels;
    info.rate = format.rate;
    info.frames = source->dataBytes_ / info.FrameBytes();
    info.windowFormat = windowFormat;
    // The window reads on past the data into what follows it; for any other
    // recording only the data are samples.
    info.extentBytes = windowFormat ? fileLength - source->dataOffset_ : source->dataBytes_;
    info.container = source->rf64_ ? "RF64" : "WAV";
    if (acceptance == Acceptance::AnyWave)
      FindMetadata(file, bodyStart, std::min(riffEnd, fileLength));
    return {std::move(source), {}};
  }
};

OpenedWave OpenWave(FileApi& files, const std::string& path, Acceptance acceptance) {
  return WaveOpener{files, acceptance}.Open(path);
}

std::int64_t WaveSource::ReadSamples(std::int64_t offset, void* out, std::int64_t count) {
  count = std::clamp<std::int64_t>(info_.extentBytes - offset, 0, count);
  if (count == 0) return 0;
  const std::int64_t got = file_->ReadAt(dataOffset_ + offset, out, count);
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
