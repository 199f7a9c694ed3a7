// Opening and checking a WAV recording (RIFF, RF64, BW64, and Sony Wave64,
// which is RIFF with GUIDs for chunk names and 64-bit sizes), and reading
// its samples.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "wave/Error.h"
#include "wave/FileApi.h"
#include "wave/Format.h"
#include "wave/Mmio.h"
#include "wave/Source.h"
#include "wave/Tags.h"

namespace corvella::wave {

// Which recordings a reader takes.
enum class Acceptance {
  // Plain 16-bit PCM only, mono or stereo, in a RIFF file; anything else is
  // refused as not 16 bits, not PCM or not mono or stereo, checked in that
  // order.
  Plain16,
  // Every WAV a recorder writes; plain 16-bit files are read exactly as
  // when only they are taken.
  AnyWave,
};

// How the file is laid out: the chunks' names and sizes.
enum class Layout {
  Riff,    // four-character names, 32-bit sizes
  Rf64,    // RF64 or BW64: as RIFF, with the large sizes in a ds64 chunk
  Wave64,  // 16-byte GUIDs, 64-bit sizes that count the chunk's header, 8-byte alignment
};

// A chunk of the source: its name (for Wave64, the four characters its GUID
// begins with) and where its body lies.
struct ChunkPlace {
  std::uint32_t id = 0;
  std::int64_t offset = 0;
  std::int64_t size = 0;
  bool afterData = false;  // it follows the data chunk
};

struct WaveOpenOptions {
  Acceptance acceptance = Acceptance::AnyWave;
  // Read a recording whose data run past the end of the file (what a
  // recorder that lost power leaves) up to its last whole frame, instead of
  // refusing it.
  bool salvage = false;
};

class WaveSource final : public Source {
 public:
  const WaveFormat& Format() const { return format_; }
  wave::Layout Layout() const { return layout_; }
  // Every chunk of the file but the data chunk, in file order: the
  // outermost header and ds64 not included.
  const std::vector<ChunkPlace>& Chunks() const { return chunks_; }
  // The chunks a WAV part carries with --keep-metadata: broadcast (bext),
  // iXML and LIST-INFO, in file order.
  const std::vector<ChunkPlace>& Metadata() const { return metadata_; }
  // Chunks that are not carried into parts, each with why: too many, or
  // too large.
  const std::vector<std::string>& LeftOut() const { return leftOut_; }
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
  wave::Layout layout_ = wave::Layout::Riff;
  std::vector<ChunkPlace> chunks_;
  std::vector<ChunkPlace> metadata_;
  std::vector<std::string> leftOut_;
};

struct OpenedWave {
  std::unique_ptr<WaveSource> source;  // null when refused
  Error error;                         // why, when refused
};

// Opens the recording at `path` (a full path, or one relative to the
// process's folder, which nothing here changes) and checks it. The source is
// held with exclusive access until it is destroyed.
OpenedWave OpenWave(FileApi& files, const std::string& path, const WaveOpenOptions& options);
inline OpenedWave OpenWave(FileApi& files, const std::string& path, Acceptance acceptance) {
  return OpenWave(files, path, WaveOpenOptions{acceptance, false});
}

// Whether `head` (the first 40 bytes of a file, or as many as it has) begins
// a RIFF, RF64, BW64 or Wave64 WAVE file.
bool LooksLikeWave(const std::uint8_t* head, std::size_t size);

// The tags of the file's LIST-INFO chunk (IART, IPRD, ICRD, IGNR, ICMT), as
// it holds them: in whatever character set its writer used.
Tags TagsOfWave(WaveSource& source);

// Wave64's chunk names: a GUID that begins with four characters.
inline constexpr std::uint8_t kW64Riff[16] = {'r',  'i',  'f',  'f',  0x2E, 0x91, 0xCF, 0x11,
                                              0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
inline constexpr std::uint8_t kW64List[16] = {'l',  'i',  's',  't',  0x2F, 0x91, 0xCF, 0x11,
                                              0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
// The tail of every other name: 'wave', 'fmt ', 'data', 'bext', ...
inline constexpr std::uint8_t kW64Tail[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1,
                                              0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};

}  // namespace corvella::wave
