// Opening and checking a WAV recording, and reading its samples.
#pragma once

#include <memory>
#include <string>

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

class WaveSource final : public Source {
 public:
  const WaveFormat& Format() const { return format_; }
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
