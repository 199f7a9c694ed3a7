// Opening and validating a source recording.
#include <new>

#include "engine/Engine.h"
#include "wave/ByteOrder.h"

namespace corvella {

bool Engine::Refuse(const char* message) {
  CloseWave();
  host_.ShowMessage(message, msg::kErrorCaption);
  return false;
}

bool Engine::OpenWave(const std::string& fileName) {
  WaveFileName = fileName;
  ReadFailed = false;
  files_.SetCurrentFolder(host_.SourceFolder());

  WaveHandle = MmioFile::OpenRead(files_, WaveFileName);
  if (!WaveHandle) {
    host_.ShowMessage(msg::kUnableToOpen, msg::kErrorCaption);
    return false;
  }

  RiffChunkInfo = MMCKINFO{};
  RiffChunkInfo.fccType = FourCC("WAVE");
  if (!WaveHandle->DescendRiff(RiffChunkInfo)) return Refuse(msg::kNotValidWav);

  ChunkInfo = MMCKINFO{};
  ChunkInfo.ckid = FourCC("fmt ");
  if (!WaveHandle->DescendChunk(ChunkInfo, RiffChunkInfo)) return Refuse(msg::kNoFmtChunk);

  FormatSize = ChunkInfo.cksize;
  if (FormatSize < 16) return Refuse(msg::kUnknownFmt);

  // A body longer than the rest of the file can never be read whole, so it
  // is refused before any memory is set aside for it.
  const std::int64_t fileLength = WaveHandle->Seek(0, SeekOrigin::FromEnd);
  if (fileLength < 0 || ChunkInfo.dwDataOffset + static_cast<std::int64_t>(FormatSize) > fileLength) {
    return Refuse(msg::kFmtUnreadable);
  }
  WaveFormat.reset(new (std::nothrow) std::uint8_t[FormatSize]);
  if (!WaveFormat) return Refuse(msg::kNoMemory);

  if (WaveHandle->Seek(ChunkInfo.dwDataOffset, SeekOrigin::FromStart) != ChunkInfo.dwDataOffset ||
      WaveHandle->Read(WaveFormat.get(), FormatSize) != static_cast<std::int64_t>(FormatSize)) {
    return Refuse(msg::kFmtUnreadable);
  }
  const std::uint8_t* format = WaveFormat.get();
  if (ReadLe16(format + 14) != 16) return Refuse(msg::kNot16Bits);
  if (ReadLe16(format + 0) != 1) return Refuse(msg::kNotPcm);
  Channels = ReadLe16(format + 2);
  if (Channels != 1 && Channels != 2) return Refuse(msg::kNotMonoStereo);
  SamplesPerSec = ReadLe32(format + 4);

  WaveHandle->Ascend(ChunkInfo);

  ChunkInfo = MMCKINFO{};
  ChunkInfo.ckid = FourCC("data");
  if (!WaveHandle->DescendChunk(ChunkInfo, RiffChunkInfo)) return Refuse(msg::kNoDataChunk);

  DataOffset = ChunkInfo.dwDataOffset;
  DataSize = ChunkInfo.cksize;
  if (DataSize == 0) return Refuse(msg::kEmptyData);

  FileLength = WaveHandle->Seek(0, SeekOrigin::FromEnd);
  if (FileLength >= DataOffset + DataSize) return true;
  return Refuse(msg::kDataSizeWrong);
}

void Engine::CloseWave() {
  WaveFormat.reset();
  WaveHandle.reset();
}

}  // namespace corvella
