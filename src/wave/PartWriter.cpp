#include "wave/PartWriter.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "wave/ByteOrder.h"
#include "wave/MonoMix.h"

namespace corvella::wave {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Bytes copied by the kernel between two looks at the stop request.
constexpr std::int64_t kCopyStep = 8 << 20;
// Bytes read at a time where frames pass through the program.
constexpr std::int64_t kBlockBytes = 131072;
// A metadata chunk larger than this is not carried into parts.
constexpr std::int64_t kLargestMetadata = 1 << 20;
// bext: where the 64-bit time reference (in frames) lies.
constexpr std::size_t kTimeReference = 338;

bool StopRequested(const WriteOptions& options) {
  return options.stopRequested && options.stopRequested();
}

enum class Copy { Done, Failed, Unsupported, Stopped };

// Copies `bytes` bytes from `offset` of the source's file to `out` in the
// kernel, a step at a time.
Copy KernelCopy(MmioFile& in, std::int64_t offset, std::int64_t bytes, MmioFile& out,
                const WriteOptions& options) {
  for (std::int64_t done = 0; done < bytes;) {
    if (StopRequested(options)) return Copy::Stopped;
    const std::int64_t step = std::min(kCopyStep, bytes - done);
    const std::int64_t copied = out.CopyFrom(in, offset + done, step);
    if (copied == FileApi::kCopyUnsupported && done == 0) return Copy::Unsupported;
    if (copied != step) return Copy::Failed;
    done += step;
  }
  return Copy::Done;
}

// Copies frames [start, end) block by block through the program, mixed to
// one channel when asked.
Copy BlockCopy(WaveSource& source, std::int64_t start, std::int64_t end, bool mix, MmioFile& out,
               const WriteOptions& options) {
  const SourceInfo& info = source.Info();
  const std::int64_t frameBytes = info.FrameBytes();
  const std::int64_t framesPerBlock = kBlockBytes / frameBytes;
  Bytes buffer(static_cast<std::size_t>(std::min(kBlockBytes, (end - start) * frameBytes)));
  for (std::int64_t frame = start; frame < end;) {
    if (StopRequested(options)) return Copy::Stopped;
    const std::int64_t count = std::min(end - frame, framesPerBlock);
    std::int64_t bytes = count * frameBytes;
    // The range lies inside the data chunk, so a short read means the source
    // changed under us or the disk failed: the part would be incomplete.
    if (source.File().ReadAt(source.DataOffset() + frame * frameBytes, buffer.data(), bytes) !=
        bytes) {
      return Copy::Failed;
    }
    if (mix) {
      MixDown(buffer.data(), static_cast<std::size_t>(count), info.channels, info.sampleType);
      bytes = count * BytesOf(info.sampleType);
    }
    if (out.Write(buffer.data(), bytes) != bytes) return Copy::Failed;
    frame += count;
  }
  return Copy::Done;
}

void PutId(Bytes& out, const char (&id)[5]) {
  out.insert(out.end(), id, id + 4);
}

void PutLe(Bytes& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutChunk(Bytes& out, std::uint32_t id, const Bytes& body) {
  PutLe(out, id, 4);
  PutLe(out, body.size(), 4);
  out.insert(out.end(), body.begin(), body.end());
  if (body.size() & 1) out.push_back(0);
}

// The fmt body of a part: the window's own 16 bytes for its format, else
// the source's as stored, with the fields of one channel when mixed.
Bytes FormatOf(const WaveSource& source, bool mix) {
  const WaveFormat& format = source.Format();
  const SourceInfo& info = source.Info();
  if (!info.windowFormat && !mix) return format.bytes;
  const int channels = mix ? 1 : info.channels;
  const int blockAlign = channels * (info.windowFormat ? 2 : format.blockAlign / format.channels);
  Bytes body = info.windowFormat ? Bytes(16, 0) : format.bytes;
  if (info.windowFormat) {
    WriteLe16(body.data(), kTagPcm);
    WriteLe16(body.data() + 14, format.bits);
  }
  WriteLe16(body.data() + 2, static_cast<std::uint16_t>(channels));
  WriteLe32(body.data() + 4, static_cast<std::uint32_t>(info.rate));
  WriteLe32(body.data() + 8, static_cast<std::uint32_t>(info.rate * blockAlign));
  WriteLe16(body.data() + 12, static_cast<std::uint16_t>(blockAlign));
  // A mixed extensible part is front centre.
  if (mix && format.extensible) WriteLe32(body.data() + 20, 0x4);
  return body;
}

// The chunks a part carries from its source, read afresh for each part.
bool MetadataOf(WaveSource& source, std::int64_t startFrame, Bytes& out) {
  for (const ChunkPlace& place : source.Metadata()) {
    if (place.size > kLargestMetadata) continue;
    Bytes body(static_cast<std::size_t>(place.size));
    if (source.File().ReadAt(place.offset, body.data(), place.size) != place.size) return false;
    if (place.id == FourCC("bext") && body.size() >= kTimeReference + 8) {
      WriteLe64(body.data() + kTimeReference,
                ReadLe64(body.data() + kTimeReference) + static_cast<std::uint64_t>(startFrame));
    }
    PutChunk(out, place.id, body);
  }
  return true;
}

// Everything before the samples: RIFF or RF64 with its ds64, fmt, the
// carried chunks, the data chunk's header.
Bytes Header(const Bytes& format, const Bytes& metadata, std::uint64_t dataBytes,
             std::uint64_t frames, std::uint64_t riffLimit) {
  Bytes fmt;
  PutChunk(fmt, FourCC("fmt "), format);
  const std::uint64_t plainRiff =
      4 + fmt.size() + metadata.size() + 8 + dataBytes + (dataBytes & 1);
  const bool rf64 = plainRiff > riffLimit || dataBytes > 0xFFFFFFFF;
  Bytes header;
  if (!rf64) {
    PutId(header, "RIFF");
    PutLe(header, plainRiff, 4);
    PutId(header, "WAVE");
  } else {
    PutId(header, "RF64");
    PutLe(header, 0xFFFFFFFF, 4);
    PutId(header, "WAVE");
    PutId(header, "ds64");
    PutLe(header, 28, 4);
    PutLe(header, plainRiff + 36, 8);  // the RIFF size, ds64 included
    PutLe(header, dataBytes, 8);
    PutLe(header, frames, 8);
    PutLe(header, 0, 4);  // no table of other sizes
  }
  header.insert(header.end(), fmt.begin(), fmt.end());
  header.insert(header.end(), metadata.begin(), metadata.end());
  PutId(header, "data");
  PutLe(header, rf64 ? 0xFFFFFFFF : dataBytes, 4);
  return header;
}

}  // namespace

std::unique_ptr<Folder> Folder::Open(FileApi& files, const std::string& path, Error& error) {
  int why = 0;
  const int fd = files.OpenFolder(path, why);
  if (fd < 0) {
    error = {ErrorCode::UnableToCreate, ReasonOf(why)};
    return nullptr;
  }
  return std::unique_ptr<Folder>(new Folder(files, fd));
}

Folder::~Folder() {
  files_.Close(fd_);
}

std::unique_ptr<MmioFile> CreatePart(Folder& folder, const std::string& name, const KeptFiles* keep,
                                     Error& error) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    error = {ErrorCode::UnableToCreate, "not a file name"};
    return nullptr;
  }
  if (keep) {
    const FileId existing = folder.Inspect(name).id;
    for (const auto& [id, reason] : *keep) {
      if (existing.Known() && existing == id) {
        error = {ErrorCode::UnableToCreate, reason};
        return nullptr;
      }
    }
  }
  int why = 0;
  std::unique_ptr<MmioFile> out = MmioFile::Create(folder.Files(), folder.Descriptor(), name, why);
  if (!out) error = {ErrorCode::UnableToCreate, ReasonOf(why)};
  return out;
}

Error WritePart(WaveSource& source, std::int64_t startFrame, std::int64_t endFrame, Folder& folder,
                const std::string& name, const WriteOptions& options, FileId* written) {
  Error error;
  std::unique_ptr<MmioFile> out = CreatePart(folder, name, options.keep, error);
  if (!out) return error;

  const SourceInfo& info = source.Info();
  const bool mix = options.mono && info.channels > 1;
  const std::int64_t frames = std::max<std::int64_t>(endFrame - startFrame, 0);
  const std::int64_t dataBytes = frames * (mix ? BytesOf(info.sampleType) : info.FrameBytes());
  Bytes metadata;
  if (options.keepMetadata && !MetadataOf(source, startFrame, metadata))
    return {ErrorCode::UnableToWrite};
  const Bytes header =
      Header(FormatOf(source, mix), metadata, static_cast<std::uint64_t>(dataBytes),
             static_cast<std::uint64_t>(frames), options.riffLimit);
  if (out->Write(header.data(), static_cast<std::int64_t>(header.size())) !=
      static_cast<std::int64_t>(header.size())) {
    return {ErrorCode::UnableToWrite};
  }

  Copy copy = Copy::Unsupported;
  if (!mix) {
    copy = KernelCopy(source.File(), source.DataOffset() + startFrame * info.FrameBytes(),
                      dataBytes, *out, options);
  }
  if (copy == Copy::Unsupported)
    copy = BlockCopy(source, startFrame, startFrame + frames, mix, *out, options);
  if (copy == Copy::Stopped) return {ErrorCode::Stopped};
  const std::uint8_t pad = 0;
  if (copy != Copy::Done || ((dataBytes & 1) && out->Write(&pad, 1) != 1))
    return {ErrorCode::UnableToWrite};
  const FileId id = out->Id();
  if (!out->Publish()) return {ErrorCode::UnableToWrite};
  if (written) *written = id;
  return {};
}

}  // namespace corvella::wave
