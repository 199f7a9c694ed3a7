// Writing a range of frames of an open WAV source as a new WAV file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "wave/Error.h"
#include "wave/FileApi.h"
#include "wave/Mmio.h"
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

// Files no part may replace, each with the reason given when one would.
using KeptFiles = std::vector<std::pair<FileId, std::string>>;

struct WriteOptions {
  // Mix the frames down to one channel.
  bool mono = false;
  // Carry the source's bext, iXML and LIST-INFO chunks into the part, with
  // bext's time reference moved on to the part's first frame.
  bool keepMetadata = false;
  // A part whose RIFF size would pass this is written as RF64; only tests
  // lower it.
  std::uint64_t riffLimit = 0xFFFFFFFF;
  const KeptFiles* keep = nullptr;
  // Asked between blocks of the copy: true abandons the part.
  std::function<bool()> stopRequested;
};

// Starts the part file `name` in `folder`, to take its name only when
// published: null with UnableToCreate when the name is not a plain file
// name, names a file that must be kept, or cannot be created.
std::unique_ptr<MmioFile> CreatePart(Folder& folder, const std::string& name, const KeptFiles* keep,
                                     Error& error);

// Writes frames [startFrame, endFrame) of `source` as the file `name` in
// `folder`. The file appears under its name only once it is complete; an
// existing file of that name is replaced then, and kept on any failure.
// A part of a recording in the window's format has the window's 44-byte
// header; any other repeats the source's fmt chunk (patched for one channel
// when mixed), and is an RF64 file (RF64, WAVE, ds64, fmt, data) when it
// would not fit the 32-bit sizes of RIFF.
// Returns UnableToCreate, UnableToWrite or Stopped on failure; on success
// `written`, when given, receives the new file's identity.
Error WritePart(WaveSource& source, std::int64_t startFrame, std::int64_t endFrame, Folder& folder,
                const std::string& name, const WriteOptions& options, FileId* written = nullptr);

}  // namespace corvella::wave
