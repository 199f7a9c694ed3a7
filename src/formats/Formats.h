// Every recording behind one door. What a file is comes from its first
// bytes, whatever its name: RIFF, RF64, BW64 and Wave64 WAVE files go to
// Corvella's own reader, FLAC to libFLAC, AIFF, CAF, Ogg and MP3 to
// libsndfile. And how each part of a recording is written: the source's own
// format, or FLAC or WAV when asked.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "wave/Error.h"
#include "wave/FileApi.h"
#include "wave/PartWriter.h"
#include "wave/Source.h"
#include "wave/Tags.h"

namespace corvella::formats {

struct OpenOptions {
  // Read a recording cut off before its header's end up to its last whole
  // frame, saying how much was there, instead of refusing it.
  bool salvage = false;
};

struct OpenedSource {
  std::unique_ptr<wave::Source> source;  // null when refused
  wave::Error error;                     // why
};

// Opens the recording at `path` as given (nothing moves the process's
// folder), held with exclusive access while open. A file that is no
// recording at all but is named as a WAV file is refused in the WAV reader's
// words, as the window refuses it.
OpenedSource OpenSource(wave::FileApi& files, const std::string& path,
                        const OpenOptions& options = {});

// What the parts of one recording become.
enum class PartTarget { Source, Flac, Wave, Mp3, Opus };

struct PartSettings {
  PartTarget target = PartTarget::Source;
  bool mono = false;
  // Carry the source's metadata: bext, iXML and LIST-INFO into WAV parts;
  // every RIFF chunk into FLAC parts, as flac --keep-foreign-metadata keeps
  // them.
  bool keepMetadata = false;
  // MP3 and Opus: a variable bitrate of this quality (0 best to 9), or a
  // constant bitrate in kbit/s; the encoder's default where neither.
  std::optional<int> quality;
  int bitrate = 0;
};

// How the parts of one open recording are written, settled once.
class PartPlan {
 public:
  // Why its parts cannot be written as asked, or nothing. `notes` receives
  // what will not be carried into them.
  static wave::Error Make(wave::Source& source, const PartSettings& settings, PartPlan& plan,
                          std::vector<std::string>& notes);

  // The parts' extension where it is not the source's: ".flac", ".wav".
  const std::string& Extension() const { return extension_; }
  // Whether the parts are encoded (FLAC, or through libsndfile), so that
  // several are best written at once, one per core.
  bool Encoded() const { return writer_ != Writer::Copy && writer_ != Writer::Mpeg; }
  // Whether every part is tagged with the count of all: it must be known
  // before the first is written.
  bool Tagged() const {
    return writer_ == Writer::Flac || writer_ == Writer::Mpeg || LossyTarget();
  }
  // Encoded as MP3 or Opus, by libsndfile's encoders.
  bool LossyTarget() const {
    return settings_.target == PartTarget::Mp3 || settings_.target == PartTarget::Opus;
  }
  // The extension the parts are written with: the plan's, or that of the
  // source's file name (without its folder).
  std::string ExtensionFor(const std::string& fileName) const;

  struct Part {
    std::int64_t start = 0, end = 0;  // frames [start, end)
    std::string name;                 // in the destination folder
    int number = 0;                   // counting from 1
    int count = 0;                    // of all parts, where Tagged()
    // The names a track list gives it: its title and tags instead of the
    // ones from its file name and the source.
    std::optional<wave::TrackTags> track;
  };
  // Writes one part. `reader` is the source to read from (a fork of it on
  // another thread); `stop` is asked between blocks.
  wave::Error Write(wave::Source& reader, const Part& part, wave::Folder& folder,
                    wave::KeptFiles* keep, const std::function<bool()>& stop,
                    wave::FileId* written = nullptr) const;

 private:
  enum class Writer { Copy, Flac, Sndfile, DecodedWave, Mpeg };
  Writer writer_ = Writer::Copy;
  PartSettings settings_;
  int sndFormat_ = 0;
  std::string extension_;
  wave::Tags tags_;  // UTF-8
  std::uint32_t channelMask_ = 0;
  bool riffMetadata_ = false;  // FLAC parts carry the WAV source's chunks
  wave::Source* source_ = nullptr;
};

}  // namespace corvella::formats
