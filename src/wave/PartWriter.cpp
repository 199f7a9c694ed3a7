// Writing a range of frames of the open source as a new WAV file.
#include <algorithm>

#include "engine/Engine.h"
#include "wave/ByteOrder.h"
#include "wave/MonoMix.h"

namespace corvella {

bool Engine::CopyBlocks(MmioFile& out, std::int64_t startFrame, std::int64_t endFrame,
                        bool mix) {
  bool written = true;
  // The range lies inside the data chunk, so a short read means the source
  // changed under us or the disk failed: the part would be incomplete.
  const bool read = ReadFrames(startFrame, endFrame, [&](std::int16_t* samples, std::size_t count) {
    if (!written) return;
    if (Channels == 2 && mix) {
      count /= 2;
      MixToMono(samples, count);
    }
    SamplesToLittleEndian(samples, count);
    const auto bytes = static_cast<std::int64_t>(count * 2);
    written = out.Write(samples, bytes) == bytes;
  });
  return read && written;
}

bool Engine::WritePart(std::int64_t startFrame, std::int64_t endFrame,
                       const std::string& fileName) {
  host_.PartStarting(fileName);
  files_.SetCurrentFolder(host_.DestFolder());
  std::unique_ptr<MmioFile> out = MmioFile::Create(files_, fileName);
  if (!out) {
    host_.ShowMessage(msg::kUnableToCreate, msg::kErrorCaption);
    host_.PartWritten(fileName, false);
    return false;
  }

  // One reading of Mono serves the whole part, so its header and its samples agree.
  const bool mix = host_.MonoChecked();
  const int outChannels = mix ? 1 : Channels;

  MMCKINFO riff{};
  riff.fccType = FourCC("WAVE");
  MMCKINFO fmt{};
  fmt.ckid = FourCC("fmt ");
  bool ok = out->CreateChunk(riff, true) && out->CreateChunk(fmt, false);

  std::uint8_t format[16];
  WriteLe16(format + 0, 1);
  WriteLe16(format + 2, static_cast<std::uint16_t>(outChannels));
  WriteLe32(format + 4, static_cast<std::uint32_t>(SamplesPerSec));
  WriteLe32(format + 8, static_cast<std::uint32_t>(SamplesPerSec * outChannels * 2));
  WriteLe16(format + 12, static_cast<std::uint16_t>(outChannels * 2));
  WriteLe16(format + 14, ReadLe16(WaveFormat.get() + 14));
  ok = ok && out->Write(format, 16) == 16 && out->Ascend(fmt);

  MMCKINFO data{};
  data.ckid = FourCC("data");
  const std::int64_t frameCount = std::max<std::int64_t>(endFrame - startFrame, 0);
  data.cksize = static_cast<std::uint32_t>(frameCount * outChannels * 2);
  ok = ok && out->CreateChunk(data, false);

  if (ok && frameCount > 0) {
    // Whole channels need not pass through the program: the kernel copies them.
    std::int64_t copied = FileApi::kCopyUnsupported;
    const std::int64_t bytes = frameCount * Channels * 2;
    if (!(Channels == 2 && mix)) {
      copied = out->CopyFrom(*WaveHandle, DataOffset + startFrame * Channels * 2, bytes);
    }
    ok = copied == FileApi::kCopyUnsupported ? CopyBlocks(*out, startFrame, endFrame, mix)
                                             : copied == bytes;
  }
  ok = ok && out->Ascend(data) && out->Ascend(riff) && out->Publish();
  if (!ok) {
    out.reset();  // removes the unfinished file; an older file of that name stays
    host_.ShowMessage(msg::kUnableToWrite, msg::kErrorCaption);
  }
  host_.PartWritten(fileName, ok);
  return ok;
}

}  // namespace corvella
