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

}  // namespace

struct WaveOpener {
  FileApi& files;
  Acceptance acceptance;
  std::unique_ptr<WaveSource> source = std::make_unique<WaveSource>();

  OpenedWave Refuse(Error error) { return {nullptr, std::move(error)}; }

  OpenedWave Open(const std::string& path) {
    int why = 0;
    source->file_ = MmioFile::OpenRead(files, path, why);
    if (!source->file_) return Refuse({ErrorCode::UnableToOpen, ReasonOf(why)});
    MmioFile& file = *source->file_;

    MMCKINFO riff{};
    riff.fccType = FourCC("WAVE");
    if (!file.DescendRiff(riff)) return Refuse(ErrorCode::NotValidWav);

    MMCKINFO chunk{};
    chunk.ckid = FourCC("fmt ");
    if (!file.DescendChunk(chunk, riff)) return Refuse(ErrorCode::NoFmtChunk);
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
    if (format.bits != 16) return Refuse(ErrorCode::Not16Bits);
    if (format.tag != kTagPcm) return Refuse(ErrorCode::NotPcm);
    if (format.channels != 1 && format.channels != 2) return Refuse(ErrorCode::NotMonoStereo);

    file.Ascend(chunk);
    chunk = MMCKINFO{};
    chunk.ckid = FourCC("data");
    if (!file.DescendChunk(chunk, riff)) return Refuse(ErrorCode::NoDataChunk);
    source->dataOffset_ = chunk.dwDataOffset;
    source->dataBytes_ = chunk.cksize;
    if (source->dataBytes_ == 0) return Refuse(ErrorCode::EmptyData);
    if (fileLength < source->dataOffset_ + source->dataBytes_)
      return Refuse(ErrorCode::DataSizeWrong);

    SourceInfo& info = source->info_;
    info.channels = format.channels;
    info.rate = format.rate;
    info.sampleType = SampleType::S16;
    info.bits = 16;
    info.frames = source->dataBytes_ / info.FrameBytes();
    info.extentBytes = fileLength - source->dataOffset_;
    info.windowFormat = true;
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
