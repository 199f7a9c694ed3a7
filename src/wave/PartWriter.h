// Writing a range of frames of an open WAV source as a new WAV file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "wave/Error.h"
#include "wave/FileApi.h"
#include "wave/Mmio.h"
#include "wave/Tags.h"
#include "wave/WaveSource.h"

namespace corvella::wave {

// A folder that part files are created in, opened once: every part lands
// where the kernel resolved the folder when it was opened.
class Folder {
 public:
  // Null when the folder cannot be opened; `error` then says why.
  static std::unique_ptr<Folder> Open(FileApi& files, const std::string& path, Error& error);
  ~Folder();
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  FileApi& Files() { return files_; }
  int Descriptor() const { return fd_; }
  PathInfo Inspect(const std::string& name) { return files_.Inspect(fd_, name); }

 private:
  Folder(FileApi& files, int fd) : files_(files), fd_(fd) {}
  FileApi& files_;
  int fd_;
};

// Files no part may replace, each with the reason given when one would:
// the run's sources, and each part once written. Shared by the writers of a
// run, which may work on several threads.
class KeptFiles {
 public:
  KeptFiles() = default;
  KeptFiles(const KeptFiles&) = delete;
  KeptFiles& operator=(const KeptFiles&) = delete;

  void Add(const FileId& id, const std::string& reason);
  void Clear();
  // Why the file `name` in `folder` must be kept, or "" when it need not.
  std::string ReasonFor(Folder& folder, const std::string& name) const;
  // Gives `out` its name, unless the name holds by now a file that must be
  // kept; the new file is kept from then on as "written earlier in this
  // run". One part at a time is named, so two writers cannot both take a
  // name. False with `error` set when the part was not named.
  bool Publish(MmioFile& out, Folder& folder, const std::string& name, FileId* written,
               Error& error);
  // Asked before each part is named: waits for the part's turn, so that
  // parts take their names in order, and says false when the part must
  // not be named at all (Stopped). None: parts are named as they finish.
  void NameInTurn(std::function<bool()> turn) { turn_ = std::move(turn); }

 private:
  std::string ReasonForLocked(Folder& folder, const std::string& name) const;
  mutable std::mutex mutex_;
  std::vector<std::pair<FileId, std::string>> files_;
  std::function<bool()> turn_;
};

// UnableToWrite, with the system's reason where the file knows it.
Error WriteFailure(const MmioFile& out);
// Gives a finished part its name, through `keep` when there is one.
Error PublishPart(MmioFile& out, Folder& folder, const std::string& name, KeptFiles* keep,
                  FileId* written);

struct WriteOptions {
  // Mix the frames down to one channel.
  bool mono = false;
  // Carry the source's bext, iXML and LIST-INFO chunks into the part, with
  // bext's time reference moved on to the part's first frame.
  bool keepMetadata = false;
  // A track's names, carried in a LIST-INFO chunk (INAM, IPRT, IART, IPRD,
  // ICRD) instead of the source's.
  std::optional<TrackTags> track;
  // Write a Wave64 recording's parts as RIFF (or RF64) WAV files.
  bool wave = false;
  // A part whose RIFF size would pass this is written as RF64; only tests
  // lower it.
  std::uint64_t riffLimit = 0xFFFFFFFF;
  KeptFiles* keep = nullptr;
  // Asked between blocks of the copy: true abandons the part.
  std::function<bool()> stopRequested;
};

// Starts the part file `name` in `folder`, to take its name only when
// published: null with UnableToCreate when the name is not a plain file
// name, names a file that must be kept, or cannot be created.
std::unique_ptr<MmioFile> CreatePart(Folder& folder, const std::string& name, const KeptFiles* keep,
                                     Error& error);

// The fmt body of a part: the classic 16 bytes for a plain 16-bit source, else
// the source's as stored, with the fields of one channel when mixed.
std::vector<std::uint8_t> PartFormatBody(const WaveSource& source, bool mix);

// The body of a chunk of `source` as a part of `frames` frames beginning at
// `startFrame` carries it: a broadcast chunk's time reference moved on to
// that frame (refused where it would pass the largest one), a cue chunk's
// points moved by it (those outside the part left out), and a LIST-INFO
// with a track's names where it has them, the source's other fields kept.
Error ChunkBody(WaveSource& source, const ChunkPlace& place, std::int64_t startFrame,
                std::int64_t frames, const std::optional<TrackTags>& track,
                std::vector<std::uint8_t>& body);

// Writes frames [startFrame, endFrame) of `source` as the file `name` in
// `folder`. The file appears under its name only once it is complete; an
// existing file of that name is replaced then, and kept on any failure.
// A part of a plain 16-bit recording has the classic 44-byte
// header; any other repeats the source's fmt chunk (patched for one channel
// when mixed), and is an RF64 file (RF64, WAVE, ds64, fmt, data) when it
// would not fit the 32-bit sizes of RIFF. A part of a Wave64 recording is a
// Wave64 file, unless `wave` asks for RIFF.
// Returns UnableToCreate, UnableToWrite or Stopped on failure; on success
// `written`, when given, receives the new file's identity.
Error WritePart(WaveSource& source, std::int64_t startFrame, std::int64_t endFrame, Folder& folder,
                const std::string& name, const WriteOptions& options, FileId* written = nullptr);

// Everything before the samples of a part of `frames` frames from
// `startFrame`, as WritePart writes it.
Error PartHeader(WaveSource& source, std::int64_t startFrame, std::int64_t frames,
                 const WriteOptions& options, std::vector<std::uint8_t>& header);

// A part written as its frames arrive, for a recording still coming in:
// the frames are appended to a hidden file, and the header is filled in and
// the file named once the part's end is known. The file is the one
// WritePart would write of the same frames. `shape` is a source that
// describes the recording (its header), not one that is read.
class GrowingPart {
 public:
  // Null with the reason when the file cannot be started. `name` is checked
  // as WritePart checks it; Finish may give another.
  static std::unique_ptr<GrowingPart> Start(WaveSource& shape, std::int64_t startFrame,
                                            Folder& folder, const std::string& name,
                                            const WriteOptions& options, Error& error);
  // Appends `count` frames as the recording stores them; false when the
  // write failed (Finish then says why).
  bool Append(const std::uint8_t* frames, std::int64_t count);
  std::int64_t Frames() const { return frames_; }
  // Fills the header in and names the file `name`.
  Error Finish(const std::string& name, FileId* written = nullptr);

 private:
  GrowingPart(WaveSource& shape, std::int64_t startFrame, Folder& folder,
              const WriteOptions& options)
      : shape_(shape), startFrame_(startFrame), folder_(folder), options_(options) {}
  bool MoveData(std::int64_t from, std::int64_t by);

  WaveSource& shape_;
  std::int64_t startFrame_;
  Folder& folder_;
  WriteOptions options_;
  std::unique_ptr<MmioFile> out_;
  std::vector<std::uint8_t> header_;  // as first written
  std::vector<std::uint8_t> mixed_;
  std::int64_t frames_ = 0;
  std::int64_t dataBytes_ = 0;
};

}  // namespace corvella::wave
