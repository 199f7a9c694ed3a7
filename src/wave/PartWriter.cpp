#include "wave/PartWriter.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "wave/ByteOrder.h"
#include "wave/MonoMix.h"

namespace corvella::wave {
namespace {

// Bytes copied by the kernel between two looks at the stop request.
constexpr std::int64_t kCopyStep = 8 << 20;
// Bytes read at a time where frames pass through the program.
constexpr std::int64_t kBlockBytes = 131072;

bool StopRequested(const WriteOptions& options) {
  return options.stopRequested && options.stopRequested();
}

// Copies `bytes` bytes from `offset` of the source's file into `out`, in the
// kernel where it can; false when the copy fell short or was stopped.
enum class Copy { Done, Failed, Unsupported, Stopped };
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
// mono when asked.
Copy BlockCopy(WaveSource& source, std::int64_t start, std::int64_t end, bool mix, MmioFile& out,
               const WriteOptions& options) {
  const int channels = source.Info().channels;
  const std::int64_t frameBytes = source.Info().FrameBytes();
  const std::int64_t framesPerBlock = kBlockBytes / frameBytes;
  std::vector<std::int16_t> buffer(
      static_cast<std::size_t>(std::min(kBlockBytes, (end - start) * frameBytes) + 1) / 2);
  for (std::int64_t frame = start; frame < end;) {
    if (StopRequested(options)) return Copy::Stopped;
    const std::int64_t count = std::min(end - frame, framesPerBlock);
    const std::int64_t bytes = count * frameBytes;
    // The range lies inside the data chunk, so a short read means the source
    // changed under us or the disk failed: the part would be incomplete.
    if (source.File().ReadAt(source.DataOffset() + frame * frameBytes, buffer.data(), bytes) !=
        bytes) {
      return Copy::Failed;
    }
    std::int64_t outBytes = bytes;
    if (mix && channels == 2) {
      SamplesFromLittleEndian(buffer.data(), static_cast<std::size_t>(count * 2), 2);
      MixToMono(buffer.data(), static_cast<std::size_t>(count));
      SamplesToLittleEndian(buffer.data(), static_cast<std::size_t>(count), 2);
      outBytes = count * 2;
    }
    if (out.Write(buffer.data(), outBytes) != outBytes) return Copy::Failed;
    frame += count;
  }
  return Copy::Done;
}

// The 16-byte PCM fmt body of a part.
std::vector<std::uint8_t> PcmFormat(const WaveSource& source, int outChannels) {
  const auto rate = static_cast<std::uint32_t>(source.Info().rate);
  std::vector<std::uint8_t> format(16);
  WriteLe16(format.data() + 0, kTagPcm);
  WriteLe16(format.data() + 2, static_cast<std::uint16_t>(outChannels));
  WriteLe32(format.data() + 4, rate);
  WriteLe32(format.data() + 8, rate * static_cast<std::uint32_t>(outChannels) * 2);
  WriteLe16(format.data() + 12, static_cast<std::uint16_t>(outChannels * 2));
  WriteLe16(format.data() + 14, source.Format().bits);
  return format;
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

Error WritePart(WaveSource& source, std::int64_t startFrame, std::int64_t endFrame, Folder& folder,
                const std::string& name, const WriteOptions& options, FileId* written) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    return {ErrorCode::UnableToCreate, "not a file name"};
  }
  if (options.keep) {
    const FileId existing = folder.Inspect(name).id;
    for (const auto& [id, reason] : *options.keep) {
      if (existing.Known() && existing == id) return {ErrorCode::UnableToCreate, reason};
    }
  }
  int why = 0;
  std::unique_ptr<MmioFile> out = MmioFile::Create(folder.Files(), folder.Descriptor(), name, why);
  if (!out) return {ErrorCode::UnableToCreate, ReasonOf(why)};

  const SourceInfo& info = source.Info();
  const bool mix = options.mono && info.channels == 2;
  const int outChannels = mix ? 1 : info.channels;
  const std::int64_t frames = std::max<std::int64_t>(endFrame - startFrame, 0);

  MMCKINFO riff{};
  riff.fccType = FourCC("WAVE");
  MMCKINFO fmt{};
  fmt.ckid = FourCC("fmt ");
  const std::vector<std::uint8_t> format = PcmFormat(source, outChannels);
  bool ok = out->CreateChunk(riff, true) && out->CreateChunk(fmt, false) &&
            out->Write(format.data(), 16) == 16 && out->Ascend(fmt);
  MMCKINFO data{};
  data.ckid = FourCC("data");
  data.cksize = static_cast<std::uint32_t>(frames * outChannels * 2);
  ok = ok && out->CreateChunk(data, false);
  if (!ok) return {ErrorCode::UnableToWrite};

  Copy copy = Copy::Unsupported;
  if (!mix) {
    copy = KernelCopy(source.File(), source.DataOffset() + startFrame * info.FrameBytes(),
                      frames * info.FrameBytes(), *out, options);
  }
  if (copy == Copy::Unsupported)
    copy = BlockCopy(source, startFrame, startFrame + frames, mix, *out, options);
  if (copy == Copy::Stopped) return {ErrorCode::Stopped};
  if (copy != Copy::Done || !out->Ascend(data) || !out->Ascend(riff))
    return {ErrorCode::UnableToWrite};
  const FileId id = out->Id();
  if (!out->Publish()) return {ErrorCode::UnableToWrite};
  if (written) *written = id;
  return {};
}

}  // namespace corvella::wave
