// The splitting engine: one source recording open at a time, its boundary
// scanner, the part writer and the walk over a file's parts. The window owns
// one of these; the command line and the tests run it headless.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/EngineHost.h"
#include "wave/FileApi.h"
#include "wave/Mmio.h"

namespace corvella {

inline constexpr int kSampleBufferSamples = 65536;
inline constexpr int kBlockBytes = kSampleBufferSamples * 2;  // one read of the scanner

// Messages shown in "Error" boxes, in the order the source checks run.
namespace msg {
inline constexpr char kErrorCaption[] = "Error";
inline constexpr char kUnableToOpen[] = "Unable to open file!";
inline constexpr char kNotValidWav[] = "Not a valid WAV file!";
inline constexpr char kNoFmtChunk[] = "Failed to locate fmt chunk!";
inline constexpr char kUnknownFmt[] = "Unknown fmt chunk!";
inline constexpr char kNoMemory[] = "Failed to allocate memory!";
inline constexpr char kFmtUnreadable[] = "Failed to read fmt chunk!";
inline constexpr char kNot16Bits[] = "Not 16 bits per sample!";
inline constexpr char kNotPcm[] = "Not a PCM file!";
inline constexpr char kNotMonoStereo[] = "Not a mono or stereo file!";
inline constexpr char kNoDataChunk[] = "File has no data chunk!";
inline constexpr char kEmptyData[] = "Data chunk contains no data!";
inline constexpr char kDataSizeWrong[] = "Size of data chunk is wrong!";
inline constexpr char kUnableToCreate[] = "Unable to create output file!";
inline constexpr char kUnableToWrite[] = "Unable to write output file!";
inline constexpr char kUnableToRead[] = "Unable to read file!";
}  // namespace msg

// One part as a frame range, with its largest amplitude once measured.
struct PartSpan {
  std::int64_t start = 0;
  std::int64_t end = 0;  // one past the last frame
  int peak = 0;
  bool operator==(const PartSpan&) const = default;
};

// What a source holds, as the reader found it.
struct SourceSummary {
  int channels = 0;
  std::int64_t rate = 0;
  std::int64_t frames = 0;
};

class Engine {
 public:
  explicit Engine(EngineHost& host, FileApi& files = PlatformFiles());
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Source wave reader. OpenWave expects no source to be open; on failure it
  // has shown why and holds nothing.
  bool OpenWave(const std::string& fileName);
  void CloseWave();

  // Boundary scanner. FindPartStart returns the first loud frame at or after
  // `begin`, or the frame count with endOfData set. FindPartEnd returns one
  // past the last loud frame of the part starting at `start`, and where the
  // next start search should begin. Both only ever set endOfData.
  std::int64_t FindPartStart(std::int64_t begin, bool& endOfData);
  std::int64_t FindPartEnd(std::int64_t start, std::int64_t& scanPosition, bool& endOfData);

  // Part writer: frames [startFrame, endFrame) of the open source as a new
  // WAV file at fileName. False when the file could not be created or written.
  bool WritePart(std::int64_t startFrame, std::int64_t endFrame, const std::string& fileName);

  // The walk over one source file; returns the number of parts, 0 when the
  // file is refused.
  int ProcessParts(const std::string& fileName, const std::string& destFolder, bool write);
  int CountParts(const std::string& fileName);

  // The parts of a file as the walk finds them, written nowhere. False when
  // the file was refused, could not be read to its end, or Cancel was pressed.
  bool FindParts(const std::string& fileName, std::vector<PartSpan>& parts, SourceSummary& summary);
  // Writes the given frame ranges of a file as its parts 1, 2, ... into
  // destFolder; returns how many were written.
  int WriteParts(const std::string& fileName, const std::string& destFolder,
                 const std::vector<PartSpan>& parts);
  // Fills each part's peak: its largest amplitude. False when the file cannot
  // be opened or read.
  bool MeasurePeaks(const std::string& fileName, std::vector<PartSpan>& parts);
  // The largest amplitude of every window of `seconds` of the file, in order.
  bool WindowPeaks(const std::string& fileName, double seconds, std::vector<int>& peaks,
                   SourceSummary& summary);

  // Whole frames in the data chunk.
  std::int64_t FrameCount() const;
  // The gap length G in frames for the open source's rate.
  std::int64_t GapFrames() const;

  // Source state.
  std::unique_ptr<MmioFile> WaveHandle;
  std::string WaveFileName;
  std::int64_t DataSize = 0;
  std::int64_t DataOffset = 0;
  std::int64_t FileLength = 0;  // measured when the source was opened
  bool ReadFailed = false;      // a search met bytes it could not read
  MMCKINFO RiffChunkInfo{};
  MMCKINFO ChunkInfo{};
  std::uint32_t FormatSize = 0;
  std::unique_ptr<std::uint8_t[]> WaveFormat;
  int Channels = 0;
  std::int64_t SamplesPerSec = 0;
  std::array<std::int16_t, kSampleBufferSamples> SampleBuffer{};

  // Detection parameters: an amplitude up to which a sample is silent, and
  // the gap length in units of 1/44100 second.
  int NoiseFloor = 0;
  int GapThreshold = 0;

 private:
  using PartVisitor = std::function<void(std::int64_t start, std::int64_t end, int number)>;
  // The walk: opens the file, hands each part found to `visit`, closes it.
  int Walk(const std::string& fileName, const PartVisitor& visit, bool* opened = nullptr);
  // Reads frames [start, end) of the open source block by block into
  // SampleBuffer, in host byte order, handing each block's samples to `use`
  // (which may change them in place); false when a read falls short.
  bool ReadFrames(std::int64_t start, std::int64_t end,
                  const std::function<void(std::int16_t*, std::size_t)>& use);
  bool Refuse(const char* message);
  // Copies frames [startFrame, endFrame) into `out` block by block through
  // SampleBuffer, mixed to mono when `mix`; false when a read or write fails.
  bool CopyBlocks(MmioFile& out, std::int64_t startFrame, std::int64_t endFrame, bool mix);  // closes, shows the message, returns false
  int ProgressOf(std::int64_t position) const;

  EngineHost& host_;
  FileApi& files_;
};

}  // namespace corvella
