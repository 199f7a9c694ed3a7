// Opening and checking a WAV recording, and reading its samples.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "wave/Error.h"
#include "wave/FileApi.h"
#include "wave/Format.h"
#include "wave/Mmio.h"
#include "wave/Source.h"

namespace corvella::wave {

// Which recordings a reader takes.
enum class Acceptance {
  // The window's format only: 16-bit PCM, mono or stereo, in a plain RIFF
  // file; anything else is refused with the window's message, in the order
  // its checks run.
  WindowFormat,
  // Every WAV a recorder writes; files in the window's format are read
  // exactly as the window reads them.
  AnyWave,
};

// A chunk of the source a part may carry along: its identifier and where its
// body lies.
struct ChunkPlace {
  std::uint32_t id = 0;
  std::int64_t offset = 0;
  std::int64_t size = 0;
};

class WaveSource final : public Source {
 public:
  const WaveFormat& Format() const { return format_; }
  // Whether the file is an RF64 or BW64 one, whose sizes its ds64 chunk holds.
  bool Rf64() const { return rf64_; }
  // Where the broadcast (bext), iXML and LIST-INFO chunks lie, in file order.
  const std::vector<ChunkPlace>& Metadata() const { return metadata_; }
  // The file offset of the first frame, and the data chunk's length.
  std::int64_t DataOffset() const { return dataOffset_; }
  std::int64_t DataBytes() const { return dataBytes_; }
  MmioFile& File() { return *file_; }
  FileId Id() { return file_->Id(); }

  std::int64_t ReadSamples(std::int64_t offset, void* out, std::int64_t count) override;
  void WillNeed(std::int64_t offset, std::int64_t count) override;

 private:
  friend struct WaveOpener;
  std::unique_ptr<MmioFile> file_;
  WaveFormat format_;
  std::int64_t dataOffset_ = 0;
  std::int64_t dataBytes_ = 0;
  bool rf64_ = false;
  std::vector<ChunkPlace> metadata_;
};

struct OpenedWave {
  std::unique_ptr<WaveSource> source;  // null when refused
  Error error;                         // why, when refused
};

// Opens the recording at `path` (a full path, or one relative to the
// process's folder, which nothing here changes) and checks it. The source is
// held with exclusive access until it is destroyed.
OpenedWave OpenWave(FileApi& files, const std::string& path, Acceptance acceptance);

}  // namespace corvella::wave
